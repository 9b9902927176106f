#pragma once
// The program's side of the console: the standard streams, Ctrl-C, the command line
// and the environment.
#include <optional>
#include <string>
#include <vector>

namespace halyard::platform {

enum class StandardStream { Output, Error };

// Readies the standard streams before anything is written to them: on Windows, bytes
// pass as they are (no "\r" put before "\n") and a console shows them as UTF-8. Front
// ends call this first thing.
void SetUpStandardStreams();

// A closed standard stream would be taken by the first file a run opens, and log lines
// or messages written into it: each closed one is held open on the null device.
// Returns false when standard output was closed.
bool HoldStandardStreams();

// A terminal (a console on Windows), where the user watches.
bool IsTerminal(StandardStream stream);
// A terminal that takes the escape sequences of colours and of erasing a line. On
// Windows that is a console that has virtual-terminal processing, which this turns on.
bool TakesTerminalSequences(StandardStream stream);

// A file-size limit (ulimit -f) sends SIGXFSZ to a write past it, which would end the
// process without a word and lose what its buffers hold. Ignored, the write fails with
// EFBIG instead, and the write error names it. Nothing to do where there is no such
// signal.
void IgnoreFileSizeSignal();

// Ctrl-C (SIGINT; on Windows also Ctrl-Break) no longer ends the program but is noted,
// for the running job to stop at its next poll. A second one ends the program at once.
void InstallInterruptHandler();
bool Interrupted();

// The command line's arguments after the program's name, as UTF-8. On Windows they
// are taken from the UTF-16 command line, so any character of a file name arrives;
// argc and argv are used elsewhere.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// An environment variable as UTF-8; nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);

} // namespace halyard::platform
