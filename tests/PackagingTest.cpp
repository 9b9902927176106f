// What the package puts beside halyard-cli, checked against the program itself: the
// manual page and the bash completion against "halyard-cli COMMAND --help", so that
// neither falls behind when an option comes or goes; and the version that the
// changelog and the AppStream metadata carry.
#include "EngineFixture.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace halyard::test {
namespace {

using psb::Pes;
using psb::tools::capture;
using psb::tools::shellQuote;
using psb::tools::splitLines;
using Names = std::set<std::string>;

const std::string kManualPage = HALYARD_SOURCE_DIR "/packaging/man/halyard-cli.1";
const std::string kCompletion = HALYARD_SOURCE_DIR "/packaging/bash-completion/halyard-cli";

// The commands that "halyard-cli --help" lists under "Subcommands:".
std::vector<std::string> HelpCommands() {
    std::vector<std::string> commands;
    bool listed = false;
    for (const std::string& line : splitLines(capture(shellQuote(HALYARD_CLI_PATH) + " --help"))) {
        if (line == "Subcommands:")
            listed = true;
        else if (listed && line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ')
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return commands;
}

// The options that "halyard-cli [COMMAND] --help" lists, short and long names apart:
// an option's line begins with two spaces and its names, "-h,--help" or "--show".
Names HelpOptions(const std::string& command) {
    Names options;
    const std::string help = capture(shellQuote(HALYARD_CLI_PATH) + " " + command + " --help");
    for (const std::string& line : splitLines(help)) {
        if (line.rfind("  -", 0) != 0)
            continue;
        std::istringstream names(line.substr(2, line.find(' ', 2) - 2));
        for (std::string name; std::getline(names, name, ',');)
            options.insert(name);
    }
    return options;
}

// The manual page's options, by the heading of the section or subsection they stand
// in: each ".TP" item's tag line names them, "\-\-output" for --output.
std::map<std::string, Names> ManualOptions(const std::string& page) {
    static const std::regex option(R"((?:^|[\s"])(--?[A-Za-z][A-Za-z0-9-]*))");
    std::map<std::string, Names> options;
    std::string heading;
    bool tag = false;
    for (std::string line : splitLines(page)) {
        for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at))
            line.erase(at, 1);
        if (line.rfind(".SH ", 0) == 0 || line.rfind(".SS ", 0) == 0) {
            heading = line.substr(4);
            heading.erase(std::remove(heading.begin(), heading.end(), '"'), heading.end());
            options[heading];
        } else if (line == ".TP") {
            tag = true;
        } else if (tag) {
            tag = false;
            for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it)
                options[heading].insert((*it)[1]);
        }
    }
    return options;
}

// True when a heading names the command as a word of its own ("Options of read,
// demux and rebuild" names demux).
bool HeadingNames(const std::string& heading, const std::string& command) {
    static const std::regex word(R"([A-Za-z0-9][A-Za-z0-9-]*)");
    for (std::sregex_iterator it(heading.begin(), heading.end(), word), end; it != end; ++it)
        if (it->str() == command)
            return true;
    return false;
}

// What the bash completion offers for WORDS when the word at CWORD (default: the
// last) is being completed, in FOLDER.
Names Complete(const std::vector<std::string>& words, const std::string& folder = ".", int cword = -1) {
    std::string array;
    for (const std::string& word : words)
        array += " " + shellQuote(word);
    const std::string script = "cd " + shellQuote(folder) + " && source " + shellQuote(kCompletion) +
                               " && COMP_WORDS=(" + array + ") && COMP_CWORD=" +
                               std::to_string(cword < 0 ? int(words.size()) - 1 : cword) +
                               " && _halyard_cli && printf '%s\\n' \"${COMPREPLY[@]}\"";
    Names offered;
    for (const std::string& line : splitLines(capture("bash -c " + shellQuote(script) + " 2>&1")))
        if (!line.empty())
            offered.insert(line);
    return offered;
}

TEST(ManualPage, DocumentsEveryCommandAndOptionThatTheHelpLists) {
    const std::vector<std::string> commands = HelpCommands();
    ASSERT_FALSE(commands.empty());
    const std::map<std::string, Names> manual = ManualOptions(psb::tools::readText(kManualPage));
    const Names global = HelpOptions("");
    ASSERT_TRUE(global.count("--help") && global.count("--version"));
    for (const std::string& option : global) {
        bool found = false;
        for (const auto& [heading, options] : manual)
            found = found || options.count(option);
        EXPECT_TRUE(found) << "halyard-cli " << option << " is not a .TP item of " << kManualPage;
    }
    for (const std::string& command : commands) {
        EXPECT_TRUE(manual.count(command)) << "the manual page has no subsection \".SS " << command << "\"";
        const Names help = HelpOptions(command);
        Names documented;
        for (const auto& [heading, options] : manual)
            if (HeadingNames(heading, command))
                documented.insert(options.begin(), options.end());
        for (const std::string& option : help)
            EXPECT_TRUE(global.count(option) || documented.count(option))
                << "halyard-cli " << command << " " << option << " is missing from " << kManualPage
                << ": add a .TP item for it under a heading that names " << command;
        for (const std::string& option : documented)
            EXPECT_TRUE(global.count(option) || help.count(option))
                << kManualPage << " documents " << option << " under a heading that names " << command
                << ", but \"halyard-cli " << command << " --help\" does not list it";
    }
}

TEST(Completion, OffersEveryCommandAndOptionThatTheHelpLists) {
    const std::vector<std::string> commands = HelpCommands();
    EXPECT_EQ(Complete({"halyard-cli", ""}), Names(commands.begin(), commands.end()));
    EXPECT_EQ(Complete({"halyard-cli", "-"}), HelpOptions(""));
    for (const std::string& command : commands)
        EXPECT_EQ(Complete({"halyard-cli", command, "-"}), HelpOptions(command))
            << "the options that " << kCompletion << " offers after \"halyard-cli " << command << "\"";
}

TEST(Completion, OffersSourcesPlaylistsFoldersAndValuesByKind) {
    TempDir dir;
    for (const char* name : {"A.EVO", "b.vob", "c.Aob", "d.XPL", "e.txt"})
        psb::writeFile(dir.file(name), {0});
    fs::create_directories(dir.path() / "sub");
    const std::string folder = dir.path().string();

    EXPECT_EQ(Complete({"halyard-cli", "read", ""}, folder), (Names{"A.EVO", "b.vob", "c.Aob", "sub"}));
    EXPECT_EQ(Complete({"halyard-cli", "demux", "--output", "sub", ""}, folder),
              (Names{"A.EVO", "b.vob", "c.Aob", "sub"}));
    EXPECT_EQ(Complete({"halyard-cli", "rebuild", ""}, folder), (Names{"A.EVO", "sub"}));
    EXPECT_EQ(Complete({"halyard-cli", "xpl", ""}, folder), (Names{"d.XPL", "sub"}));
    EXPECT_EQ(Complete({"halyard-cli", "xpl", "--source", ""}, folder), (Names{"A.EVO", "b.vob", "c.Aob", "sub"}));
    EXPECT_EQ(Complete({"halyard-cli", "demux", "--mkvmerge", "--playlist", ""}, folder), (Names{"d.XPL", "sub"}));
    EXPECT_EQ(Complete({"halyard-cli", "demux", "--output", ""}, folder), Names{"sub"});
    EXPECT_EQ(Complete({"halyard-cli", "demux", "--output", "=", ""}, folder), Names{"sub"});
    EXPECT_EQ(Complete({"halyard-cli", "xpl", "--chapters", ""}, folder).size(), 6u);
    EXPECT_EQ(Complete({"halyard-cli", "xpl", "--show", ""}), (Names{"log", "memo", "tree", "boxes"}));
    EXPECT_EQ(Complete({"halyard-cli", "read", "--fast-size", ""}, folder), Names{});
    EXPECT_EQ(Complete({"halyard-cli", "read", "--", "-"}, folder), Names{}) << "no options after --";
}

TEST(Completion, OffersTheStreamsThatAReadOfTheSourceFinds) {
    TempDir dir;
    const std::string source = dir.file("FEATURE_1.EVO");
    psb::writeFile(source, Cat({psb::NavPack().layout(psb::NavLayout::Evo).startPtm(90000).endPtm(180000).build(),
                                psb::packWith(Pes(0xE2).pts(90000).dts(87000).payload(Filled(800, 1))),
                                psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0xC1).pts(90000).payload(
                                    Filled(300, 2))),
                                psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x22).pts(93000).payload(
                                    Filled(100, 3)))}));
    const Names all{"cbVideo0", "H.264.stream.0", "cbAudio01", "DD+.stream.01", "cbSub02", "Subpicture.02"};
    EXPECT_EQ(Complete({HALYARD_CLI_PATH, "demux", "--output", dir.path().string(), source, "--streams", ""}), all);
    EXPECT_EQ(Complete({HALYARD_CLI_PATH, "demux", source, "--streams", "cbVideo0,cbA"}),
              Names{"cbVideo0,cbAudio01"});
    EXPECT_EQ(Complete({HALYARD_CLI_PATH, "rebuild", "--streams", "=", "D"}), Names{}) << "no source on the line";
    // The source may come after the word being completed, past options and their values.
    EXPECT_EQ(Complete({HALYARD_CLI_PATH, "rebuild", "--streams", "D", "--output", dir.path().string(), source}, ".", 3),
              Names{"DD+.stream.01"});
}

TEST(Packaging, ChangelogAndMetadataCarryTheProjectsVersion) {
    const std::string version = HALYARD_VERSION;
    EXPECT_EQ(capture(shellQuote(HALYARD_CLI_PATH) + " --version"), "halyard-cli " + version + "\n");
    const std::string changelog = psb::tools::readText(HALYARD_SOURCE_DIR "/packaging/changelog");
    EXPECT_EQ(changelog.rfind("halyard (" + version + ") ", 0), 0u) << "the newest entry of packaging/changelog";
    const std::string metainfo =
        psb::tools::readText(HALYARD_SOURCE_DIR "/src/app/com.corvane.halyard.metainfo.xml");
    std::smatch release;
    ASSERT_TRUE(std::regex_search(metainfo, release, std::regex(R"re(<release version="([^"]*)")re")));
    EXPECT_EQ(release[1], version) << "the first release of the AppStream metadata";
}

} // namespace
} // namespace halyard::test
