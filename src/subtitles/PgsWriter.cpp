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
constexpr int MaxRun = 16383;

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

void appendRun(std::vector<uint8_t>& out, uint8_t colour, int length) {
    if (colour != 0 && length <= 2) {
        out.insert(out.end(), size_t(length), colour);
        return;
    }
    out.push_back(0);
    const uint8_t withColour = colour != 0 ? 0x80 : 0x00;
    if (length < 64) {
        out.push_back(uint8_t(withColour | length));
    } else {
        out.push_back(uint8_t(withColour | 0x40 | (length >> 8)));
        out.push_back(uint8_t(length));
    }
    if (colour != 0)
        out.push_back(colour);
}

} // namespace

void AppendPgsRle(std::vector<uint8_t>& out, const uint8_t* pixels, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + size_t(y) * size_t(width);
        for (int x = 0; x < width;) {
            int run = 1;
            while (x + run < width && run < MaxRun && row[x + run] == row[x])
                ++run;
            appendRun(out, row[x], run);
            x += run;
        }
        out.push_back(0);
        out.push_back(0);
    }
}

void PgsWriter::segment(std::vector<uint8_t>& out, uint32_t pts, uint8_t type, const std::vector<uint8_t>& data) const {
    out.push_back('P');
    out.push_back('G');
    put32(out, pts);
    put32(out, 0); // DTS: not used
    out.push_back(type);
    put16(out, uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

// PCS: video width and height, frame rate, composition number and state, palette
// update flag and palette id, the composition objects (object id, window id, flags,
// x, y).
std::vector<uint8_t> PgsWriter::composition(uint8_t state, const PgsCaption* caption) {
    std::vector<uint8_t> data;
    put16(data, uint32_t(width_));
    put16(data, uint32_t(height_));
    data.push_back(FrameRateCode);
    put16(data, compositionNumber_++);
    data.push_back(state);
    data.push_back(0); // palette_update_flag
    data.push_back(0); // palette_id
    data.push_back(caption ? 1 : 0);
    if (caption) {
        put16(data, 0);  // object_id
        data.push_back(0); // window_id
        data.push_back(caption->forced ? ForcedObject : 0);
        put16(data, uint32_t(caption->x));
        put16(data, uint32_t(caption->y));
    }
    return data;
}

// WDS: one window, the caption's rectangle.
std::vector<uint8_t> PgsWriter::window() const {
    std::vector<uint8_t> data;
    data.push_back(1);
    data.push_back(0); // window_id
    put16(data, uint32_t(windowX_));
    put16(data, uint32_t(windowY_));
    put16(data, uint32_t(windowWidth_));
    put16(data, uint32_t(windowHeight_));
    return data;
}

void PgsWriter::show(std::vector<uint8_t>& out, uint32_t pts, const PgsCaption& caption) {
    windowX_ = caption.x;
    windowY_ = caption.y;
    windowWidth_ = caption.width;
    windowHeight_ = caption.height;
    segment(out, pts, CompositionSegment, composition(EpochStart, &caption));
    segment(out, pts, WindowSegment, window());

    // PDS: palette id, version, then id, Y, Cr, Cb, alpha of every entry the bitmap uses.
    std::array<bool, 256> used{};
    for (uint8_t entry : caption.pixels)
        used[entry] = true;
    std::vector<uint8_t> palette{0, 0};
    for (size_t entry = 0; entry < used.size(); ++entry) {
        if (!used[entry])
            continue;
        const PgsColour& colour = caption.palette[entry];
        palette.insert(palette.end(), {uint8_t(entry), colour.y, colour.cr, colour.cb, colour.alpha});
    }
    segment(out, pts, PaletteSegment, palette);

    // ODS: the coded object, split where it passes one segment. The first fragment
    // holds the data length (the coded data and the 4 bytes of width and height).
    std::vector<uint8_t> coded;
    AppendPgsRle(coded, caption.pixels.data(), caption.width, caption.height);
    size_t at = 0;
    bool first = true;
    do {
        const size_t room = MaxSegmentData - (first ? FirstFragmentHeader : LaterFragmentHeader);
        const size_t take = std::min(room, coded.size() - at);
        const bool last = at + take == coded.size();
        std::vector<uint8_t> data;
        put16(data, 0);    // object_id
        data.push_back(0); // object_version_number
        data.push_back(uint8_t((first ? FirstFragment : 0) | (last ? LastFragment : 0)));
        if (first) {
            const uint32_t length = uint32_t(coded.size() + 4);
            data.push_back(uint8_t(length >> 16));
            put16(data, length & 0xFFFF);
            put16(data, uint32_t(caption.width));
            put16(data, uint32_t(caption.height));
        }
        data.insert(data.end(), coded.begin() + std::ptrdiff_t(at), coded.begin() + std::ptrdiff_t(at + take));
        segment(out, pts, ObjectSegment, data);
        at += take;
        first = false;
    } while (at < coded.size());
    segment(out, pts, EndSegment, {});
}

void PgsWriter::clear(std::vector<uint8_t>& out, uint32_t pts) {
    segment(out, pts, CompositionSegment, composition(NormalCase, nullptr));
    segment(out, pts, WindowSegment, window());
    segment(out, pts, EndSegment, {});
}

} // namespace halyard
