#pragma once
// Another program run beside this one (mkvmerge), started without a shell: its
// arguments pass as they are, byte for byte, whatever characters they hold.
#include <string>
#include <sys/types.h>
#include <vector>

namespace halyard {

class ChildProcess {
public:
    // Starts program (a path) with the arguments after argv[0], standard input on
    // /dev/null, standard output and error into one pipe read by readLine. Raises
    // "Cannot start "PROGRAM". REASON" when it cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Stops a child that still runs (terminate) and waits for it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    enum class Read { Line, Timeout, End };
    // The next line of output (without its line break), waiting at most timeoutMs; End
    // once the child has closed its output and every line has been taken.
    Read readLine(std::string& line, int timeoutMs);

    // Asks the child to stop (SIGTERM), and ends it (SIGKILL) if it has not after a
    // second.
    void terminate();

    struct Exit {
        bool signalled = false; // killed by a signal, whose number is code
        int code = 0;
    };
    // Waits for the child to end (reading and dropping what output is left).
    Exit wait();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_; // output read past the last line break
    bool ended_ = false;
    Exit exit_{};
};

// The path of an executable file named name in a folder of PATH; "" when none is. A
// name holding a "/" is taken as a path of its own.
std::string FindProgram(const std::string& name);

} // namespace halyard
