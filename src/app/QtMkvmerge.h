#pragma once
// mkvmerge run by the window, with QProcess: an argument list, never a shell.
#include <memory>
#include <string>
#include <vector>

#include "handoff/MkvTrip.h"

namespace halyard {

std::unique_ptr<MkvmergeProcess> StartMkvmergeWithQProcess(const std::string& program,
                                                           const std::vector<std::string>& arguments);

} // namespace halyard
