// halyard-cli against a careless or hostile user: no output may overwrite an input, the
// source's title is found by its whole name, a document that cannot be written is a
// failure, a name that cannot be handed on is refused, and memory stays bounded.
#include "DemoDiscFixture.h"

#include "SubpictureBuilder.h"
#include "model/Utf8.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace halyard::test {
namespace {

namespace tools = psb::tools;
using tools::shellQuote;
using Json = nlohmann::json;

void WriteText(const std::string& path, const std::string& text) {
    psb::writeFile(path, psb::Bytes(text.begin(), text.end()));
}

class Hardening : public DemoDiscTest {
protected:
    static std::string demoPlaylistText() { return tools::readText(playlist()); }
};

// Each command and option that writes a file, pointed at each file the run reads: by a
// symbolic link, by a hard link, and (where the name can be chosen) by its path.
TEST_F(Hardening, NoOutputOfAnyCommandMayBeAnInput) {
    struct Writer {
        std::string arguments; // OUT stands for the output folder
        std::string output;    // the name it writes in OUT
    };
    const std::string f1 = shellQuote(feature(1));
    const std::vector<Writer> writers = {
        {"demux --streams cbAudio00 --output OUT " + f1, "FEATURE_1_FEATURE_2.DD.stream.00.mpa"},
        {"demux --lpcm-wav --streams cbAudio04 --output OUT " + f1, "FEATURE_1_FEATURE_2.LPCM.stream.04.wav"},
        {"demux --streams cbSub00 --output OUT " + f1, "FEATURE_1_FEATURE_2.Subpicture.00.sup"},
        {"demux --pgs --streams cbSub00 --output OUT " + f1, "FEATURE_1_FEATURE_2.Subpicture.00.pgs.sup"},
        {"demux --mkvmerge --streams cbAudio00 --output OUT " + f1, "FEATURE_1_FEATURE_2.mkvmerge.json"},
        {"demux --mkvmerge --streams cbAudio00 --output OUT " + f1, "FEATURE_1_FEATURE_2.chapters.txt"},
        {"xpl --source " + f1 + " --chapters OUT/chapters.txt", "chapters.txt"},
        {"rebuild --streams cbVideo0,cbAudio00 --output OUT " + f1, "FEATURE_1_FEATURE_2.rebuilt.EVO"},
        {"rebuild --streams cbVideo0,cbAudio00 --output OUT " + f1, "FEATURE_1_FEATURE_2.rebuilt.EVO.partial"},
    };
    const std::vector<std::string> inputs = {feature(1), feature(2), playlist()};
    std::vector<psb::Bytes> before;
    for (const std::string& input : inputs)
        before.push_back(ReadAll(input));

    auto expectRefused = [&](const std::string& arguments, const std::string& how) {
        SCOPED_TRACE(how + ": " + arguments);
        const Ran ran = Cli(arguments, dir);
        EXPECT_EQ(ran.status, 1) << ran.err;
        EXPECT_NE(ran.err.find("\". It is the source file \""), std::string::npos) << ran.err;
        for (size_t i = 0; i < inputs.size(); ++i)
            ASSERT_EQ(ReadAll(inputs[i]), before[i]) << inputs[i] << " was written";
    };
    int cases = 0;
    for (const Writer& writer : writers) {
        for (const std::string& input : inputs) {
            for (const bool symbolic : {true, false}) {
                const fs::path out = dir.path() / ("out" + std::to_string(cases++));
                fs::create_directory(out);
                if (symbolic)
                    fs::create_symlink(input, out / writer.output);
                else
                    fs::create_hard_link(input, out / writer.output);
                std::string arguments = writer.arguments;
                arguments.replace(arguments.find("OUT"), 3, shellQuote(out.string()));
                expectRefused(arguments, symbolic ? "symbolic link" : "hard link");
            }
        }
    }
    // The subtitle converter reads a .sup record file and an IFO.
    const fs::path sub = dir.path() / "sub";
    fs::create_directory(sub);
    ASSERT_EQ(Cli("demux --streams cbSub00 --output " + shellQuote(sub.string()) + " " + f1, dir).status, 0);
    const std::string records = (sub / "FEATURE_1_FEATURE_2.Subpicture.00.sup").string();
    const std::string ifo = (sub / "VTS_01_0.IFO").string();
    psb::writeFile(ifo, psb::dvdIfo({}));
    for (const std::string& input : {records, ifo}) {
        const psb::Bytes was = ReadAll(input);
        for (const int how : {0, 1, 2}) {
            const fs::path out = dir.path() / ("out" + std::to_string(cases++) + ".sup");
            if (how == 1)
                fs::create_symlink(input, out);
            else if (how == 2)
                fs::create_hard_link(input, out);
            const std::string target = how == 0 ? input : out.string();
            const Ran ran = Cli("subtitles --palette " + shellQuote(ifo) + " " + shellQuote(records) + " " +
                                    shellQuote(target), dir);
            EXPECT_EQ(ran.status, 1) << ran.err;
            EXPECT_NE(ran.err.find("\". It is the source file \""), std::string::npos) << ran.err;
            EXPECT_EQ(ReadAll(input), was) << input << " " << how;
        }
    }
    // By path: the chapter file named as an input, and the playlist given where the
    // option file and the chapters go.
    for (const std::string& input : inputs)
        expectRefused("xpl --source " + f1 + " --chapters " + shellQuote(input) + " " + shellQuote(playlist()), "path");
    for (const char* name : {"FEATURE_1_FEATURE_2.mkvmerge.json", "FEATURE_1_FEATURE_2.chapters.txt"}) {
        const fs::path out = dir.path() / ("out" + std::to_string(cases++));
        fs::create_directory(out);
        fs::copy_file(playlist(), out / name);
        expectRefused("demux --mkvmerge --streams cbAudio00 --playlist " + shellQuote((out / name).string()) +
                          " --output " + shellQuote(out.string()) + " " + f1,
                      "path");
    }
}

// A title that plays FEATURE_10 comes first, a comment names FEATURE_1, and the title
// that plays FEATURE_1 comes last.
std::string TitlesPlaylist(bool withFeature1) {
    std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<Playlist xmlns="http://www.dvdforum.org/2005/HDDVDVideo/Playlist" majorVersion="1" minorVersion="0">
  <MediaAttributeList><AudioAttributeItem index="1" codec="AC-3" channels="2"/></MediaAttributeList>
  <TitleSet timeBase="60fps" tickBase="24fps">
    <Title id="Ten" displayName="Other">
      <!-- FEATURE_1.MAP was here -->
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_10.MAP">
        <Audio track="1" streamNumber="2" mediaAttr="1" description="ten" langcode="de:00"/>
      </PrimaryAudioVideoClip>
    </Title>)";
    if (withFeature1)
        text += R"(
    <Title id="One" displayName="Film">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
        <Audio track="1" streamNumber="1" mediaAttr="1" description="one" langcode="en:00"/>
      </PrimaryAudioVideoClip>
      <ChapterList>
        <Chapter displayName="Start" titleTimeBegin="00:00:00:00"/>
        <Chapter displayName="Late" titleTimeBegin="02:00:00:31"/>
      </ChapterList>
    </Title>)";
    return text + "\n  </TitleSet>\n</Playlist>\n";
}

TEST_F(Hardening, TheSourcesTitleIsFoundByItsWholeNameOutsideComments) {
    const std::string xpl = dir.file("VPLST000.XPL");
    const std::string source = shellQuote(dir.file("FEATURE_1.EVO"));
    WriteText(xpl, TitlesPlaylist(true));
    if (tools::haveProgram("xmllint")) {
        EXPECT_EQ(tools::run("xmllint --noout " + shellQuote(xpl)), 0);
    }

    const Ran chapters = Cli("xpl --source " + source + " --chapters " + shellQuote(dir.file("c.txt")) + " " + xpl, dir);
    EXPECT_EQ(chapters.status, 0) << chapters.err;
    // "60fps" counts tick at 60000/1001 a second: 2:00:00 and 31 counts is 7207.717 s.
    EXPECT_EQ(tools::readText(dir.file("c.txt")),
              "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Start\nCHAPTER02=02:00:07.717\nCHAPTER02NAME=Late\n");
    EXPECT_EQ(Cli("xpl --show boxes --source " + source + " " + xpl, dir).out, "cbAudio00\tAC-3.2ch.stream.00.one\n");
    const Json doc = Json::parse(Cli("xpl --json --source " + source + " " + xpl, dir).out);
    EXPECT_EQ(doc["source_title"], 1);

    // No title plays the source: an error naming both, and no chapter file.
    const std::string twoTitles = TitlesPlaylist(false);
    WriteText(xpl, twoTitles.substr(0, twoTitles.find("  </TitleSet>")) +
                       "    <Title id=\"Three\"><PrimaryAudioVideoClip src=\"/FEATURE_3.MAP\"/></Title>\n  </TitleSet>\n"
                       "</Playlist>\n");
    const Ran none = Cli("xpl --source " + source + " --chapters " + shellQuote(dir.file("none.txt")) + " " + xpl, dir);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "No title of \"" + xpl + "\" plays \"" + dir.file("FEATURE_1.EVO") + "\"\n");
    EXPECT_FALSE(fs::exists(dir.file("none.txt")));
    EXPECT_EQ(Cli("xpl --chapters " + shellQuote(dir.file("none.txt")) + " " + xpl, dir).status, 2);
    // A playlist of one title is used whatever --source names; its title has no chapters here.
    WriteText(xpl, TitlesPlaylist(false));
    const Ran noChapters = Cli("xpl --source " + source + " --chapters " + shellQuote(dir.file("none.txt")) + " " + xpl, dir);
    EXPECT_EQ(noChapters.status, 1);
    EXPECT_EQ(noChapters.err, "The title \"Other\" of \"" + xpl + "\" has no chapters\n");
    EXPECT_FALSE(fs::exists(dir.file("none.txt")));
}

TEST_F(Hardening, ADocumentThatCannotBeWrittenIsAFailure) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    for (const std::string& arguments : {"read --json " + shellQuote(feature(1)),
                                        "demux --json --streams cbAudio00 --output " + shellQuote(dir.path().string()) +
                                            " " + shellQuote(feature(1)),
                                        "xpl --json " + shellQuote(playlist())}) {
        const Ran ran = Cli(arguments, dir, "", " >/dev/full");
        EXPECT_EQ(ran.status, 1) << arguments;
        EXPECT_NE(ran.err.find("No space left on device"), std::string::npos) << ran.err;
    }
}

// Names with bytes that are not UTF-8, and with quotes, backslashes, line breaks and
// control bytes.
TEST_F(Hardening, NamesThatCannotBeHandedOnAreRefusedNeverMangled) {
    const std::string odd = dir.file("a \"q\" \\ b\nc\x01.EVO");
    fs::copy_file(feature(2), odd);
    const Ran oddRun = Cli("demux --json --mkvmerge --lpcm-wav --output " + shellQuote(dir.path().string()) + " " +
                               shellQuote(odd) + " >" + shellQuote(dir.file("odd.json")),
                           dir);
    EXPECT_EQ(oddRun.status, 0) << oddRun.err;
    EXPECT_EQ(tools::run("python3 -m json.tool " + shellQuote(dir.file("odd.json")) + " >/dev/null"), 0);
    const std::string oddOptions = dir.file("a \"q\" \\ b\nc\x01.mkvmerge.json");
    const int muxed = tools::run("cd " + shellQuote(dir.path().string()) + " && mkvmerge -q @" +
                                 shellQuote(oddOptions) + " >/dev/null 2>&1");
    EXPECT_TRUE(muxed == 0 || muxed == 1) << muxed;

    const std::string bad = dir.file("F\xff\xfe.EVO");
    fs::copy_file(feature(2), bad);
    const Ran read = Cli("read --json " + shellQuote(bad), dir);
    ASSERT_EQ(read.status, 0) << read.err;
    const Json doc = Json::parse(read.out);
    EXPECT_EQ(doc["sources"][0]["path"], dir.file("F\xEF\xBF\xBD\xEF\xBF\xBD.EVO")); // U+FFFD for each byte
    EXPECT_EQ(doc["sources"][0]["path_hex"], HexBytes(bad));

    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    const Ran demux = Cli("demux --mkvmerge --lpcm-wav --output " + shellQuote(out.string()) + " " + shellQuote(bad), dir);
    EXPECT_EQ(demux.status, 1);
    EXPECT_NE(demux.err.find("is not UTF-8, and mkvmerge reads an option file as UTF-8"), std::string::npos) << demux.err;
    EXPECT_TRUE(fs::exists(out / "F\xff\xfe.DD.stream.00.mpa")) << "the other outputs stay written";
    EXPECT_FALSE(fs::exists(out / "F\xff\xfe.mkvmerge.json"));
}

// The JSON's frame rate is the stream's frames a second, as ffprobe gives it; the H.264
// analyser's log keeps the coded tick rate, and the frame report assumes 24000/1001.
TEST_F(Hardening, FrameRatesAreMeasuredNotAssumed) {
    const Json doc = Json::parse(Cli("read --json --no-continue " + shellQuote(feature(1)), dir).out);
    const Json& h264 = doc["frames"][1];
    ASSERT_EQ(h264["video_stream"], 1);
    const tools::ProbedStreams probed = tools::probeStreams(feature(1));
    ASSERT_TRUE(probed.count("0x1e3"));
    EXPECT_DOUBLE_EQ(h264["frame_rate"].get<double>(), tools::ratioValue(probed.at("0x1e3").at("r_frame_rate")));
    EXPECT_FALSE(h264.contains("frame_rate_assumed"));
    EXPECT_DOUBLE_EQ(h264["counted_duration"].get<double>(), h264["counted_frames"].get<double>() / 25.0);
}

// A playlist language that mkvmerge does not know, a value that is not an integer, an
// empty --streams, a playlist that cannot be read.
TEST_F(Hardening, BadValuesAndOptionsFailClearlyAndEarly) {
    std::string text = demoPlaylistText();
    text.replace(text.find("langcode=\"de:00\""), 16, "langcode=\"zz:00\"");
    const std::string xpl = dir.file("zz.XPL");
    WriteText(xpl, text);
    const Ran zz = Cli("demux --mkvmerge --playlist " + shellQuote(xpl) + " --output " +
                           shellQuote(dir.path().string()) + " --streams cbVideo0,cbAudio01 " + shellQuote(feature(1)),
                       dir);
    EXPECT_EQ(zz.status, 0) << zz.err;
    EXPECT_NE(zz.err.find("the playlist's language \"zz\" of " + dir.file("FEATURE_1_FEATURE_2.DD+.stream.01.mpa") +
                          " is not one mkvmerge knows"),
              std::string::npos)
        << zz.err;
    const std::string options = tools::readText(dir.file("FEATURE_1_FEATURE_2.mkvmerge.json"));
    EXPECT_EQ(options.find("0:zz"), std::string::npos);
    const int muxed = tools::run("mkvmerge -q @" + shellQuote(dir.file("FEATURE_1_FEATURE_2.mkvmerge.json")) +
                                 " >/dev/null 2>&1");
    EXPECT_TRUE(muxed == 0 || muxed == 1) << muxed;

    text = demoPlaylistText();
    text.replace(text.find("index=\"1\""), 9, "index=\"one\"");
    WriteText(xpl, text);
    const Ran log = Cli("xpl " + shellQuote(xpl), dir);
    EXPECT_EQ(log.status, 1);
    EXPECT_NE(log.out.find("Playlist \"" + xpl + "\", attribute \"index\" of <"), std::string::npos) << log.out;
    EXPECT_EQ(log.err, "'one' is not a valid integer value\n");
    const Ran json = Cli("xpl --json " + shellQuote(xpl), dir);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err.rfind("Playlist \"" + xpl + "\", attribute \"index\" of <", 0), 0u) << json.err;

    // A bad playlist stops the run before anything is written.
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    const Ran early = Cli("demux --mkvmerge --playlist " + shellQuote(xpl) + " --output " + shellQuote(out.string()) +
                              " " + shellQuote(feature(1)),
                          dir);
    EXPECT_EQ(early.status, 1);
    EXPECT_TRUE(fs::is_empty(out));

    // --streams takes one value: an empty list selects nothing and swallows nothing.
    for (const char* empty : {"--streams , ", "--streams= ", "--streams=, "}) {
        const Ran ran = Cli(std::string("demux ") + empty + "--output " + shellQuote(out.string()) + " " +
                                shellQuote(feature(1)), dir);
        EXPECT_EQ(ran.status, 1) << empty;
        EXPECT_EQ(ran.err, "No stream to demux: --streams selects none of the streams found\n") << empty;
    }
}

// Writes a playlist of about 32 MB, 2,000-odd titles of clips, tracks and chapters, and
// returns its size. It is written a title at a time: a child forked from this process
// starts with this process's peak resident size, which would hide the child's own.
std::size_t WriteLargePlaylist(const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    std::string text = "<Playlist>\n<MediaAttributeList><AudioAttributeItem index=\"1\" codec=\"DD\"/>"
                       "</MediaAttributeList>\n<TitleSet timeBase=\"50fps\" tickBase=\"25fps\">\n";
    std::size_t size = 0;
    for (int title = 0; size < 32'000'000; ++title) {
        text += "<Title id=\"T" + std::to_string(title) + "\" displayName=\"Title " + std::to_string(title) + "\">\n";
        for (int clip = 0; clip < 100; ++clip)
            text += "  <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/T" + std::to_string(title) + "_" +
                    std::to_string(clip) + ".MAP\"><Audio track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" "
                    "description=\"en\" langcode=\"en:00\"/></PrimaryAudioVideoClip>\n";
        text += "  <ChapterList><Chapter displayName=\"One\" titleTimeBegin=\"00:00:01:00\"/></ChapterList>\n</Title>\n";
        file << text;
        size += text.size();
        text.clear();
    }
    text = "</TitleSet>\n</Playlist>\n";
    file << text;
    return size + text.size();
}

struct Child {
    pid_t pid = -1;
    int status = -1;
    long maxRssKiB = 0;
};

// Starts halyard-cli with stdout and stderr into files.
Child Start(const std::vector<std::string>& arguments, const std::string& out, const std::string& err) {
    std::vector<char*> argv{const_cast<char*>(HALYARD_CLI_PATH)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

void Finish(Child& child) {
    struct rusage usage{};
    int status = 0;
    ::wait4(child.pid, &status, 0, &usage);
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    child.maxRssKiB = usage.ru_maxrss;
}

TEST_F(Hardening, LargePlaylistsStayWithinFourTimesTheirSizeAndStopOnCtrlC) {
    const std::string xpl = dir.file("LARGE.XPL");
    const std::size_t size = WriteLargePlaylist(xpl);
    [[maybe_unused]] const long bound = long(4 * size / 1024 + 16 * 1024);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"xpl", "--json", "--source", "T5_0.EVO", xpl},
          std::vector<std::string>{"xpl", "--show", "memo", xpl}}) {
        Child child = Start(arguments, dir.file("out.txt"), dir.file("err.txt"));
        Finish(child);
        EXPECT_EQ(child.status, 0) << tools::readText(dir.file("err.txt"));
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer holds freed memory back: its peak says nothing here
        EXPECT_LE(child.maxRssKiB, bound) << arguments[1] << " " << arguments[2];
#endif
    }

    // Ctrl-C once the playlist is open: exit 130 and no document.
    Child child = Start({"xpl", "--json", xpl}, dir.file("out.txt"), dir.file("err.txt"));
    const fs::path fds = "/proc/" + std::to_string(child.pid) + "/fd";
    bool open = false;
    for (int wait = 0; wait < 2000 && !open; ++wait) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fds, error))
            open = open || fs::read_symlink(entry.path(), error) == xpl;
        if (!open)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child.pid, SIGINT);
    Finish(child);
    EXPECT_TRUE(open);
    EXPECT_EQ(child.status, 130);
    EXPECT_EQ(tools::readText(dir.file("out.txt")), "");
}

} // namespace
} // namespace halyard::test
