// halyard-cli rebuild as a user runs it: exit status, stdout, stderr, the rebuilt file.
#include "EngineFixture.h"

#include <nlohmann/json.hpp>

namespace halyard::test {
namespace {

using psb::Pes;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs "halyard-cli rebuild ARGUMENTS" in the folder.
CliRun RebuildCli(const std::string& arguments, const TempDir& dir) {
    CliRun run;
    run.out = psb::tools::capture("cd " + psb::tools::shellQuote(dir.path().string()) + " && " + HALYARD_CLI_PATH +
                                      " rebuild " + arguments + " 2>" + dir.file("stderr.txt"),
                                  &run.status);
    run.err = psb::tools::readText(dir.file("stderr.txt"));
    return run;
}

TEST(RebuildCli, WritesTheListedStreamsAndRefusesWhatItCannotRebuild) {
    TempDir dir;
    auto audio = [](uint8_t substream) {
        return psb::packWith(Pes(psb::sid::kPrivateStream1).substream(substream).pts(90000).payload(Filled(300, 2)));
    };
    psb::writeFile(dir.file("A.EVO"), Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
                                           psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))), audio(0x80),
                                           audio(0x81)}));
    CliRun some = RebuildCli("--streams cbVideo0,DD.stream.01 A.EVO", dir);
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(some.out.find("Creating ./A.rebuilt.EVO\nRebuilding...\nChecking...\nDone.\n\n"), std::string::npos) << some.out;
    EXPECT_EQ(ReadAll(dir.file("A.rebuilt.EVO")), Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
                                                       psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))),
                                                       audio(0x80)}));
    fs::create_directories(dir.file("out"));
    EXPECT_EQ(RebuildCli("--output out A.EVO", dir).status, 0);
    EXPECT_EQ(fs::file_size(dir.file("out/A.rebuilt.EVO")), 4 * psb::kPackSize);

    CliRun missing = RebuildCli("none.EVO", dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot open file \"none.EVO\". No such file or directory\n");
    fs::copy_file(dir.file("A.EVO"), dir.file("A.VOB"));
    CliRun vob = RebuildCli("A.VOB", dir);
    EXPECT_EQ(std::make_tuple(vob.status, vob.out), std::make_tuple(2, std::string()));
    EXPECT_EQ(vob.err, "halyard-cli: rebuild takes an .EVO source, not \"A.VOB\"\n");
}

psb::Bytes Audio(uint8_t substream, size_t size) {
    return psb::packWith(Pes(psb::sid::kPrivateStream1).substream(substream).pts(90000).payload(Filled(size, 2)));
}

// --json: the read's streams as read --json gives them, and the rebuilt file with each
// kept stream's ids, box and counts. A selection that keeps nothing fails as demux does.
TEST(RebuildCli, JsonDescribesTheReadAndTheRebuiltFileAndNothingKeptFails) {
    TempDir dir;
    psb::writeFile(dir.file("A.EVO"), Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
                                           psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))),
                                           Audio(0x80, 300), Audio(0x81, 300), Audio(0x81, 200)}));
    CliRun rebuild = RebuildCli("--json --streams cbVideo0,DD.stream.01 A.EVO", dir);
    ASSERT_EQ(rebuild.status, 0) << rebuild.err;
    const auto document = nlohmann::json::parse(rebuild.out);
    const std::string read = psb::tools::capture("cd " + psb::tools::shellQuote(dir.path().string()) + " && " +
                                                 HALYARD_CLI_PATH + " read --json A.EVO");
    EXPECT_EQ(document["format_version"], 1);
    EXPECT_EQ(document["command"], "rebuild");
    EXPECT_EQ(document["streams"], nlohmann::json::parse(read)["streams"]);
    EXPECT_EQ(document["outputs"], nlohmann::json::parse(R"([{
        "path": "./A.rebuilt.EVO", "kind": "program_stream", "format": "evo", "streams": [
          {"kind": "video", "codec": "mpeg2", "stream_id": 224, "old_id": 224, "new_id": 224, "old_slot": 0,
           "new_slot": 0, "box": "cbVideo0", "new_caption": "MPEG-2.stream.0", "packets": 1, "payload_bytes": 800},
          {"kind": "audio", "codec": "ac3", "stream_id": 189, "old_id": 129, "new_id": 128, "old_slot": 1,
           "new_slot": 0, "box": "cbAudio01", "new_caption": "DD.stream.00", "packets": 2, "payload_bytes": 500}]}])"));

    for (const char* arguments : {"--streams '' --output out A.EVO", "--output out --streams '' A.EVO"}) {
        CliRun none = RebuildCli(arguments, dir);
        EXPECT_EQ(std::make_tuple(none.status, none.err),
                  std::make_tuple(1, std::string("No stream to demux: --streams selects none of the streams found\n")));
    }
    EXPECT_FALSE(fs::exists(dir.file("out")));
}

// A file the engine reads otherwise than Rebuild kept it fails the check: exit 1, the
// stream and both counts named, the output left under its passing name. Here the
// engine gives the payload of an extended-stream-id packet without a VC-1 stream id
// extension to the video stream before it.
TEST(RebuildCli, AFailedCheckLeavesThePartialFile) {
    TempDir dir;
    psb::writeFile(dir.file("B.EVO"), Cat({psb::NavPack().layout(psb::NavLayout::HdDvd).build(),
                                           psb::packWith(Pes(0xE0).pts(90000).payload(Filled(800, 1))),
                                           psb::packWith(Pes(0xFD).pts(93600).payload(Filled(600, 3))),
                                           Audio(0x80, 300)}));
    CliRun run = RebuildCli("B.EVO", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Rebuild check failed for MPEG-2.stream.0 (stream 0xE0): the rebuilt file holds 2 packets, "
                       "1400 payload bytes, Rebuild kept 1 packet, 800 payload bytes. The output is kept as "
                       "\"./B.rebuilt.EVO.partial\"\n");
    EXPECT_NE(run.out.find("Rebuilding...\nChecking...\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Checking...\nDone."), std::string::npos) << run.out;
    EXPECT_EQ(fs::file_size(dir.file("B.rebuilt.EVO.partial")), 4 * psb::kPackSize);
    EXPECT_FALSE(fs::exists(dir.file("B.rebuilt.EVO")));
}

} // namespace
} // namespace halyard::test
