#include "subtitles/PgsWriter.h"

#include <algorithm>

namespace halyard {

namespace {

// Segment types.
constexpr uint8_t PaletteSegment = 0x14;      // PDS
constexpr uint8_t ObjectSegment = 0x15;       // ODS
constexpr uint8_t CompositionSegment = 0x16;  // PCS
constexpr uint8_t WindowSegment = 0x17;       // WDS
constexpr uint8_t EndSegment = 0x80;          // END

constexpr uint8_t EpochStart = 0x80;          // composition_state
constexpr uint8_t NormalCase = 0x00;
constexpr uint8_t FrameRateCode = 0x10;       // frame rate field, which decoders ignore
constexpr uint8_t ForcedObject = 0x40;        // object_cropped_flag byte: forced on display
constexpr uint8_t FirstFragment = 0x80;       // last_in_sequence_flag byte of an ODS
constexpr uint8_t LastFragment = 0x40;
constexpr size_t FirstFragmentHeader = 11;    // object id, version, flags, data length(24), width, height
constexpr size_t LaterFragmentHeader = 4;     // object id, version, flags

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

// The segment header with its length left open; returns where the length goes.
size_t beginSegment(std::vector<uint8_t>& out, uint32_t pts, uint8_t type) {
    out.push_back('P');
    out.push_back('G');
    put32(out, pts);
    put32(out, 0); // DTS: not used
    out.push_back(type);
    put16(out, 0);
    return out.size() - 2;
}

void endSegment(std::vector<uint8_t>& out, size_t lengthAt) {
    const size_t length = out.size() - lengthAt - 2;
    out[lengthAt] = uint8_t(length >> 8);
    out[lengthAt + 1] = uint8_t(length);
}

} // namespace

void PgsRunCoder::flushLong() {
    while (pending_ > 0) {
        const int length = std::min(pending_, MaxRun);
        pending_ -= length;
        used_ += put(room(4), colour_, length);
    }
}

void PgsRunCoder::endLine() {
    flush();
    uint8_t* to = room(2);
    to[0] = 0;
    to[1] = 0;
    used_ += 2;
}

// PCS: video width and height, frame rate, composition number and state, palette
// update flag and palette id, the composition objects (object id, window id, flags,
// x, y).
void PgsWriter::composition(std::vector<uint8_t>& out, uint32_t pts, uint8_t state, const PgsCaption* caption) {
    const size_t length = beginSegment(out, pts, CompositionSegment);
    put16(out, uint32_t(width_));
    put16(out, uint32_t(height_));
    out.push_back(FrameRateCode);
    put16(out, compositionNumber_++);
    out.push_back(state);
    out.push_back(0); // palette_update_flag
    out.push_back(0); // palette_id
    out.push_back(caption ? 1 : 0);
    if (caption) {
        put16(out, 0);    // object_id
        out.push_back(0); // window_id
        out.push_back(caption->forced ? ForcedObject : 0);
        put16(out, uint32_t(caption->x));
        put16(out, uint32_t(caption->y));
    }
    endSegment(out, length);
}

// WDS: one window, the caption's rectangle.
void PgsWriter::window(std::vector<uint8_t>& out, uint32_t pts) const {
    const size_t length = beginSegment(out, pts, WindowSegment);
    out.push_back(1);
    out.push_back(0); // window_id
    put16(out, uint32_t(windowX_));
    put16(out, uint32_t(windowY_));
    put16(out, uint32_t(windowWidth_));
    put16(out, uint32_t(windowHeight_));
    endSegment(out, length);
}

void PgsWriter::show(std::vector<uint8_t>& out, uint32_t pts, const PgsCaption& caption) {
    windowX_ = caption.x;
    windowY_ = caption.y;
    windowWidth_ = caption.width;
    windowHeight_ = caption.height;
    composition(out, pts, EpochStart, &caption);
    window(out, pts);

    // PDS: palette id, version, then id, Y, Cr, Cb, alpha of every entry the object uses.
    size_t length = beginSegment(out, pts, PaletteSegment);
    out.push_back(0);
    out.push_back(0);
    for (const PgsPaletteEntry& entry : caption.palette)
        out.insert(out.end(), {entry.id, entry.colour.y, entry.colour.cr, entry.colour.cb, entry.colour.alpha});
    endSegment(out, length);

    // ODS: the coded object, split where it passes one segment. The first fragment
    // holds the data length (the coded data and the 4 bytes of width and height).
    const std::span<const uint8_t> coded = caption.object;
    size_t at = 0;
    bool first = true;
    do {
        const size_t room = MaxSegmentData - (first ? FirstFragmentHeader : LaterFragmentHeader);
        const size_t take = std::min(room, coded.size() - at);
        const bool last = at + take == coded.size();
        length = beginSegment(out, pts, ObjectSegment);
        put16(out, 0);    // object_id
        out.push_back(0); // object_version_number
        out.push_back(uint8_t((first ? FirstFragment : 0) | (last ? LastFragment : 0)));
        if (first) {
            const uint32_t dataLength = uint32_t(coded.size() + 4);
            out.push_back(uint8_t(dataLength >> 16));
            put16(out, dataLength & 0xFFFF);
            put16(out, uint32_t(caption.width));
            put16(out, uint32_t(caption.height));
        }
        out.insert(out.end(), coded.begin() + std::ptrdiff_t(at), coded.begin() + std::ptrdiff_t(at + take));
        endSegment(out, length);
        at += take;
        first = false;
    } while (at < coded.size());
    endSegment(out, beginSegment(out, pts, EndSegment));
}

void PgsWriter::clear(std::vector<uint8_t>& out, uint32_t pts) {
    composition(out, pts, NormalCase, nullptr);
    window(out, pts);
    endSegment(out, beginSegment(out, pts, EndSegment));
}

} // namespace halyard
