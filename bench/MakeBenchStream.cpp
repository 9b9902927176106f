// halyard-bench-stream OUT.VOB [GiB]
//
// Writes a disc program stream of at least GiB gibibytes (default 1) for the
// benchmark: MPEG-2 video (0xE0, about three quarters of the bytes), AC-3
// 0x80 and 0x81, DTS 0x8A, subpicture 0x20, a navigation pack at the start of
// each VOBU, 2048-byte packs.
//
// ffmpeg encodes a 20 s seed once; its elementary streams are cut into access
// units and looped with increasing time stamps. Packs go to the file one VOBU
// at a time, so memory stays the size of the seed whatever the output size.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "EsFrames.h"
#include "PsBuilder.h"
#include "PsMuxer.h"
#include "SubpictureBuilder.h"

namespace fs = std::filesystem;

namespace {

using psb::AccessUnit;
using psb::Bytes;
using psb::ElementaryStream;
using psb::kClock;
using psb::kPackSize;

constexpr int kSeedSeconds = 20;
constexpr int kFrameRate = 25;
constexpr uint64_t kFrameTicks = kClock / kFrameRate;
constexpr uint64_t kFirstPts = kClock / 2;
constexpr uint64_t kSubpictureInterval = 2 * kClock;
constexpr uint64_t kSubpictureDisplay = 3 * kClock / 2;
constexpr double kVobuSeconds = 0.4;  // every GOP of 12 pictures (0.48 s) opens a VOBU
constexpr uint64_t kScrLead = kClock / 2;
constexpr uint64_t kScrPerTick = 300;  // 27 MHz / 90 kHz
// About 10.7 Mbit/s of content does not fit the DVD rate; the HD DVD rate leaves room.
constexpr uint32_t kMuxRate = psb::kHdDvdMuxRate;
constexpr std::size_t kPacketRoom = kPackSize - psb::kPackHeaderSize;
constexpr uint16_t kAudioSyncAbsent = 0x3FFF;
constexpr uint32_t kSubpictureSyncAbsent = 0x3FFFFFFF;
constexpr uint8_t kSequenceEndCode = 0xB7;
constexpr uint64_t kGiB = uint64_t{1} << 30;

constexpr uint8_t kVideoId = 0xE0;
constexpr uint8_t kAc3First = 0x80;
constexpr uint8_t kAc3Second = 0x81;
constexpr uint8_t kDtsId = 0x8A;
constexpr uint8_t kSubpictureId = 0x20;

// ------------------------------------------------------------------ the seed

struct Seed {
    Bytes video;
    Bytes ac3First;
    Bytes ac3Second;
    Bytes dts;
};

// Video at 8 Mbit/s against 2.6 Mbit/s of audio puts video at about 75 % of the bytes.
// -bf 0 keeps decode order = display order, so PTS = DTS.
std::string seedCommand(const fs::path& dir) {
    const std::string seconds = std::to_string(kSeedSeconds);
    auto sine = [&](int hz) {
        return " -f lavfi -i sine=frequency=" + std::to_string(hz) + ":sample_rate=48000:duration=" + seconds;
    };
    auto out = [&](const char* name) { return " '" + (dir / name).string() + "'"; };
    return "ffmpeg -nostdin -v error -y"
           " -f lavfi -i testsrc=size=720x480:rate=" + std::to_string(kFrameRate) + ":duration=" + seconds +
           sine(440) + sine(660) + sine(880) +
           " -map 0:v -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M -bufsize 1835k -bf 0 -g 12"
           " -f mpeg2video" + out("seed.m2v") +
           " -map 1:a -ac 6 -c:a ac3 -b:a 640k -f ac3" + out("seed0.ac3") +
           " -map 2:a -ac 2 -c:a ac3 -b:a 448k -f ac3" + out("seed1.ac3") +
           " -map 3:a -ac 2 -c:a dca -strict -2 -b:a 1536k -f dts" + out("seed2.dts");
}

Seed encodeSeed() {
    std::string pattern = (fs::temp_directory_path() / "halyard-bench-seed-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    const fs::path dir = pattern;
    const std::string command = seedCommand(dir);
    const int status = std::system(command.c_str());
    Seed seed;
    if (status == 0) {
        seed.video = psb::readFile((dir / "seed.m2v").string());
        seed.ac3First = psb::readFile((dir / "seed0.ac3").string());
        seed.ac3Second = psb::readFile((dir / "seed1.ac3").string());
        seed.dts = psb::readFile((dir / "seed2.dts").string());
    }
    fs::remove_all(dir);
    if (status != 0) throw std::runtime_error("ffmpeg failed: " + command);
    return seed;
}

// A sequence end code at the end of the seed (some encoders write one) would
// end the sequence every 20 s in the looped stream, so it goes.
void dropSequenceEnd(std::vector<AccessUnit>& pictures) {
    if (pictures.empty()) return;
    Bytes& last = pictures.back().data;
    if (last.size() >= 4 && last[last.size() - 4] == 0 && last[last.size() - 3] == 0 &&
        last[last.size() - 2] == 1 && last.back() == kSequenceEndCode)
        last.resize(last.size() - 4);
}

std::vector<AccessUnit> subpictureUnits(uint64_t span) {
    const Bytes spu = psb::SubpictureUnit()
                          .bitmap(psb::Bitmap::testPattern(320, 40))
                          .position(200, 400)
                          .duration(kSubpictureDisplay)
                          .build();
    std::vector<AccessUnit> units;
    for (uint64_t t = 0; t < span; t += kSubpictureInterval) {
        AccessUnit unit;
        unit.data = spu;
        unit.pts = kFirstPts + t;
        unit.duration = kSubpictureDisplay;
        units.push_back(std::move(unit));
    }
    return units;
}

uint64_t spanOf(const std::vector<AccessUnit>& units) {
    if (units.empty()) return 0;
    return *units.back().pts + units.back().duration - *units.front().pts;
}

// ------------------------------------------------------------ looped streams

// One elementary stream repeated without end: loop k is the seed shifted by k
// periods. The seed is sent in batches, each through a Packetizer of its own;
// a batch of video is one GOP, so that each GOP starts a packet (and can open
// a VOBU) and its last packet ends in a padded pack, as on discs.
class LoopedStream {
public:
    LoopedStream(ElementaryStream seed, uint64_t period)
        : units_(std::move(seed.units)), seed_(std::move(seed)), period_(period),
          batchStarts_(batchStarts(seed_.kind, units_)), packetizer_(nextBatch()) {}

    psb::Packetizer& packetizer() {
        if (packetizer_.done()) packetizer_ = nextBatch();
        return packetizer_;
    }
    psb::StreamKind kind() const { return seed_.kind; }
    const AccessUnit& unit(std::size_t index) const { return packetizer_.stream().units[index]; }

private:
    static std::vector<std::size_t> batchStarts(psb::StreamKind kind, const std::vector<AccessUnit>& units) {
        std::vector<std::size_t> starts{0};
        if (kind == psb::StreamKind::Video)
            for (std::size_t u = 1; u < units.size(); ++u)
                if (units[u].keyframe) starts.push_back(u);
        return starts;
    }

    psb::Packetizer nextBatch() {
        const std::size_t begin = batchStarts_[batch_];
        const std::size_t end = batch_ + 1 < batchStarts_.size() ? batchStarts_[batch_ + 1] : units_.size();
        ElementaryStream part = seed_;
        part.units.assign(units_.begin() + static_cast<std::ptrdiff_t>(begin),
                          units_.begin() + static_cast<std::ptrdiff_t>(end));
        psb::es::shiftTimes(part.units, static_cast<int64_t>(loop_ * period_));
        if (loop_ > 0 || batch_ > 0) part.firstPacketPstd.reset();
        if (++batch_ == batchStarts_.size()) {
            batch_ = 0;
            ++loop_;
        }
        return psb::Packetizer(std::move(part));
    }

    std::vector<AccessUnit> units_;  // the seed's units
    ElementaryStream seed_;          // the stream's settings, without units
    uint64_t period_;
    std::vector<std::size_t> batchStarts_;
    std::size_t batch_ = 0;
    uint64_t loop_ = 0;
    psb::Packetizer packetizer_;
};

// --------------------------------------------------------------- the muxer

struct Vobu {
    uint64_t navPack = 0;  // pack number in the file
    psb::NavPack nav;
    uint64_t lastPack = 0;
    std::vector<std::optional<uint64_t>> firstPackOf;  // per stream
    std::optional<uint64_t> firstPts;
    uint64_t endPts = 0;
};

// Interleaves the looped streams in decode-time order into packs, keeps the
// packs of the current VOBU in memory and writes them once the VOBU is
// complete and its navigation pack knows the VOBU's end address and sync
// entries. The end PTM of the video object is known only at the end: the
// navigation packs are patched then.
class StreamingMuxer {
public:
    StreamingMuxer(std::vector<LoopedStream> streams, std::FILE* out) : streams_(std::move(streams)), out_(out) {
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            if (streams_[i].kind() == psb::StreamKind::Video && !video_) video_ = i;
            if (streams_[i].kind() == psb::StreamKind::Audio) audio_.push_back(i);
            if (streams_[i].kind() == psb::StreamKind::Subpicture) subpictures_.push_back(i);
        }
        if (!video_) throw std::invalid_argument("no video stream");
        packsOf_.resize(streams_.size());
    }

    void run(uint64_t targetBytes) {
        for (;;) {
            const std::size_t i = pickStream();
            const uint64_t time = streams_[i].packetizer().nextTime();
            if (startsVobu(i, time)) {
                if (packCount_ * kPackSize >= targetBytes) break;
                openVobu(time);
            }
            writePacket(i, time);
        }
        flushVobu();
        patchEndPtm();
    }

    uint64_t packCount() const { return packCount_; }
    uint64_t vobuCount() const { return navs_.size(); }
    uint64_t packsOf(std::size_t i) const { return packsOf_[i]; }

private:
    std::size_t pickStream() {
        std::size_t best = 0;
        for (std::size_t i = 1; i < streams_.size(); ++i)
            if (streams_[i].packetizer().nextTime() < streams_[best].packetizer().nextTime()) best = i;
        return best;
    }

    bool startsVobu(std::size_t i, uint64_t time) {
        if (!vobu_) return true;
        if (i != *video_) return false;
        if (time < vobuStartTime_ + static_cast<uint64_t>(kVobuSeconds * kClock)) return false;
        return streams_[i].packetizer().atKeyframe();
    }

    uint64_t nextScr(uint64_t time) {
        const uint64_t wanted = time > kScrLead ? (time - kScrLead) * kScrPerTick : 0;
        const uint64_t packTicks = kPackSize * 27'000'000ull / (uint64_t{kMuxRate} * 50);
        scr27MHz_ = packCount_ == 0 ? wanted : std::max(scr27MHz_ + packTicks, wanted);
        return scr27MHz_;
    }

    void appendPack(const Bytes& pack) {
        buffer_.insert(buffer_.end(), pack.begin(), pack.end());
        ++packCount_;
    }

    void openVobu(uint64_t time) {
        flushVobu();
        Vobu vobu;
        vobu.navPack = packCount_;
        vobu.lastPack = packCount_;
        vobu.firstPackOf.resize(streams_.size());
        vobu.nav.header(psb::PackHeader().scr27MHz(nextScr(time)).muxRate(kMuxRate))
            .systemHeader(psb::SystemHeader::dvd(static_cast<uint8_t>(audio_.size()), 1).rateBound(kMuxRate))
            .layout(psb::NavLayout::Vob)
            .startPtm(static_cast<uint32_t>(kFirstPts))
            .packNumber(static_cast<uint32_t>(packCount_));
        appendPack(vobu.nav.build());  // rebuilt when the VOBU is complete
        vobu_ = std::move(vobu);
        vobuStartTime_ = time;
    }

    void writePacket(std::size_t i, uint64_t time) {
        std::vector<std::size_t> begun;
        const psb::Pes pes = streams_[i].packetizer().next(kPacketRoom, &begun);
        const uint64_t pack = packCount_;
        appendPack(psb::Pack().header(psb::PackHeader().scr27MHz(nextScr(time)).muxRate(kMuxRate)).add(pes.build()).build());
        ++packsOf_[i];
        Vobu& vobu = *vobu_;
        vobu.lastPack = pack;
        if (!vobu.firstPackOf[i]) vobu.firstPackOf[i] = pack;
        if (i != *video_) return;
        for (std::size_t u : begun) {
            const AccessUnit& unit = streams_[i].unit(u);
            vobu.firstPts = std::min(vobu.firstPts.value_or(*unit.pts), *unit.pts);
            vobu.endPts = std::max(vobu.endPts, *unit.pts + unit.duration);
            videoEnd_ = std::max(videoEnd_, *unit.pts + unit.duration);
        }
    }

    // Completes the navigation pack of the current VOBU and writes the VOBU out.
    void flushVobu() {
        if (!vobu_) return;
        Vobu& vobu = *vobu_;
        vobu.nav.vobuEndAddress(static_cast<uint32_t>(vobu.lastPack - vobu.navPack))
            .vobuStartPtm(static_cast<uint32_t>(vobu.firstPts.value_or(0)))
            .vobuEndPtm(static_cast<uint32_t>(std::max(vobu.endPts, vobu.firstPts.value_or(0))));
        for (std::size_t k = 0; k < audio_.size() && k < psb::dsi::kAudioSyncCount; ++k) {
            const auto pack = vobu.firstPackOf[audio_[k]];
            vobu.nav.audioSync(k, pack ? static_cast<uint16_t>(*pack - vobu.navPack) : kAudioSyncAbsent);
        }
        for (std::size_t k = 0; k < subpictures_.size() && k < psb::dsi::kSubpictureSyncCount; ++k) {
            const auto pack = vobu.firstPackOf[subpictures_[k]];
            vobu.nav.subpictureSync(k, pack ? static_cast<uint32_t>(*pack - vobu.navPack) : kSubpictureSyncAbsent);
        }
        const Bytes nav = vobu.nav.build();
        std::copy(nav.begin(), nav.end(), buffer_.begin());
        write(buffer_.data(), buffer_.size());
        buffer_.clear();
        navs_.push_back(std::move(vobu));
        vobu_.reset();
    }

    void patchEndPtm() {
        for (Vobu& vobu : navs_) {
            vobu.nav.endPtm(static_cast<uint32_t>(videoEnd_));
            const Bytes nav = vobu.nav.build();
            if (std::fseek(out_, static_cast<long>(vobu.navPack * kPackSize), SEEK_SET) != 0)
                throw std::runtime_error("seek failed");
            write(nav.data(), nav.size());
        }
        std::fseek(out_, 0, SEEK_END);
    }

    void write(const uint8_t* data, std::size_t size) {
        if (std::fwrite(data, 1, size, out_) != size) throw std::runtime_error("write failed");
    }

    std::vector<LoopedStream> streams_;
    std::FILE* out_;
    std::optional<std::size_t> video_;
    std::vector<std::size_t> audio_;
    std::vector<std::size_t> subpictures_;
    uint64_t scr27MHz_ = 0;
    uint64_t packCount_ = 0;
    uint64_t vobuStartTime_ = 0;
    uint64_t videoEnd_ = 0;
    std::optional<Vobu> vobu_;
    std::vector<Vobu> navs_;  // navigation packs written so far, for the end PTM
    std::vector<uint64_t> packsOf_;
    Bytes buffer_;
};

std::vector<LoopedStream> loopedStreams(const Seed& seed) {
    auto pictures = psb::es::splitMpeg2Video(seed.video, kFirstPts, kFrameTicks);
    dropSequenceEnd(pictures);
    const uint64_t period = pictures.size() * kFrameTicks;
    auto ac3First = psb::es::splitAc3(seed.ac3First, kFirstPts);
    auto ac3Second = psb::es::splitAc3(seed.ac3Second, kFirstPts);
    auto dts = psb::es::splitDts(seed.dts, kFirstPts);

    std::vector<LoopedStream> streams;
    streams.emplace_back(ElementaryStream::video(kVideoId, std::move(pictures)), period);
    // Each audio stream loops with its own frame timing so that its time stamps stay continuous.
    const uint64_t ac3FirstSpan = spanOf(ac3First);
    const uint64_t ac3SecondSpan = spanOf(ac3Second);
    const uint64_t dtsSpan = spanOf(dts);
    streams.emplace_back(ElementaryStream::audio(kAc3First, std::move(ac3First)), ac3FirstSpan);
    streams.emplace_back(ElementaryStream::audio(kAc3Second, std::move(ac3Second)), ac3SecondSpan);
    streams.emplace_back(ElementaryStream::audio(kDtsId, std::move(dts)), dtsSpan);
    streams.emplace_back(ElementaryStream::subpicture(kSubpictureId, subpictureUnits(period)), period);
    return streams;
}

const char* const kStreamNames[] = {"video 0xE0", "AC-3 0x80", "AC-3 0x81", "DTS 0x8A", "subpicture 0x20"};

int usage() {
    std::fprintf(stderr, "usage: halyard-bench-stream OUT.VOB [GiB]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) return usage();
    double gib = 1.0;
    if (argc == 3) {
        char* end = nullptr;
        gib = std::strtod(argv[2], &end);
        if (end == argv[2] || *end != '\0' || gib <= 0) return usage();
    }
    const uint64_t target = static_cast<uint64_t>(gib * static_cast<double>(kGiB));
    try {
        const Seed seed = encodeSeed();
        std::FILE* out = std::fopen(argv[1], "wb");
        if (!out) throw std::runtime_error(std::string("cannot create ") + argv[1]);
        StreamingMuxer muxer(loopedStreams(seed), out);
        muxer.run(target);
        if (std::fclose(out) != 0) throw std::runtime_error("write failed");

        const double total = static_cast<double>(muxer.packCount());
        std::printf("%s: %llu bytes, %llu packs, %llu VOBUs\n", argv[1],
                    static_cast<unsigned long long>(muxer.packCount() * kPackSize),
                    static_cast<unsigned long long>(muxer.packCount()),
                    static_cast<unsigned long long>(muxer.vobuCount()));
        for (std::size_t i = 0; i < std::size(kStreamNames); ++i)
            std::printf("  %-16s %5.1f %% of packs\n", kStreamNames[i], 100.0 * muxer.packsOf(i) / total);
        std::printf("  %-16s %5.1f %% of packs\n", "navigation", 100.0 * muxer.vobuCount() / total);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halyard-bench-stream: %s\n", e.what());
        return 1;
    }
    return 0;
}
