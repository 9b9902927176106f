// halyard-measure -- CMD ARGS...
//
// Runs CMD and prints one line to stderr:
//   halyard-measure: wall=SECONDS user=SECONDS sys=SECONDS maxrss_kib=KIB exit=STATUS
// The rusage from wait4 covers the child alone (and its own children):
// user and system CPU time, and ru_maxrss, the peak resident set in KiB.
// CPU time says more than wall time on a loaded machine.
// The command's own stdout and stderr pass through untouched.
#include <chrono>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int usage() {
    std::fprintf(stderr, "usage: halyard-measure -- CMD ARGS...\n");
    return 2;
}

constexpr int kExecFailed = 127;

double seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
    if (first >= argc) return usage();

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("halyard-measure: fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[first], argv + first);
        std::perror("halyard-measure: exec");
        _exit(kExecFailed);
    }

    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("halyard-measure: wait4");
        return 1;
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::fprintf(stderr, "halyard-measure: wall=%.6f user=%.6f sys=%.6f maxrss_kib=%ld exit=%d\n", wall.count(),
                 seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss, code);
    return code;
}
