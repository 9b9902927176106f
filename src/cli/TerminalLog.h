#pragma once
#include <string>

#include "model/MessageMarkup.h"

namespace halyard {

// A log line for a terminal: the looks as ANSI SGR sequences (bold, italic, underline,
// red and blue; sizes and other colours are not shown), each run reset after itself.
std::string RenderAnsi(const MarkedLine& line);

// A log line as bare text, for pipes and files.
std::string RenderPlain(const MarkedLine& line);

} // namespace halyard
