// Another program started without a shell: its arguments arrive as they are, its
// output comes as lines, its exit and its end by a request to stop are told apart.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "model/ChildProcess.h"
#include "model/Error.h"
#include "model/platform/Console.h"
#include "model/platform/Platform.h"

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
    const std::string helper = FindProgram(HALYARD_TEST_CHILD_PATH);
    ASSERT_FALSE(helper.empty());
    // Quotes, blanks, what a shell or cmd would expand, backslashes before a quote and
    // at the end (which Windows quoting must double), and letters beyond ASCII: no shell
    // sees them. POSIX passes bytes that are not UTF-8 too; Windows passes UTF-16 text.
    std::string odd = "a 'b' \"c\" $HOME %PATH% \\\"d\\ \\\\\" \xC3\xA4\xE2\x82\xAC\\";
    if (!platform::IsWindows)
        odd += "\xff\xfe";
    ChildProcess child(helper, {"lines", odd, "", "last"});
    EXPECT_EQ(AllLines(child), (std::vector<std::string>{odd, "", "last"}));
    const ChildProcess::Exit exit = child.wait();
    EXPECT_FALSE(exit.signalled);
    EXPECT_EQ(exit.code, 0);

    ChildProcess failing(helper, {"fail", "oops", "2"});
    EXPECT_EQ(AllLines(failing), std::vector<std::string>{"oops"}); // stderr comes with stdout
    EXPECT_EQ(failing.wait().code, 2);

    EXPECT_EQ(FindProgram("no-such-program-here"), "");
    EXPECT_THROW(ChildProcess("/no/such/program", {}), Error);
}

TEST(ChildProcess, TerminateEndsAChildThatRunsOn) {
    ChildProcess child(HALYARD_TEST_CHILD_PATH, {"sleep", "30"});
    std::string line;
    EXPECT_EQ(child.readLine(line, 10), ChildProcess::Read::Timeout);
    const auto start = std::chrono::steady_clock::now();
    child.terminate();
    const ChildProcess::Exit exit = child.wait();
    EXPECT_TRUE(exit.signalled);
    EXPECT_EQ(exit.code, SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A program is found by its path, on Windows also without its extension, and through
// the folders of PATH by its name alone; the environment is read as UTF-8.
TEST(ChildProcess, ProgramsAreFoundByPathOrByNameInPath) {
    const std::string helper = HALYARD_TEST_CHILD_PATH;
    EXPECT_FALSE(FindProgram(helper).empty());
    if (platform::IsWindows) {
        const std::string bare = helper.substr(0, helper.size() - 4); // without ".exe"
        EXPECT_FALSE(FindProgram(bare).empty());
        ChildProcess child(FindProgram(bare), {"fail", "found", "3"});
        std::string line;
        EXPECT_EQ(child.readLine(line, 10000), ChildProcess::Read::Line);
        EXPECT_EQ(line, "found");
        EXPECT_EQ(child.wait().code, 3);
    }
    EXPECT_EQ(FindProgram("halyard-no-such-program"), "");
    EXPECT_EQ(FindProgram(helper + "-missing"), "");
    EXPECT_EQ(FindProgram(""), "");
    const std::optional<std::string> path = platform::EnvironmentVariable("PATH");
    ASSERT_TRUE(path);
    EXPECT_FALSE(path->empty());
    EXPECT_FALSE(platform::EnvironmentVariable("HALYARD_NO_SUCH_VARIABLE"));
}

} // namespace
} // namespace halyard::test
