// halyard-cli as a user runs it: exit status, stdout, output files, Ctrl-C.
#include "EngineFixture.h"

#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace halyard::test {
namespace {

using psb::Pes;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell line, in which "CLI" stands for the command line's path.
Result runShell(std::string line, const TempDir& dir, const std::string& workingDir = ".") {
    for (size_t at = line.find("CLI"); at != std::string::npos; at = line.find("CLI", at))
        line.replace(at, 3, HALYARD_CLI_PATH);
    std::string errPath = dir.file("stderr.txt");
    std::string command = "cd " + workingDir + " && " + line + " 2>" + errPath;
    Result result;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.out.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto err = ReadAll(errPath);
    result.err.assign(err.begin(), err.end());
    return result;
}

// Runs the command line with the arguments (quoted for the shell).
Result runCli(const std::string& arguments, const TempDir& dir, const std::string& workingDir = ".") {
    return runShell("CLI " + arguments, dir, workingDir);
}

psb::Bytes sample() {
    return Cat({psb::NavPack().layout(psb::NavLayout::Evo).startPtm(90000).endPtm(180000).audioSync(0, 1).build(),
                psb::packWith(Pes(0xE2).pts(90000).dts(87000).payload(Filled(800, 1))),
                psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0xC1).pts(90000).payload(Filled(300, 2))),
                psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x22).pts(93000).payload(Filled(100, 3)))});
}

TEST(Cli, ReadPrintsTheLogAndNothingElse) {
    TempDir dir;
    psb::writeFile(dir.file("FEATURE_1.EVO"), sample());
    Result plain = runCli("read " + dir.file("FEATURE_1.EVO"), dir);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out.rfind("Opening file FEATURE_1.EVO\nReading...\nFile size: 0 Mbytes.\n", 0), 0u) << plain.out;
    EXPECT_NE(plain.out.find("\nH.264 (AVC) video stream 0 found!\n"), std::string::npos);
    EXPECT_NE(plain.out.find("\nDolby Digital Plus audio stream 1 found!\n"), std::string::npos);
    EXPECT_NE(plain.out.find("\nSubpicture stream 2 found!\n"), std::string::npos);
    EXPECT_EQ(plain.out.find('['), std::string::npos);
    EXPECT_EQ(plain.err, "");

    Result markup = runCli("read --markup --no-details " + dir.file("FEATURE_1.EVO"), dir);
    EXPECT_NE(markup.out.find("\n[b]Dolby Digital[/b] Plus audio stream 1 found!\n"), std::string::npos);
    EXPECT_EQ(markup.out.find("First PTS"), std::string::npos);
}

TEST(Cli, DemuxNamesOutputsAfterTheirCaptions) {
    TempDir dir;
    psb::writeFile(dir.file("HELD.EVO"), sample());
    fs::create_directories(dir.path() / "out");
    Result all = runCli("demux --output " + dir.file("out") + " " + dir.file("HELD.EVO"), dir);
    ASSERT_EQ(all.status, 0) << all.err;
    const std::string out = dir.file("out") + "/HELD.";
    EXPECT_EQ(ReadAll(out + "H.264.stream.0.mpv"), Filled(800, 1));
    EXPECT_EQ(ReadAll(out + "DD+.stream.01.mpa"), Filled(300, 2));
    auto sup = ReadAll(out + "Subpicture.02.sup");
    EXPECT_EQ(sup.size(), 110u);
    EXPECT_NE(all.out.find("Creating " + out + "DD+.stream.01.mpa\n"), std::string::npos);

    // Trailing separator, a selection by box name and by caption, other extensions.
    fs::remove_all(dir.path() / "out");
    fs::create_directories(dir.path() / "out");
    Result some = runCli("demux --audio-ext ec3 --streams cbVideo0,Subpicture.02 --output " + dir.file("out") +
                             "/ " + dir.file("HELD.EVO"),
                         dir);
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_TRUE(fs::exists(out + "H.264.stream.0.mpv"));
    EXPECT_TRUE(fs::exists(out + "Subpicture.02.sup"));
    EXPECT_FALSE(fs::exists(out + "DD+.stream.01.ec3"));

    // Without an output folder the outputs go beside the source.
    Result beside = runCli("demux --streams cbAudio01 " + dir.file("HELD.EVO"), dir);
    ASSERT_EQ(beside.status, 0) << beside.err;
    EXPECT_EQ(ReadAll(dir.file("HELD.DD+.stream.01.mpa")), Filled(300, 2));
    fs::remove(dir.file("HELD.DD+.stream.01.mpa"));
    Result relative = runCli("demux --streams cbAudio01 HELD.EVO", dir, dir.path().string());
    ASSERT_EQ(relative.status, 0) << relative.err;
    EXPECT_EQ(ReadAll(dir.file("HELD.DD+.stream.01.mpa")), Filled(300, 2));
}

TEST(Cli, FailuresAndUsage) {
    TempDir dir;
    Result missing = runCli("read " + dir.file("none.EVO"), dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot open file \"" + dir.file("none.EVO") + "\". No such file or directory\n");

    for (const char* arguments : {"", "read", "frobnicate x.EVO", "demux a.EVO b.EVO", "read --fast-size 1000 x.EVO",
                                  "read --bogus x.EVO"}) {
        Result usage = runCli(arguments, dir);
        EXPECT_EQ(usage.status, 2) << arguments;
        EXPECT_NE(usage.err.find("Usage: halyard-cli read"), std::string::npos) << arguments;
    }

    psb::writeFile(dir.file("a.EVO"), sample());
    Result unwritable = runCli("demux --output " + dir.file("no/such/dir") + " " + dir.file("a.EVO"), dir);
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err.rfind("Cannot create file \"" + dir.file("no/such/dir") + "/a.H.264.stream.0.mpv\".", 0),
              0u)
        << unwritable.err;
}

TEST(Cli, HelpAndVersionGoToStdoutWithStatus0) {
    TempDir dir;
    for (const char* arguments : {"-h", "--help"}) {
        Result help = runCli(arguments, dir);
        EXPECT_EQ(help.status, 0) << arguments;
        EXPECT_NE(help.out.find("Usage: halyard-cli"), std::string::npos) << arguments;
        EXPECT_EQ(help.err, "") << arguments;
    }
    Result demuxHelp = runCli("demux --help", dir);
    EXPECT_EQ(demuxHelp.status, 0);
    EXPECT_NE(demuxHelp.out.find("--streams"), std::string::npos);
    Result readHelp = runCli("read -h", dir);
    EXPECT_EQ(readHelp.status, 0);
    EXPECT_NE(readHelp.out.find("--fast-size"), std::string::npos);
    EXPECT_EQ(readHelp.out.find("--streams"), std::string::npos);

    Result version = runCli("--version", dir);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("halyard-cli ", 0), 0u) << version.out;
}

TEST(Cli, OptionValuesThatMakeNoSenseAreUsageErrors) {
    TempDir dir;
    psb::writeFile(dir.file("a.EVO"), sample());
    for (const char* option : {"--output ''", "--video-ext ''", "--audio-ext ''", "--sub-ext x/y",
                                      "--audio-ext ../up"}) {
        Result usage = runCli(std::string("demux ") + option + " " + dir.file("a.EVO"), dir);
        EXPECT_EQ(usage.status, 2) << option;
        EXPECT_EQ(usage.out, "") << option;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "a.EVO, stderr.txt";

    // After "--" a name that begins with "-" is the file.
    psb::writeFile(dir.file("-a.EVO"), sample());
    Result dashed = runCli("read -- -a.EVO", dir, dir.path().string());
    EXPECT_EQ(dashed.status, 0) << dashed.err;
    EXPECT_NE(dashed.out.find("Opening file -a.EVO\n"), std::string::npos);
}

TEST(Cli, StreamsNamingNoFoundStreamIsAUsageErrorListingTheCaptions) {
    TempDir dir;
    psb::writeFile(dir.file("a.EVO"), sample());
    Result unknown = runCli("demux --streams cbVideo0,DTSHD.stream.05,cbAudio07 " + dir.file("a.EVO"), dir);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("\"DTSHD.stream.05\", \"cbAudio07\""), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("H.264.stream.0, DD+.stream.01, Subpicture.02"), std::string::npos) << unknown.err;
    EXPECT_FALSE(fs::exists(dir.file("a.H.264.stream.0.mpv")));
}

TEST(Cli, ASourceThatIsNotARegularFileIsRefused) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.EVO").c_str(), 0600), 0);
    for (const std::string& source : {dir.file("fifo.EVO"), std::string("/dev/zero"), dir.path().string()}) {
        Result refused = runCli("read " + source, dir);
        EXPECT_EQ(refused.status, 1) << source;
        EXPECT_EQ(refused.err.rfind("Cannot open file \"" + source + "\". ", 0), 0u) << refused.err;
        EXPECT_EQ(refused.out.find("Done."), std::string::npos) << source;
    }
}

TEST(Cli, ALogThatCannotBeWrittenIsAFailure) {
    TempDir dir;
    psb::writeFile(dir.file("a.EVO"), sample());
    Result full = runShell("CLI read " + dir.file("a.EVO") + " >/dev/full", dir);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "halyard-cli: cannot write the log to standard output: No space left on device\n");

    // With stdout closed, the first output would otherwise be given its descriptor.
    fs::create_directories(dir.path() / "out");
    Result closed = runShell("CLI demux --output " + dir.file("out") + " " + dir.file("a.EVO") + " >&-", dir);
    EXPECT_EQ(closed.status, 1);
    EXPECT_EQ(closed.err, "halyard-cli: standard output is closed\n");
    EXPECT_TRUE(fs::is_empty(dir.path() / "out"));
}

TEST(Cli, ADemuxThatWouldWriteNothingFails) {
    TempDir dir;
    psb::PsStream empty;
    empty.padPacksTo(4096);
    psb::writeFile(dir.file("none.EVO"), empty.bytes());
    Result none = runCli("demux " + dir.file("none.EVO"), dir);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "No stream to demux: none was found in \"" + dir.file("none.EVO") + "\"\n");

    psb::writeFile(dir.file("a.EVO"), sample());
    Result unselected = runCli("demux --streams '' " + dir.file("a.EVO"), dir);
    EXPECT_EQ(unselected.status, 1);
    EXPECT_NE(unselected.err.find("No stream to demux"), std::string::npos) << unselected.err;
    EXPECT_EQ(unselected.out.find("Creating"), std::string::npos);
}

TEST(Cli, AFileSizeLimitGivesAStreamWriteError) {
    TempDir dir;
    psb::Bytes source;
    for (int i = 0; i < 12; ++i)
        source = Cat({source, psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x80).pts(90000 + 2880 * i).payload(
                                  Filled(2000, uint8_t(i))))});
    psb::writeFile(dir.file("a.EVO"), source);
    // 16 blocks of 512 bytes: the 24,000 bytes of audio do not fit.
    Result limited = runShell("ulimit -f 16 && CLI demux " + dir.file("a.EVO"), dir);
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.err, "Stream write error \"" + dir.file("a.DD.stream.00.mpa") + "\". File too large\n");
}

TEST(Cli, CtrlCStopsTheRunWithStatus130) {
    TempDir dir;
    // A long file of zero bytes: every byte goes through the scanner, so the run takes a while.
    std::string path = dir.file("zeros.EVO");
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_EQ(ftruncate(fileno(file), int64_t(8) << 30), 0);
        std::fclose(file);
    }
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(HALYARD_CLI_PATH, HALYARD_CLI_PATH, "read", "--no-fast-check", path.c_str(), (char*)nullptr);
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
}

} // namespace
} // namespace halyard::test
