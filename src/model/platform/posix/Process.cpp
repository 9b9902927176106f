#include "model/platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model/platform/SystemError.h"

extern char** environ;

namespace halyard::platform {

namespace {
bool isExecutableFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

Process::Exit exitOf(int status) {
    return WIFSIGNALED(status) ? Process::Exit{true, WTERMSIG(status)} : Process::Exit{false, WEXITSTATUS(status)};
}
} // namespace

Process::Process(const std::string& program, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw SystemError(errno);
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
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (err != 0) {
        ::close(pipeEnds[0]);
        throw SystemError(err);
    }
    process_ = pid;
    output_ = pipeEnds[0];
}

Process::~Process() {
    if (output_ >= 0)
        ::close(output_);
}

Process::Output Process::readOutput(std::string& text, int timeoutMs) {
    if (output_ < 0)
        return Output::End;
    pollfd wanted{output_, POLLIN, 0};
    const int ready = ::poll(&wanted, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0)
        return Output::Timeout; // a signal (Ctrl-C) is for the caller to look at
    char buffer[4096];
    const ssize_t count = ::read(output_, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR)
        return Output::Timeout;
    if (count <= 0) {
        ::close(output_);
        output_ = -1;
        return Output::End;
    }
    text.append(buffer, size_t(count));
    return Output::Data;
}

void Process::requestStop() {
    ::kill(process_, SIGTERM);
}

void Process::kill() {
    ::kill(process_, SIGKILL);
}

bool Process::ended(Exit& exit, bool wait) {
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(process_, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done != process_)
        return false;
    exit = exitOf(status);
    return true;
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

int SystemExitStatus(int result) {
    if (result == -1)
        return -1;
    return WIFEXITED(result) ? WEXITSTATUS(result) : -1;
}

} // namespace halyard::platform
