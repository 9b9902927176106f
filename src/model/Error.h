#pragma once
#include <stdexcept>
#include <string>

namespace halyard {

// A failure of a file, stream or conversion operation. The text is shown to the user
// as it stands (message box in the window, stderr in the command line).
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace halyard
