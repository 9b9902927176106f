// halyard-test-child: a program for the tests to start, the same on every system.
//   halyard-test-child lines A B C    writes A, a line feed, B, "\r\n", then C without a line break
//   halyard-test-child fail TEXT N    writes TEXT and a line feed to stderr, exits with N
//   halyard-test-child sleep S        sleeps S seconds
// Arguments come as UTF-8 from the platform's command line.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "model/platform/Console.h"

int main(int argc, char** argv) {
    namespace platform = halyard::platform;
    platform::SetUpStandardStreams();
    const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
    const std::string command = arguments.empty() ? "" : arguments[0];
    if (command == "lines" && arguments.size() == 4) {
        std::printf("%s\n%s\r\n%s", arguments[1].c_str(), arguments[2].c_str(), arguments[3].c_str());
        return 0;
    }
    if (command == "fail" && arguments.size() == 3) {
        std::fprintf(stderr, "%s\n", arguments[1].c_str());
        return std::stoi(arguments[2]);
    }
    if (command == "sleep" && arguments.size() == 2) {
        std::this_thread::sleep_for(std::chrono::seconds(std::stoi(arguments[1])));
        return 0;
    }
    std::fprintf(stderr, "halyard-test-child: lines A B C | fail TEXT N | sleep S\n");
    return 125;
}
