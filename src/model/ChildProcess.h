#pragma once
// Another program run beside this one (mkvmerge), started without a shell: its
// arguments pass as they are, byte for byte, whatever characters they hold.
#include <memory>
#include <string>
#include <vector>

#include "model/platform/Process.h"

namespace halyard {

class ChildProcess {
public:
    // Starts program (a path) with the arguments after argv[0], standard input on
    // the null device, standard output and error into one pipe read by readLine.
    // Raises "Cannot start "PROGRAM". REASON" when it cannot be started.
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
    // second. Windows has no request to stop: the child is ended at once.
    void terminate();

    using Exit = platform::Process::Exit;
    // Waits for the child to end (reading and dropping what output is left).
    Exit wait();

private:
    std::unique_ptr<platform::Process> process_;
    std::string pending_; // output read past the last line break
    bool outputEnded_ = false;
    bool ended_ = false;
    Exit exit_{};
};

using platform::FindProgram;

} // namespace halyard
