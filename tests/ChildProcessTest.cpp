// Another program started without a shell: its arguments arrive byte for byte, its
// output comes as lines, its exit and its end by a signal are told apart.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "model/ChildProcess.h"
#include "model/Error.h"

namespace halyard::test {
namespace {

std::vector<std::string> AllLines(ChildProcess& child) {
    std::vector<std::string> lines;
    std::string line;
    for (ChildProcess::Read read; (read = child.readLine(line, 5000)) != ChildProcess::Read::End;)
        if (read == ChildProcess::Read::Line)
            lines.push_back(line);
    return lines;
}

TEST(ChildProcess, ArgumentsPassAsTheyAreAndOutputComesAsLines) {
    const std::string printf = FindProgram("printf");
    ASSERT_FALSE(printf.empty());
    // Quotes, a dollar, a line break and bytes that are not UTF-8: no shell sees them.
    const std::string odd = "a 'b' \"c\" $HOME \xff\xfe";
    ChildProcess child(printf, {"%s\\n%s\\r\\nlast", odd, "two"});
    EXPECT_EQ(AllLines(child), (std::vector<std::string>{odd, "two", "last"}));
    const ChildProcess::Exit exit = child.wait();
    EXPECT_FALSE(exit.signalled);
    EXPECT_EQ(exit.code, 0);

    ChildProcess failing(FindProgram("sh"), {"-c", "echo oops >&2; exit 2"});
    EXPECT_EQ(AllLines(failing), std::vector<std::string>{"oops"}); // stderr comes with stdout
    EXPECT_EQ(failing.wait().code, 2);

    EXPECT_EQ(FindProgram("no-such-program-here"), "");
    EXPECT_THROW(ChildProcess("/no/such/program", {}), Error);
}

TEST(ChildProcess, TerminateEndsAChildThatRunsOn) {
    ChildProcess child(FindProgram("sleep"), {"30"});
    std::string line;
    EXPECT_EQ(child.readLine(line, 10), ChildProcess::Read::Timeout);
    const auto start = std::chrono::steady_clock::now();
    child.terminate();
    const ChildProcess::Exit exit = child.wait();
    EXPECT_TRUE(exit.signalled);
    EXPECT_EQ(exit.code, SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace halyard::test
