// The source read in place through a mapped window: the same bytes as a read, and a file
// cut short under a mapped block is an error, never a crash.
#include "EngineFixture.h"

#include "jobs/Jobs.h"
#include "model/Error.h"
#include "rebuild/Rebuild.h"

namespace halyard::test {
namespace {

psb::Bytes pattern(size_t size) {
    psb::Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 131 + i / 4099);
    return bytes;
}

// Blocks of odd sizes from odd places, across the window boundaries, to the file's end.
TEST(MappedSource, ShowsTheBytesOfTheFileWhereverABlockStarts) {
    TempDir dir;
    const psb::Bytes bytes = pattern(5 * 1024 * 1024 + 12345);
    const std::string path = dir.file("x.EVO");
    psb::writeFile(path, bytes);
    SourceFile source(path);
    source.seek(777);
    std::vector<uint8_t> buffer(BlockSize);
    size_t at = 777;
    for (int64_t count : {int64_t(BlockSize), int64_t(2 * 1024 * 1024), int64_t(1), int64_t(3000000), int64_t(BlockSize)}) {
        const uint8_t* data = nullptr;
        const int64_t got = source.next(data, buffer.data(), std::min<int64_t>(count, BlockSize));
        ASSERT_GT(got, 0);
        EXPECT_TRUE(std::equal(data, data + got, bytes.begin() + std::ptrdiff_t(at))) << "at " << at;
        EXPECT_NO_THROW(source.confirm());
        at += size_t(got);
        EXPECT_EQ(source.position(), int64_t(at));
    }
    while (source.position() < source.size()) {
        const uint8_t* data = nullptr;
        const int64_t got = source.next(data, buffer.data(), BlockSize);
        EXPECT_TRUE(std::equal(data, data + got, bytes.begin() + std::ptrdiff_t(at)));
        at += size_t(got);
    }
    EXPECT_EQ(at, bytes.size());
    const uint8_t* data = nullptr;
    EXPECT_EQ(source.next(data, buffer.data(), BlockSize), 0);
}

// The file is cut inside a block that is mapped and not yet read: the bytes that are
// gone read as zero, the process lives on, and the block is a read error.
TEST(MappedSource, BytesCutUnderAMappedBlockReadAsZeroAndTheBlockIsAnError) {
    TempDir dir;
    const std::string path = dir.file("x.EVO");
    const psb::Bytes bytes = pattern(4 * 1024 * 1024);
    psb::writeFile(path, bytes);
    SourceFile source(path);
    source.mapEveryWindow();
    std::vector<uint8_t> buffer(BlockSize);
    const uint8_t* data = nullptr;
    source.seek(2 * 1024 * 1024 - BlockSize);
    ASSERT_EQ(source.next(data, buffer.data(), BlockSize), BlockSize);
    ASSERT_NE(data, buffer.data()) << "not mapped";
    constexpr size_t Kept = 2 * 1024 * 1024 - 65536; // whole pages of the block stay
    fs::resize_file(path, Kept);
    const size_t inBlock = Kept - (2 * 1024 * 1024 - BlockSize);
    EXPECT_TRUE(std::equal(data, data + inBlock, bytes.begin() + std::ptrdiff_t(Kept - inBlock)));
    EXPECT_TRUE(std::all_of(data + inBlock, data + BlockSize, [](uint8_t byte) { return byte == 0; }));
    try {
        source.confirm();
        FAIL() << "the cut block passed";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Stream read error \"" + path + "\". The file ends at byte 2031616, before its size of 4194304 bytes");
    }
}

TEST(MappedSource, AFileShorterThanTheNextBlockEndsWhereAReadWouldEnd) {
    TempDir dir;
    const std::string path = dir.file("x.EVO");
    psb::writeFile(path, pattern(1024 * 1024));
    SourceFile source(path);
    std::vector<uint8_t> buffer(BlockSize);
    const uint8_t* data = nullptr;
    source.next(data, buffer.data(), BlockSize);
    fs::resize_file(path, 300000);
    try {
        source.next(data, buffer.data(), BlockSize);
        FAIL() << "read past the file's end";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Stream read error \"" + path + "\". The file ends at byte 300000, before its size of 1048576 bytes");
    }
}

// The file is cut inside the block that the engine has just taken and not yet scanned
// (the progress display of a block comes between the two). Where the block is mapped,
// the scan reads zero bytes where the file is gone and the run ends with the read error
// after it; where it was read by copy, the run ends at the next block.
TEST(MappedSource, AFileCutUnderTheBlockBeingScannedIsAReadError) {
    for (bool demux : {false, true}) {
        SCOPED_TRACE(demux ? "demux" : "read");
        struct CuttingUi : RecordingUi {
            std::string path;
            bool armed = false;
            void pumpEvents() override {
                RecordingUi::pumpEvents();
                if (armed && pumps == 1)
                    fs::resize_file(path, 4 * 1024 * 1024 - 65536); // inside the block just mapped
            }
        };
        auto state = std::make_unique<RunState>();
        CuttingUi ui;
        Jobs jobs(*state, ui);
        TempDir dir;
        psb::PsStream big;
        big.append(psb::packWith(psb::Pes(0xE0).pts(90000).payload(Filled(2000, 1)))).padPacksTo(8 * 1024 * 1024);
        ui.path = dir.file("A.EVO");
        psb::writeFile(ui.path, big.bytes());
        ui.eEVOfile = ui.path;
        ui.eWorkdir = dir.file("out");
        fs::create_directories(ui.eWorkdir);
        ui.cbFastCheck = false;
        ui.cbContinue = false;
        jobs.EVOadj();
        try {
            if (demux) {
                jobs.bReadEVOClick(); // finds the stream to write
                ui.pumps = 0;
                ui.lines.clear();
                ui.armed = true;
                jobs.bDemuxClick();
            } else {
                ui.armed = true;
                jobs.bReadEVOClick();
            }
            FAIL() << "scanned to the end";
        } catch (const Error& error) {
            const std::string message = error.what();
            const std::string end = ", before its size of 8388608 bytes";
            EXPECT_TRUE(message == "Stream read error \"" + ui.path + "\". The file ends at byte 4128768" + end ||
                        message == "Stream read error \"" + ui.path + "\". The file ends at byte 4194304" + end)
                << message;
        }
        EXPECT_EQ(ui.pumps, 1);
        EXPECT_FALSE(ui.has("Done."));
    }
}

// Rebuild reads its packs where the source shows them too: a source cut while a window
// is being rebuilt ends the job with the read error, and the output keeps its passing name.
TEST(MappedSource, ASourceCutDuringARebuildIsAReadError) {
    struct CuttingUi : RecordingUi {
        std::string path;
        bool armed = false;
        void pumpEvents() override {
            RecordingUi::pumpEvents();
            if (armed && pumps == 1)
                fs::resize_file(path, 4 * 1024 * 1024 - 65536);
        }
    };
    auto state = std::make_unique<RunState>();
    CuttingUi ui;
    Jobs jobs(*state, ui);
    InstallRebuildJob(jobs, *state, ui);
    TempDir dir;
    psb::PsStream big;
    big.append(psb::packWith(psb::Pes(0xE0).pts(90000).payload(Filled(2000, 1)))).padPacksTo(8 * 1024 * 1024);
    ui.path = dir.file("A.EVO");
    psb::writeFile(ui.path, big.bytes());
    ui.eEVOfile = ui.path;
    ui.eWorkdir = dir.file("out");
    fs::create_directories(ui.eWorkdir);
    ui.cbFastCheck = false;
    ui.cbContinue = false;
    jobs.EVOadj();
    jobs.bReadEVOClick();
    ui.pumps = 0;
    ui.lines.clear();
    ui.armed = true;
    try {
        jobs.bRebuildClick();
        FAIL() << "rebuilt to the end";
    } catch (const Error& error) {
        const std::string message = error.what();
        const std::string end = ", before its size of 8388608 bytes";
        EXPECT_TRUE(message == "Stream read error \"" + ui.path + "\". The file ends at byte 4128768" + end ||
                    message == "Stream read error \"" + ui.path + "\". The file ends at byte 4194304" + end)
            << message;
    }
    EXPECT_FALSE(ui.has("Done."));
    EXPECT_FALSE(fs::exists(dir.file("out/A.rebuilt.EVO")));
    EXPECT_TRUE(fs::exists(dir.file("out/A.rebuilt.EVO.partial")));
}

} // namespace
} // namespace halyard::test
