#pragma once
// Another program started beside this one, without a shell.
#include <string>
#include <vector>

#include "model/platform/Platform.h"

namespace halyard::platform {

// A started program whose standard output and error come through one pipe, and whose
// standard input is the null device. Failures raise SystemError.
class Process {
public:
    // Starts program (a path) with the arguments after its name, each passed as it is.
    Process(const std::string& program, const std::vector<std::string>& arguments);
    // Lets go of the handles; the program is not stopped.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    enum class Output { Data, Timeout, End };
    // Appends what output there is to text, waiting at most timeoutMs for some. End
    // once the program has closed its output; Timeout also when a signal came.
    Output readOutput(std::string& text, int timeoutMs);

    struct Exit {
        bool signalled = false; // ended by a signal (on Windows, stopped or crashed), whose number is code
        int code = 0;
    };
    // Asks the program to stop (SIGTERM); Windows has no such request and ends it.
    void requestStop();
    // Ends it at once (SIGKILL).
    void kill();
    // True, and exit set, when the program has ended; waits for it when wait is true.
    bool ended(Exit& exit, bool wait);

private:
    NativeHandle process_ = NoHandle; // on POSIX the process id
    NativeHandle output_ = NoHandle;
    bool stopped_ = false;            // ended by requestStop or kill
};

// The path of the program name found in a folder of PATH (on Windows also with the
// extension .exe or .com); "" when there is none. A name that holds a folder
// separator is taken as a path of its own.
std::string FindProgram(const std::string& name);

// The exit status of a command that std::system ran: the program's exit code, or -1
// when it did not end by exiting.
int SystemExitStatus(int result);

} // namespace halyard::platform
