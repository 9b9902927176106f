// LPCM audio written as WAV: the sample layouts, the header, and ffmpeg's decoding.
#include "EngineFixture.h"

#include <filesystem>

#include "EsFrames.h"
#include "jobs/Jobs.h"
#include "model/Error.h"
#include "model/LpcmWavOutput.h"

namespace halyard::test {
namespace {

uint32_t le32(const psb::Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const psb::Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// The parts of a WAV file that a reader goes by.
struct Wav {
    std::string riff;
    uint32_t riffSize = 0;
    uint16_t formatTag = 0, channels = 0, blockAlign = 0, containerBits = 0, validBits = 0;
    uint32_t sampleRate = 0, dataSize = 0;
    psb::Bytes data;
};

Wav ParseWav(const psb::Bytes& file) {
    Wav wav;
    if (file.size() < 12)
        return wav;
    wav.riff = std::string(file.begin(), file.begin() + 4);
    wav.riffSize = le32(file, 4);
    for (size_t at = 12; at + 8 <= file.size();) {
        const std::string id(file.begin() + long(at), file.begin() + long(at) + 4);
        const uint32_t size = le32(file, at + 4);
        const size_t body = at + 8;
        if (id == "fmt ") {
            wav.formatTag = le16(file, body);
            wav.channels = le16(file, body + 2);
            wav.sampleRate = le32(file, body + 4);
            wav.blockAlign = le16(file, body + 12);
            wav.containerBits = le16(file, body + 14);
            wav.validBits = size >= 40 ? le16(file, body + 18) : wav.containerBits;
        } else if (id == "data") {
            wav.dataSize = size;
            wav.data.assign(file.begin() + long(body), file.begin() + long(std::min<size_t>(body + size, file.size())));
            break;
        }
        at = body + size + (size & 1);
    }
    return wav;
}

// Writes `stream` through an LpcmWavOutput in two chunks split at `split`, and reads the file back.
Wav WriteSplit(const std::string& path, uint8_t formatByte, const psb::Bytes& stream, size_t split) {
    LpcmWavOutput out(std::make_unique<OutputStream>(path));
    const std::array<uint8_t, 3> header{0x00, formatByte, 0x80};
    out.write(header, stream.data(), split);
    out.write(header, stream.data() + split, stream.size() - split);
    out.close();
    return ParseWav(ReadAll(path));
}

TEST(LpcmWav, SamplesBecomeLittleEndianInEveryLayout) {
    TempDir dir;
    const std::string path = dir.file("a.wav");
    struct Case {
        const char* name;
        uint8_t formatByte; // quantization (2) sampling (2) reserved (1) channels - 1 (3)
        psb::Bytes stream, samples;
        uint16_t containerBits, validBits;
    };
    const Case cases[] = {
        // 16-bit stereo 48 kHz: frames of big-endian samples, two frames.
        {"16-bit", 0x01, {0x12, 0x34, 0xAB, 0xCD, 0x80, 0x00, 0x7F, 0xFF},
         {0x34, 0x12, 0xCD, 0xAB, 0x00, 0x80, 0xFF, 0x7F}, 16, 16},
        // 24-bit stereo 96 kHz, one group: upper words L0 R0 L1 R1, then low bytes L0 R0 L1 R1.
        {"24-bit", 0x91, {0x11, 0x12, 0x21, 0x22, 0x31, 0x32, 0x41, 0x42, 0x13, 0x23, 0x33, 0x43},
         {0x13, 0x12, 0x11, 0x23, 0x22, 0x21, 0x33, 0x32, 0x31, 0x43, 0x42, 0x41}, 24, 24},
        // 20-bit mono 48 kHz, one group: upper words S0 S1, then one byte of nibbles S0 (high) S1 (low).
        {"20-bit", 0x40, {0x81, 0x82, 0x7E, 0x7F, 0xA5}, {0xA0, 0x82, 0x81, 0x50, 0x7F, 0x7E}, 24, 20},
    };
    for (const Case& c : cases) {
        // Every split, a group cut anywhere, gives the same samples.
        for (size_t split = 0; split <= c.stream.size(); ++split) {
            const Wav wav = WriteSplit(path, c.formatByte, c.stream, split);
            ASSERT_EQ(wav.data, c.samples) << c.name << " split at " << split;
        }
        const Wav wav = WriteSplit(path, c.formatByte, c.stream, 0);
        EXPECT_EQ(wav.riff, "RIFF") << c.name;
        EXPECT_EQ(wav.containerBits, c.containerBits) << c.name;
        EXPECT_EQ(wav.validBits, c.validBits) << c.name;
        EXPECT_EQ(wav.formatTag, c.containerBits == 16 ? 0x0001 : 0xFFFE) << c.name;
    }
    const Wav stereo96 = WriteSplit(path, 0x91, cases[1].stream, 0);
    EXPECT_EQ(stereo96.channels, 2);
    EXPECT_EQ(stereo96.sampleRate, 96000u);
    EXPECT_EQ(stereo96.blockAlign, 6);
}

TEST(LpcmWav, SizesAtCloseAndFormatsOneWavCannotHold) {
    TempDir dir;
    // 24-bit mono, groups of 6 bytes: 2 groups and 4 bytes of a third, which is dropped.
    const Wav wav = WriteSplit(dir.file("a.wav"), 0x80, Filled(16, 3), 7);
    EXPECT_EQ(wav.riffSize, std::filesystem::file_size(dir.file("a.wav")) - 8);
    EXPECT_EQ(wav.dataSize, 12u);
    EXPECT_EQ(wav.data.size(), 12u);

    const psb::Bytes data(8, 0);
    LpcmWavOutput reserved(std::make_unique<OutputStream>(dir.file("reserved.wav")));
    EXPECT_THROW(reserved.write({0, 0xC1, 0x80}, data.data(), data.size()), Error); // quantization code 3
    EXPECT_THROW(reserved.write({0, 0x31, 0x80}, data.data(), data.size()), Error); // sampling code 3
    LpcmWavOutput out(std::make_unique<OutputStream>(dir.file("change.wav")));
    out.write({0x05, 0x01, 0x80}, data.data(), data.size());
    out.write({0x1F, 0x09, 0x00}, data.data(), data.size()); // frame number, reserved bit, dynamic range may change
    try {
        out.write({0x00, 0x03, 0x80}, data.data(), data.size()); // 4 channels instead of 2
        FAIL() << "a change of format was taken";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write \"" + dir.file("change.wav") + "\" as WAV: the LPCM format changes within the stream");
    }
}

TEST(LpcmWav, PastFourGiBTheFileBecomesRf64) {
    const LpcmFormat format = LpcmFormat::FromHeaderByte(0x01); // 16-bit stereo 48 kHz
    const uint64_t data = 5ull << 30;
    const std::string text = WavHeader(format, data);
    const psb::Bytes header(text.begin(), text.end());
    ASSERT_EQ(text.substr(0, 4), "RF64");
    EXPECT_EQ(le32(header, 4), 0xFFFFFFFFu);
    EXPECT_EQ(text.substr(12, 4), "ds64");
    auto le64 = [&](size_t at) { return le32(header, at) | uint64_t(le32(header, at + 4)) << 32; };
    EXPECT_EQ(le64(20), header.size() + data - 8);
    EXPECT_EQ(le64(28), data);
    EXPECT_EQ(le64(36), data / 4);
    EXPECT_EQ(le32(header, header.size() - 4), 0xFFFFFFFFu);
    // Just below the limit the file stays RIFF with its real sizes.
    EXPECT_EQ(WavHeader(format, 0xFFFFFFFFull - header.size()).substr(0, 4), "RIFF");

    // ffprobe reads the 64-bit sizes: a sparse file of 5 GiB of samples lasts 5 GiB / 192000 s.
    if (!psb::tools::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    TempDir dir;
    const std::string path = dir.file("big.wav");
    psb::writeFile(path, header);
    std::filesystem::resize_file(path, header.size() + data);
    const double duration = std::stod(psb::tools::jsonField(psb::tools::ffprobeJson(path, "-show_format"), "duration"));
    EXPECT_NEAR(duration, double(data) / 192000, 0.01);
}

// Read EVO, then Demux with WAV for LPCM, as the window's jobs run them.
struct WavDemux {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    RecordingUi ui;
    Jobs jobs{*state, ui};

    void run(const std::string& source, const std::string& folder) {
        ui.eEVOfile = source;
        ui.eWorkdir = folder;
        jobs.EVOadj();
        jobs.bReadEVOClick();
        ui.lpcmWav = true;
        jobs.bDemuxClick();
    }
};

class LpcmWavFfmpeg : public ::testing::Test {
protected:
    void SetUp() override {
        if (!psb::tools::haveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
    void Ffmpeg(const std::string& arguments) {
        ASSERT_EQ(psb::tools::run(psb::tools::ffmpegCommand(arguments) + " 2>/dev/null"), 0) << arguments;
    }
    // ffmpeg's samples of the first audio stream of `input`, as `format` (s16le, s32le).
    psb::Bytes Decoded(const std::string& input, const std::string& format) {
        const std::string out = dir.file("decoded." + format);
        Ffmpeg("-i " + input + " -map 0:a:0 -f " + format + " " + out);
        return ReadAll(out);
    }
    TempDir dir;
};

TEST_F(LpcmWavFfmpeg, EachWavDecodesToFfmpegsSamplesOfTheSource) {
    struct Case {
        const char* options;
        const char* format;
        uint16_t channels, bits;
    };
    const Case cases[] = {
        {"-ac 2", "s16le", 2, 16},
        {"-ac 6", "s16le", 6, 16},
        {"-ac 2 -sample_fmt s32", "s32le", 2, 24},
        {"-ac 1 -sample_fmt s32 -ar 96000", "s32le", 1, 24},
    };
    for (const Case& c : cases) {
        const std::string vob = dir.file("VTS_01_1.VOB");
        Ffmpeg("-f lavfi -i testsrc=size=720x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 "
               "-map 0:v -map 1:a -t 2 -c:v mpeg2video -c:a pcm_dvd " + std::string(c.options) + " -f dvd " + vob);
        WavDemux demux;
        demux.run(vob, dir.path().string());
        const std::string wavPath = dir.file("VTS_01_1.LPCM.stream.00.wav");
        ASSERT_TRUE(demux.ui.has("Creating " + wavPath)) << demux.ui.joined();
        const Wav wav = ParseWav(ReadAll(wavPath));
        EXPECT_EQ(wav.channels, c.channels) << c.options;
        EXPECT_EQ(wav.validBits, c.bits) << c.options;
        const psb::Bytes ours = Decoded(wavPath, c.format);
        ASSERT_GT(ours.size(), 100000u) << c.options;
        EXPECT_TRUE(ours == Decoded(vob, c.format)) << c.options;
    }
}

TEST_F(LpcmWavFfmpeg, TwentyBitGroupsAcrossPacketsDecodeAsFfmpegDecodesTheSource) {
    // 20-bit stereo 48 kHz in groups of two frames (10 bytes), packets cut inside groups.
    psb::Bytes pcm;
    for (int i = 0; i < 48000 / 10; ++i) {
        const psb::Bytes group = Filled(10, uint8_t(i * 13));
        pcm.insert(pcm.end(), group.begin(), group.end());
    }
    std::vector<psb::AccessUnit> units;
    const size_t unitBytes = 10 * 48; // 1/1000 s: 96 frames
    for (size_t at = 0, n = 0; at < pcm.size(); at += unitBytes, ++n)
        units.push_back(psb::AccessUnit{psb::Bytes(pcm.begin() + long(at), pcm.begin() + long(at + unitBytes)),
                                        90000 + n * 90, {}, false, 90});
    psb::ElementaryStream lpcm = psb::ElementaryStream::audio(0xA0, units);
    lpcm.lpcmHeader = {0x00, 0x41, 0x80};
    lpcm.granule = 1; // packets end anywhere
    const std::string vob = dir.file("VTS_01_1.VOB");
    psb::writeFile(vob, psb::muxProgramStream({lpcm}));

    WavDemux demux;
    demux.run(vob, dir.path().string());
    const std::string wavPath = dir.file("VTS_01_1.LPCM.stream.00.wav");
    const Wav wav = ParseWav(ReadAll(wavPath));
    EXPECT_EQ(wav.validBits, 20);
    EXPECT_EQ(wav.data.size(), pcm.size() / 10 * 12);
    const psb::Bytes ours = Decoded(wavPath, "s32le");
    ASSERT_EQ(ours.size(), pcm.size() / 10 * 16);
    EXPECT_TRUE(ours == Decoded(vob, "s32le"));
}

} // namespace
} // namespace halyard::test
