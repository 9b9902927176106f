#include "PsMuxer.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace psb {

namespace {

constexpr std::size_t kPacketRoom = kPackSize - kPackHeaderSize;  // one packet per pack
constexpr std::size_t kMinimumRoom = 64;
constexpr uint16_t kAudioSyncAbsent = 0x3FFF;
constexpr uint32_t kSubpictureSyncAbsent = 0x3FFFFFFF;
constexpr uint64_t kScrPerTick = 300;  // 27 MHz / 90 kHz

// P-STD buffer sizes of the first packet of a stream, as DVD muxers write them.
constexpr std::pair<bool, uint16_t> kVideoPstd{true, 232};  // 232 KiB
constexpr std::pair<bool, uint16_t> kPrivatePstd{true, 58};  // 58 KiB

}  // namespace

// ---------------------------------------------------------- ElementaryStream

ElementaryStream ElementaryStream::video(uint8_t streamId, std::vector<AccessUnit> units) {
    ElementaryStream s;
    s.kind = StreamKind::Video;
    s.streamId = streamId;
    s.firstPacketPstd = kVideoPstd;
    s.units = std::move(units);
    return s;
}

ElementaryStream ElementaryStream::vc1(uint8_t extension, std::vector<AccessUnit> units) {
    ElementaryStream s = video(sid::kExtendedStreamId, std::move(units));
    s.streamIdExtension = extension;
    return s;
}

ElementaryStream ElementaryStream::audio(uint8_t substreamId, std::vector<AccessUnit> units) {
    ElementaryStream s;
    s.kind = StreamKind::Audio;
    s.streamId = sid::kPrivateStream1;
    s.substreamId = substreamId;
    s.firstPacketPstd = kPrivatePstd;
    s.units = std::move(units);
    return s;
}

ElementaryStream ElementaryStream::subpicture(uint8_t substreamId, std::vector<AccessUnit> units) {
    ElementaryStream s = audio(substreamId, std::move(units));
    s.kind = StreamKind::Subpicture;
    s.unitPerPacket = true;
    return s;
}

uint64_t ElementaryStream::decodeTime(const AccessUnit& unit) {
    if (unit.dts) return *unit.dts;
    return unit.pts.value_or(0);
}

// ---------------------------------------------------------------- Packetizer

Packetizer::Packetizer(ElementaryStream stream) : stream_(std::move(stream)) {
    // Empty units carry nothing to send; dropping them keeps unit starts distinct.
    std::erase_if(stream_.units, [](const AccessUnit& u) { return u.data.empty(); });
    for (const auto& unit : stream_.units) {
        if (unit.keyframe) keyframeStarts_.push_back(data_.size());
        starts_.push_back(data_.size());
        data_.insert(data_.end(), unit.data.begin(), unit.data.end());
    }
    total_ = data_.size();
    if (stream_.granule == 0) stream_.granule = 1;
}

std::size_t Packetizer::unitAt(std::size_t offset) const {
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    return static_cast<std::size_t>(it - starts_.begin()) - 1;
}

std::size_t Packetizer::unitStartingFrom(std::size_t offset) const {
    auto it = std::lower_bound(starts_.begin(), starts_.end(), offset);
    return static_cast<std::size_t>(it - starts_.begin());
}

uint64_t Packetizer::nextTime() const {
    // Units without time stamps take the time of the last unit that had one.
    for (std::size_t u = unitAt(cursor_) + 1; u-- > 0;) {
        const AccessUnit& unit = stream_.units[u];
        if (unit.pts || unit.dts) return ElementaryStream::decodeTime(unit);
    }
    return 0;
}

bool Packetizer::atUnitStart() const {
    return !done() && std::binary_search(starts_.begin(), starts_.end(), cursor_);
}

bool Packetizer::atKeyframe() const { return atUnitStart() && stream_.units[unitAt(cursor_)].keyframe; }

Pes Packetizer::basePacket() const {
    Pes pes(stream_.streamId);
    if (stream_.streamIdExtension) pes.streamIdExtension(*stream_.streamIdExtension);
    if (stream_.substreamId) {
        pes.substream(*stream_.substreamId);
        pes.lpcmHeader(stream_.lpcmHeader[0], stream_.lpcmHeader[1], stream_.lpcmHeader[2]);
        pes.trueHdHeaderByte(stream_.trueHdHeaderByte);
    }
    return pes;
}

Pes Packetizer::next(std::size_t room, std::vector<std::size_t>* begun) {
    if (done()) throw std::logic_error("Packetizer::next: stream exhausted");
    if (room < kMinimumRoom) throw std::invalid_argument("Packetizer::next: room too small");
    const std::size_t remaining = total_ - cursor_;
    const std::size_t firstStart = unitStartingFrom(cursor_);
    const bool unitAhead = firstStart < starts_.size();

    auto limit = [&](std::size_t n) {
        n = std::min(n, remaining);
        if (n < remaining) n -= n % stream_.granule;
        if (stream_.unitPerPacket) {
            const std::size_t unitEnd = unitAt(cursor_) + 1 < starts_.size() ? starts_[unitAt(cursor_) + 1] : total_;
            n = std::min(n, unitEnd - cursor_);
        }
        // A keyframe begins a packet, so that a VOBU can start right before it.
        auto key = std::upper_bound(keyframeStarts_.begin(), keyframeStarts_.end(), cursor_);
        if (key != keyframeStarts_.end() && *key < cursor_ + n) n = *key - cursor_;
        return n;
    };

    // A packet in which a unit begins carries that unit's time stamps.
    Pes pes = basePacket();
    std::size_t n = 0;
    bool stamped = false;
    if (unitAhead) {
        const AccessUnit& unit = stream_.units[firstStart];
        Pes withTimes = basePacket();
        if (unit.pts) {
            withTimes.pts(*unit.pts);
            if (unit.dts && *unit.dts != *unit.pts) withTimes.dts(*unit.dts);
            if (firstPacket_ && stream_.firstPacketPstd && starts_[firstStart] == cursor_)
                withTimes.pstd(stream_.firstPacketPstd->first, stream_.firstPacketPstd->second);
        }
        const std::size_t candidate = limit(withTimes.payloadRoom(room));
        if (starts_[firstStart] < cursor_ + candidate) {
            pes = withTimes;
            n = candidate;
            stamped = true;
        }
    }
    if (!stamped) {
        n = limit(pes.payloadRoom(room));
        // Stop short of the next unit so that its packet can carry its time stamps.
        if (unitAhead) n = std::min(n, starts_[firstStart] - cursor_);
    }
    if (n == 0) throw std::logic_error("Packetizer::next: no payload fits");

    const std::size_t endStart = unitStartingFrom(cursor_ + n);
    const std::size_t framesBegun = endStart - firstStart;
    if (pes.substreamId()) {
        pes.frameCount(static_cast<uint8_t>(std::min<std::size_t>(framesBegun, 255)));
        const std::size_t pointer =
            framesBegun ? starts_[firstStart] - cursor_ + substreamExtraBytes(*pes.substreamId()) + 1 : 0;
        pes.firstAccessUnit(static_cast<uint16_t>(pointer));
    }
    if (begun)
        for (std::size_t u = firstStart; u < endStart; ++u) begun->push_back(u);

    pes.payload(data_.data() + cursor_, n);
    // A gap too small for a padding packet becomes PES header stuffing.
    const std::size_t gap = room - std::min(room, pes.size());
    if (gap > 0 && gap < kPacketPrefixSize) pes.stuffing(gap);

    cursor_ += n;
    firstPacket_ = false;
    return pes;
}

// ------------------------------------------------------------------- muxing

namespace {

struct Vobu {
    std::size_t navPack = 0;
    NavPack nav;
    std::size_t lastPack = 0;
    std::vector<std::optional<std::size_t>> firstPackOf;  // per stream
    std::optional<uint64_t> firstPts;
    uint64_t endPts = 0;
};

uint64_t unitEnd(const AccessUnit& unit, uint64_t fallbackDuration) {
    return unit.pts.value_or(0) + (unit.duration ? unit.duration : fallbackDuration);
}

// Start and end of presentation of the given streams' units.
std::pair<uint64_t, uint64_t> presentationSpan(const std::vector<const ElementaryStream*>& streams) {
    uint64_t first = std::numeric_limits<uint64_t>::max();
    uint64_t last = 0;
    for (const auto* s : streams) {
        std::vector<uint64_t> pts;
        for (const auto& u : s->units)
            if (u.pts) pts.push_back(*u.pts);
        std::sort(pts.begin(), pts.end());
        const uint64_t step = pts.size() > 1 ? pts[pts.size() - 1] - pts[pts.size() - 2] : 0;
        for (const auto& u : s->units) {
            if (!u.pts) continue;
            first = std::min(first, *u.pts);
            last = std::max(last, unitEnd(u, step));
        }
    }
    if (first == std::numeric_limits<uint64_t>::max()) first = 0;
    return {first, last};
}

class Multiplexer {
public:
    Multiplexer(const std::vector<ElementaryStream>& streams, const MuxOptions& options)
        : options_(options) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            packetizers_.emplace_back(streams[i]);
            const StreamKind kind = streams[i].kind;
            if (kind == StreamKind::Video && !primaryVideo_) primaryVideo_ = i;
            if (kind == StreamKind::Video) ++videoCount_;
            if (kind == StreamKind::Audio) audioStreams_.push_back(i);
            if (kind == StreamKind::Subpicture) subpictureStreams_.push_back(i);
        }
        primaryHasKeyframes_ = primaryVideo_ && std::any_of(streams[*primaryVideo_].units.begin(),
                                                            streams[*primaryVideo_].units.end(),
                                                            [](const AccessUnit& u) { return u.keyframe; });
        std::vector<const ElementaryStream*> timed;
        if (primaryVideo_) timed.push_back(&streams[*primaryVideo_]);
        else for (const auto& s : streams) timed.push_back(&s);
        const auto [first, last] = presentationSpan(timed);
        startPtm_ = options.startPtm.value_or(static_cast<uint32_t>(first));
        endPtm_ = options.endPtm.value_or(static_cast<uint32_t>(last));
        packTicks27MHz_ = kPackSize * 27'000'000ull / (uint64_t{options.muxRate ? options.muxRate : 1} * 50);
    }

    Bytes run() {
        while (auto next = pickStream()) {
            const std::size_t i = *next;
            const uint64_t time = packetizers_[i].nextTime();
            if (startsVobu(i, time)) openVobu(time);
            writePacket(i, time);
        }
        finishNavPacks();
        return std::move(out_);
    }

private:
    std::optional<std::size_t> pickStream() const {
        std::optional<std::size_t> best;
        for (std::size_t i = 0; i < packetizers_.size(); ++i) {
            if (packetizers_[i].done()) continue;
            if (!best || packetizers_[i].nextTime() < packetizers_[*best].nextTime()) best = i;
        }
        return best;
    }

    bool startsVobu(std::size_t i, uint64_t time) const {
        if (!options_.navPacks) return false;
        if (vobus_.empty()) return true;
        const auto threshold = static_cast<uint64_t>(options_.vobuSeconds * kClock);
        if (time < vobuStartTime_ + threshold) return false;
        if (!primaryVideo_) return packetizers_[i].atUnitStart();
        if (i != *primaryVideo_) return false;
        return primaryHasKeyframes_ ? packetizers_[i].atKeyframe() : packetizers_[i].atUnitStart();
    }

    uint64_t nextScr(uint64_t time) {
        const uint64_t wanted = time > options_.scrLead ? (time - options_.scrLead) * kScrPerTick : 0;
        scr27MHz_ = packCount_ == 0 ? wanted : std::max(scr27MHz_ + packTicks27MHz_, wanted);
        return scr27MHz_;
    }

    PackHeader packHeader(uint64_t scr) const {
        return PackHeader().scr27MHz(scr).muxRate(options_.muxRate);
    }

    void appendPack(const Bytes& pack) {
        out_.insert(out_.end(), pack.begin(), pack.end());
        ++packCount_;
    }

    void openVobu(uint64_t time) {
        Vobu vobu;
        vobu.navPack = packCount_;
        vobu.lastPack = packCount_;
        vobu.firstPackOf.resize(packetizers_.size());
        SystemHeader sys = options_.systemHeader.value_or(
            SystemHeader::dvd(static_cast<uint8_t>(audioStreams_.size()), static_cast<uint8_t>(videoCount_))
                .rateBound(options_.muxRate));
        vobu.nav.header(packHeader(nextScr(time)))
            .systemHeader(sys)
            .layout(options_.navLayout)
            .vobNumber(options_.vobNumber)
            .cellNumber(options_.cellNumber)
            .startPtm(startPtm_)
            .endPtm(endPtm_)
            .packNumber(static_cast<uint32_t>(packCount_));
        appendPack(vobu.nav.build());  // rebuilt with the VOBU's addresses at the end
        const bool firstVobu = vobus_.empty();
        vobus_.push_back(std::move(vobu));
        vobuStartTime_ = time;
        if (firstVobu && options_.programStreamMap)
            appendPack(Pack().header(packHeader(nextScr(time))).add(options_.programStreamMap->build()).build());
        vobus_.back().lastPack = packCount_ - 1;
    }

    void writePacket(std::size_t i, uint64_t time) {
        std::vector<std::size_t> begun;
        const Pes pes = packetizers_[i].next(kPacketRoom, &begun);
        const std::size_t pack = packCount_;
        appendPack(Pack().header(packHeader(nextScr(time))).add(pes.build()).build());
        if (vobus_.empty()) return;
        Vobu& vobu = vobus_.back();
        vobu.lastPack = pack;
        if (!vobu.firstPackOf[i]) vobu.firstPackOf[i] = pack;
        const bool countsForVobu = !primaryVideo_ || packetizers_[i].stream().kind == StreamKind::Video;
        if (!countsForVobu) return;
        for (std::size_t u : begun) {
            const AccessUnit& unit = packetizers_[i].stream().units[u];
            if (!unit.pts) continue;
            vobu.firstPts = std::min(vobu.firstPts.value_or(*unit.pts), *unit.pts);
            vobu.endPts = std::max(vobu.endPts, unitEnd(unit, 0));
        }
    }

    void finishNavPacks() {
        for (Vobu& vobu : vobus_) {
            vobu.nav.vobuEndAddress(static_cast<uint32_t>(vobu.lastPack - vobu.navPack));
            vobu.nav.vobuStartPtm(static_cast<uint32_t>(vobu.firstPts.value_or(0)));
            vobu.nav.vobuEndPtm(static_cast<uint32_t>(std::max(vobu.endPts, vobu.firstPts.value_or(0))));
            for (std::size_t k = 0; k < audioStreams_.size(); ++k) {
                const std::size_t entry = syncEntry(audioStreams_[k], k);
                if (entry >= dsi::kAudioSyncCount) continue;
                const auto pack = vobu.firstPackOf[audioStreams_[k]];
                vobu.nav.audioSync(entry, pack ? static_cast<uint16_t>(*pack - vobu.navPack) : kAudioSyncAbsent);
            }
            for (std::size_t k = 0; k < subpictureStreams_.size(); ++k) {
                const std::size_t entry = syncEntry(subpictureStreams_[k], k);
                if (entry >= dsi::kSubpictureSyncCount) continue;
                const auto pack = vobu.firstPackOf[subpictureStreams_[k]];
                vobu.nav.subpictureSync(entry, pack ? static_cast<uint32_t>(*pack - vobu.navPack)
                                                    : kSubpictureSyncAbsent);
            }
            const Bytes nav = vobu.nav.build();
            std::copy(nav.begin(), nav.end(), out_.begin() + static_cast<std::ptrdiff_t>(vobu.navPack * kPackSize));
        }
    }

    // The DSI entry of the k-th audio or subpicture stream of the list, which is stream `i`.
    std::size_t syncEntry(std::size_t i, std::size_t k) const {
        if (!options_.syncEntryPerStreamNumber) return k;
        const uint8_t id = packetizers_[i].stream().substreamId.value_or(0);
        if (packetizers_[i].stream().kind == StreamKind::Subpicture) return id & 0x1F;
        return substreamFamily(id) == SubstreamFamily::Eac3 ? id & 0x0F : id & 0x07;
    }

    const MuxOptions& options_;
    std::vector<Packetizer> packetizers_;
    std::optional<std::size_t> primaryVideo_;
    bool primaryHasKeyframes_ = false;
    std::size_t videoCount_ = 0;
    std::vector<std::size_t> audioStreams_;
    std::vector<std::size_t> subpictureStreams_;
    uint32_t startPtm_ = 0;
    uint32_t endPtm_ = 0;
    uint64_t packTicks27MHz_ = 0;
    uint64_t scr27MHz_ = 0;
    std::size_t packCount_ = 0;
    uint64_t vobuStartTime_ = 0;
    std::vector<Vobu> vobus_;
    Bytes out_;
};

}  // namespace

Bytes muxProgramStream(const std::vector<ElementaryStream>& streams, const MuxOptions& options) {
    return Multiplexer(streams, options).run();
}

Bytes packWith(const Pes& pes, uint64_t scrBase, uint32_t muxRate) {
    return Pack().header(PackHeader().scr(scrBase).muxRate(muxRate)).add(pes.build()).build();
}

}  // namespace psb
