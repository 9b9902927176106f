#include "EsFrames.h"

#include <array>
#include <stdexcept>

namespace psb::es {

namespace {

// MPEG-2 video start code values (the byte after 00 00 01).
constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kGroupStart = 0xB8;
constexpr uint8_t kPictureTypeB = 3;

// H.264 nal_unit_type values.
constexpr uint8_t kNalSliceNonIdr = 1;
constexpr uint8_t kNalSliceIdr = 5;
constexpr uint8_t kNalSps = 7;
constexpr uint8_t kNalAud = 9;

// VC-1 start code suffixes.
constexpr uint8_t kVc1Frame = 0x0D;
constexpr uint8_t kVc1EntryPoint = 0x0E;
constexpr uint8_t kVc1SequenceHeader = 0x0F;

constexpr uint16_t kAc3Syncword = 0x0B77;
constexpr uint32_t kDtsSync = 0x7FFE8001;
constexpr uint32_t kTrueHdMajorSync = 0xF8726FBA;
constexpr uint32_t kMlpMajorSync = 0xF8726FBB;

constexpr std::array<uint16_t, 19> kAc3Kbps = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                               192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::array<uint32_t, 3> kAc3SampleRates = {48000, 44100, 32000};
constexpr std::array<int, 4> kEac3Blocks = {1, 2, 3, 6};

// Positions of the 00 00 01 prefixes in `es`.
std::vector<std::size_t> startCodes(const Bytes& es) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i + 3 <= es.size(); ++i) {
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) {
            out.push_back(i);
            i += 2;
        }
    }
    return out;
}

uint32_t be32(const Bytes& b, std::size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

// Cuts `es` at the given unit starts into units.
std::vector<AccessUnit> cutAt(const Bytes& es, const std::vector<std::size_t>& starts) {
    std::vector<AccessUnit> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : es.size();
        AccessUnit u;
        u.data.assign(es.begin() + static_cast<std::ptrdiff_t>(starts[k]), es.begin() + static_cast<std::ptrdiff_t>(end));
        units.push_back(std::move(u));
    }
    return units;
}

uint64_t ticksFor(uint64_t samples, uint32_t sampleRate) { return samples * kClock / sampleRate; }

}  // namespace

std::vector<AccessUnit> splitMpeg2Video(const Bytes& es, uint64_t firstPts, uint64_t frameDuration) {
    std::vector<std::size_t> starts;
    bool pictureSeen = false;  // the current unit already holds a picture
    for (std::size_t p : startCodes(es)) {
        if (p + 3 >= es.size()) break;
        const uint8_t code = es[p + 3];
        if (code != kPictureStart && code != kSequenceHeader && code != kGroupStart) continue;
        if (starts.empty() || pictureSeen) {
            starts.push_back(p);
            pictureSeen = false;
        }
        if (code == kPictureStart) pictureSeen = true;
    }
    std::vector<AccessUnit> units = cutAt(es, starts);

    bool hasB = false;
    std::vector<int> temporalReference(units.size(), 0);
    std::vector<bool> opensGop(units.size(), false);
    for (std::size_t k = 0; k < units.size(); ++k) {
        const Bytes& d = units[k].data;
        for (std::size_t p : startCodes(d)) {
            if (p + 5 >= d.size()) break;
            if (d[p + 3] == kSequenceHeader) units[k].keyframe = true;
            if (d[p + 3] == kSequenceHeader || d[p + 3] == kGroupStart) opensGop[k] = true;
            if (d[p + 3] == kPictureStart) {
                // temporal_reference(10) picture_coding_type(3)
                temporalReference[k] = (d[p + 4] << 2) | (d[p + 5] >> 6);
                if (((d[p + 5] >> 3) & 0x07) == kPictureTypeB) hasB = true;
                break;
            }
        }
    }
    uint64_t gopBase = 0;
    uint64_t picturesInGop = 0;
    for (std::size_t k = 0; k < units.size(); ++k) {
        if (opensGop[k] && k > 0) {
            gopBase += picturesInGop;
            picturesInGop = 0;
        }
        ++picturesInGop;
        const uint64_t pts = firstPts + (gopBase + static_cast<uint64_t>(temporalReference[k])) * frameDuration;
        const uint64_t dts = firstPts + k * frameDuration - (hasB ? frameDuration : 0);
        units[k].pts = pts;
        if (dts != pts) units[k].dts = dts;
        units[k].duration = frameDuration;
    }
    return units;
}

std::vector<AccessUnit> splitH264(const Bytes& es, uint64_t firstPts, uint64_t frameDuration) {
    const std::vector<std::size_t> codes = startCodes(es);
    bool hasAud = false;
    for (std::size_t p : codes)
        if (p + 3 < es.size() && (es[p + 3] & 0x1F) == kNalAud) hasAud = true;

    std::vector<std::size_t> starts;
    bool sliceSeen = false;
    for (std::size_t p : codes) {
        if (p + 4 >= es.size()) break;
        const uint8_t type = es[p + 3] & 0x1F;
        const bool isSlice = type == kNalSliceNonIdr || type == kNalSliceIdr;
        // first_mb_in_slice is ue(v): 0 is the single bit 1.
        const bool firstSlice = isSlice && (es[p + 4] & 0x80);
        bool begins = false;
        if (hasAud) begins = type == kNalAud;
        else begins = starts.empty() || (sliceSeen && (type == kNalSps || firstSlice));
        if (begins) {
            // A zero_byte before the prefix belongs to the new unit.
            starts.push_back(p > 0 && es[p - 1] == 0 && (starts.empty() || p - 1 > starts.back()) ? p - 1 : p);
            sliceSeen = false;
        }
        if (isSlice) sliceSeen = true;
    }
    if (!starts.empty()) starts.front() = 0;
    std::vector<AccessUnit> units = cutAt(es, starts);
    for (std::size_t k = 0; k < units.size(); ++k) {
        for (std::size_t p : startCodes(units[k].data))
            if (p + 3 < units[k].data.size() && (units[k].data[p + 3] & 0x1F) == kNalSliceIdr) units[k].keyframe = true;
        units[k].pts = firstPts + k * frameDuration;
        units[k].duration = frameDuration;
    }
    return units;
}

std::vector<AccessUnit> splitVc1(const Bytes& es, uint64_t firstPts, uint64_t frameDuration) {
    std::vector<std::size_t> starts;
    bool frameSeen = false;
    for (std::size_t p : startCodes(es)) {
        if (p + 3 >= es.size()) break;
        const uint8_t code = es[p + 3];
        if (code != kVc1Frame && code != kVc1EntryPoint && code != kVc1SequenceHeader) continue;
        if (starts.empty() || frameSeen) {
            starts.push_back(p);
            frameSeen = false;
        }
        if (code == kVc1Frame) frameSeen = true;
    }
    std::vector<AccessUnit> units = cutAt(es, starts);
    for (std::size_t k = 0; k < units.size(); ++k) {
        const Bytes& d = units[k].data;
        units[k].keyframe = d.size() > 3 && (d[3] == kVc1SequenceHeader || d[3] == kVc1EntryPoint);
        units[k].pts = firstPts + k * frameDuration;
        units[k].duration = frameDuration;
    }
    return units;
}

std::size_t ac3FrameSize(uint8_t fscod, uint8_t frmsizecod) {
    if (fscod > 2 || frmsizecod / 2 >= kAc3Kbps.size()) return 0;
    const uint32_t kbps = kAc3Kbps[frmsizecod / 2];
    switch (fscod) {
        case 0: return kbps * 4;                                        // 48 kHz: 2 words per kbit/s
        case 1: return 2 * (kbps * 96000 / 44100 + (frmsizecod & 1));  // 44.1 kHz, odd codes one word more
        default: return kbps * 6;                                       // 32 kHz
    }
}

std::vector<AccessUnit> splitAc3(const Bytes& es, uint64_t firstPts) {
    std::vector<AccessUnit> units;
    uint64_t samples = 0;
    std::size_t p = 0;
    while (p + 6 <= es.size()) {
        if (((es[p] << 8) | es[p + 1]) != kAc3Syncword) throw std::runtime_error("splitAc3: lost sync");
        const uint8_t bsid = es[p + 5] >> 3;
        std::size_t size = 0;
        uint32_t rate = 48000;
        uint32_t frameSamples = 1536;
        bool dependent = false;
        if (bsid <= 10) {
            // syncword(16) crc1(16) fscod(2) frmsizecod(6) bsid(5) bsmod(3)
            const uint8_t fscod = es[p + 4] >> 6;
            size = ac3FrameSize(fscod, es[p + 4] & 0x3F);
            rate = fscod < 3 ? kAc3SampleRates[fscod] : 48000;
        } else {
            // syncword(16) strmtyp(2) substreamid(3) frmsiz(11) fscod(2) numblkscod(2)
            dependent = (es[p + 2] >> 6) == 1;
            size = 2 * ((((es[p + 2] & 0x07) << 8) | es[p + 3]) + 1);
            const uint8_t fscod = es[p + 4] >> 6;
            const int blocks = fscod == 3 ? 6 : kEac3Blocks[(es[p + 4] >> 4) & 0x03];
            rate = fscod == 3 ? 24000u : kAc3SampleRates[fscod];
            frameSamples = static_cast<uint32_t>(256 * blocks);
        }
        if (size == 0 || p + size > es.size()) break;
        if (dependent && !units.empty()) {
            units.back().data.insert(units.back().data.end(), es.begin() + static_cast<std::ptrdiff_t>(p),
                                     es.begin() + static_cast<std::ptrdiff_t>(p + size));
        } else {
            AccessUnit u;
            u.data.assign(es.begin() + static_cast<std::ptrdiff_t>(p), es.begin() + static_cast<std::ptrdiff_t>(p + size));
            u.pts = firstPts + ticksFor(samples, rate);
            u.duration = ticksFor(frameSamples, rate);
            samples += frameSamples;
            units.push_back(std::move(u));
        }
        p += size;
    }
    return units;
}

std::vector<AccessUnit> splitDts(const Bytes& es, uint64_t firstPts) {
    static constexpr std::array<uint32_t, 16> kSfreq = {0, 8000, 16000, 32000, 0, 0, 11025, 22050,
                                                        44100, 0, 0, 12000, 24000, 48000, 0, 0};
    std::vector<AccessUnit> units;
    uint64_t samples = 0;
    std::size_t p = 0;
    while (p + 10 <= es.size()) {
        if (be32(es, p) != kDtsSync) throw std::runtime_error("splitDts: lost sync");
        // FTYPE(1) SHORT(5) CPF(1) NBLKS(7) FSIZE(14) AMODE(6) SFREQ(4)
        const uint32_t nblks = ((es[p + 4] & 0x01) << 6) | (es[p + 5] >> 2);
        const std::size_t fsize = (((es[p + 5] & 0x03) << 12) | (es[p + 6] << 4) | (es[p + 7] >> 4)) + 1;
        const uint32_t rate = kSfreq[(es[p + 8] >> 2) & 0x0F];
        if (rate == 0 || p + fsize > es.size()) break;
        const uint32_t frameSamples = (nblks + 1) * 32;
        AccessUnit u;
        u.data.assign(es.begin() + static_cast<std::ptrdiff_t>(p), es.begin() + static_cast<std::ptrdiff_t>(p + fsize));
        u.pts = firstPts + ticksFor(samples, rate);
        u.duration = ticksFor(frameSamples, rate);
        samples += frameSamples;
        units.push_back(std::move(u));
        p += fsize;
    }
    return units;
}

std::vector<AccessUnit> splitTrueHd(const Bytes& es, uint64_t firstPts) {
    std::vector<AccessUnit> units;
    uint32_t rate = 48000;
    uint64_t samples = 0;
    std::size_t p = 0;
    while (p + 4 <= es.size()) {
        // check_nibble(4) access_unit_length(12, in 16-bit words) input_timing(16)
        const std::size_t size = 2 * (((es[p] & 0x0F) << 8) | es[p + 1]);
        if (size < 4 || p + size > es.size()) break;
        if (p + 12 <= es.size()) {
            const uint32_t sync = be32(es, p + 4);
            if (sync == kTrueHdMajorSync || sync == kMlpMajorSync) {
                // audio_sampling_frequency(4): 0 48 kHz, 1 96, 2 192, 8 44.1, 9 88.2, 10 176.4
                const uint8_t code = es[p + 8] >> 4;
                const uint32_t base = (code & 0x08) ? 44100 : 48000;
                rate = base << (code & 0x07);
            }
        }
        // 40 samples per access unit at 44.1/48 kHz, scaled with the rate.
        const uint32_t unitSamples = 40 * (rate % 44100 == 0 ? rate / 44100 : rate / 48000);
        AccessUnit u;
        u.data.assign(es.begin() + static_cast<std::ptrdiff_t>(p), es.begin() + static_cast<std::ptrdiff_t>(p + size));
        u.pts = firstPts + ticksFor(samples, rate);
        u.duration = ticksFor(unitSamples, rate);
        samples += unitSamples;
        units.push_back(std::move(u));
        p += size;
    }
    return units;
}

std::vector<AccessUnit> splitLpcm(const Bytes& pcm, int channels, uint32_t sampleRate, uint64_t firstPts) {
    const std::size_t frameSamples = sampleRate / 600;
    const std::size_t frameBytes = frameSamples * static_cast<std::size_t>(channels) * 2;
    std::vector<AccessUnit> units;
    for (std::size_t p = 0, k = 0; p + frameBytes <= pcm.size(); p += frameBytes, ++k) {
        AccessUnit u;
        u.data.assign(pcm.begin() + static_cast<std::ptrdiff_t>(p), pcm.begin() + static_cast<std::ptrdiff_t>(p + frameBytes));
        u.pts = firstPts + ticksFor(k * frameSamples, sampleRate);
        u.duration = ticksFor(frameSamples, sampleRate);
        units.push_back(std::move(u));
    }
    return units;
}

std::array<uint8_t, 3> lpcmHeader16(uint32_t sampleRate, int channels) {
    const uint8_t sampling = sampleRate == 96000 ? 1 : 0;
    return {0x00, static_cast<uint8_t>((0 << 6) | (sampling << 4) | ((channels - 1) & 0x07)), 0x80};
}

void shiftTimes(std::vector<AccessUnit>& units, int64_t delta) {
    for (auto& u : units) {
        if (u.pts) u.pts = static_cast<uint64_t>(static_cast<int64_t>(*u.pts) + delta);
        if (u.dts) u.dts = static_cast<uint64_t>(static_cast<int64_t>(*u.dts) + delta);
    }
}

}  // namespace psb::es
