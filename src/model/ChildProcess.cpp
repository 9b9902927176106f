#include "model/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "model/Error.h"

extern char** environ;

namespace halyard {

namespace {
[[noreturn]] void cannotStart(const std::string& program, int err) {
    throw Error("Cannot start \"" + program + "\". " + std::strerror(err));
}

bool isExecutableFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}
} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        cannotStart(program, errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    // The child starts with the signals a shell would give it: Ctrl-C reaches it too,
    // and this program decides what to do about that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int err = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (err != 0) {
        ::close(pipeEnds[0]);
        pid_ = -1;
        cannotStart(program, err);
    }
    output_ = pipeEnds[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) {
        terminate();
        wait();
    }
    if (output_ >= 0)
        ::close(output_);
}

ChildProcess::Read ChildProcess::readLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t lineEnd = pending_.find('\n');
        if (lineEnd != std::string::npos) {
            line.assign(pending_, 0, lineEnd);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending_.erase(0, lineEnd + 1);
            return Read::Line;
        }
        if (output_ < 0) {
            if (pending_.empty())
                return Read::End;
            line = std::move(pending_); // a last line without a line break
            pending_.clear();
            return Read::Line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wanted{output_, POLLIN, 0};
        const int ready = ::poll(&wanted, 1, int(std::max<int64_t>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            return Read::Timeout; // a signal (Ctrl-C) is for the caller to look at
        if (ready == 0)
            return Read::Timeout;
        char buffer[4096];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            return Read::Timeout;
        if (count <= 0) {
            ::close(output_);
            output_ = -1;
        } else {
            pending_.append(buffer, size_t(count));
        }
    }
}

void ChildProcess::terminate() {
    if (pid_ <= 0 || ended_)
        return;
    ::kill(pid_, SIGTERM);
    for (int waited = 0; waited < 100; ++waited) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            ended_ = true;
            exit_ = WIFSIGNALED(status) ? Exit{true, WTERMSIG(status)} : Exit{false, WEXITSTATUS(status)};
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
}

ChildProcess::Exit ChildProcess::wait() {
    if (pid_ <= 0 || ended_)
        return exit_;
    std::string line;
    while (readLine(line, 1000) != Read::End) {
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ended_ = true;
    exit_ = WIFSIGNALED(status) ? Exit{true, WTERMSIG(status)} : Exit{false, WEXITSTATUS(status)};
    return exit_;
}

std::string FindProgram(const std::string& name) {
    if (name.empty())
        return "";
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : "";
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t from = 0; from <= folders.size();) {
        const size_t colon = std::min(folders.find(':', from), folders.size());
        std::string candidate(colon > from ? std::string_view(folders).substr(from, colon - from) : ".");
        candidate.append("/").append(name);
        if (isExecutableFile(candidate))
            return candidate;
        from = colon + 1;
    }
    return "";
}

} // namespace halyard
