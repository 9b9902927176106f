#pragma once
// Blu-ray presentation graphics (PGS) as a .sup file: a sequence of segments, each
//   "PG" PTS(32) DTS(32) segment_type(8) segment_length(16) data
// grouped into display sets that end with an END segment. A caption takes two display
// sets: one that shows it (PCS with an epoch start, WDS, PDS, ODS ..., END) and one
// that clears it at its end time (PCS with no object, WDS, END).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace halyard {

// A palette entry as PGS codes it: Y, Cr, Cb and opacity (0 transparent).
struct PgsColour {
    uint8_t y = 16;
    uint8_t cr = 128;
    uint8_t cb = 128;
    uint8_t alpha = 0;
};

inline constexpr uint8_t PgsTransparentEntry = 255; // the palette entry of transparent pixels

struct PgsPaletteEntry {
    uint8_t id = 0;
    PgsColour colour;
};

// One caption ready for PGS: a coded bitmap of palette entries at a place on the canvas.
struct PgsCaption {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::span<const uint8_t> object;        // height lines, as PgsRunCoder::coded() gives them
    std::vector<PgsPaletteEntry> palette;   // the entries the object uses
    bool forced = false;
};

// The run-length coding of PGS objects, line by line, each line closed by 00 00:
//   CC                       one pixel of colour CC (not 0)
//   00 00LLLLLL              L (1-63) pixels of colour 0
//   00 01LLLLLL LLLLLLLL     L (64-16383) pixels of colour 0
//   00 10LLLLLL CC           L (3-63) pixels of colour CC
//   00 11LLLLLL LLLLLLLL CC  L (64-16383) pixels of colour CC
// Runs given one after the other in one colour are coded as one.
class PgsRunCoder {
public:
    // Begins another object; the room of the last one is kept.
    void clear() {
        used_ = 0;
        pending_ = 0;
    }
    void run(uint8_t colour, int length) {
        if (length <= 0)
            return;
        if (colour != colour_) {
            flush();
            colour_ = colour;
        }
        pending_ += length;
    }
    void endLine();
    std::span<const uint8_t> coded() const { return {buffer_.data(), used_}; }

    static constexpr int MaxRun = 16383;

private:
    // The pending run, in one code when it fits and there is room.
    void flush() {
        if (pending_ > MaxRun || buffer_.size() - used_ < 4)
            return flushLong();
        if (pending_ > 0)
            used_ += put(buffer_.data() + used_, colour_, pending_);
        pending_ = 0;
    }
    void flushLong();
    // Codes up to MaxRun pixels; returns the bytes written, 4 at most.
    static size_t put(uint8_t* to, uint8_t colour, int length) {
        if (colour != 0 && length <= 2) {
            to[0] = colour;
            to[1] = colour;
            return size_t(length);
        }
        const uint8_t withColour = colour != 0 ? 0x80 : 0x00;
        to[0] = 0;
        size_t size = 1;
        if (length < 64) {
            to[size++] = uint8_t(withColour | length);
        } else {
            to[size++] = uint8_t(withColour | 0x40 | (length >> 8));
            to[size++] = uint8_t(length);
        }
        if (colour != 0)
            to[size++] = colour;
        return size;
    }
    uint8_t* room(size_t count) {
        if (buffer_.size() - used_ < count)
            buffer_.resize(std::max(2 * buffer_.size(), used_ + 4096));
        return buffer_.data() + used_;
    }

    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint8_t colour_ = 0;
    int pending_ = 0;
};

// Writes the display sets of one caption stream onto a canvas of the given size.
class PgsWriter {
public:
    PgsWriter(int canvasWidth, int canvasHeight) : width_(canvasWidth), height_(canvasHeight) {}

    // The display set that shows the caption from pts (90 kHz) on.
    void show(std::vector<uint8_t>& out, uint32_t pts, const PgsCaption& caption);
    // The display set that clears the screen at pts.
    void clear(std::vector<uint8_t>& out, uint32_t pts);

    // The largest ODS segment: an object whose coded data passes it is split over
    // several ODS segments.
    static constexpr size_t MaxSegmentData = 0xFFFF;
    // The most coded data an object can hold: its 24-bit data length counts its width
    // and height too.
    static constexpr size_t MaxObjectData = 0xFFFFFF - 4;

private:
    void composition(std::vector<uint8_t>& out, uint32_t pts, uint8_t state, const PgsCaption* caption);
    void window(std::vector<uint8_t>& out, uint32_t pts) const;

    int width_;
    int height_;
    uint16_t compositionNumber_ = 0;
    // The window of the last caption shown, which its clearing names again.
    int windowX_ = 0, windowY_ = 0, windowWidth_ = 1, windowHeight_ = 1;
};

} // namespace halyard
