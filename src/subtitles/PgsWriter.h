#pragma once
// Blu-ray presentation graphics (PGS) as a .sup file: a sequence of segments, each
//   "PG" PTS(32) DTS(32) segment_type(8) segment_length(16) data
// grouped into display sets that end with an END segment. A caption takes two display
// sets: one that shows it (PCS with an epoch start, WDS, PDS, ODS ..., END) and one
// that clears it at its end time (PCS with no object, WDS, END).
#include <array>
#include <cstddef>
#include <cstdint>
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

// One caption ready for PGS: a bitmap of palette entries at a place on the canvas.
struct PgsCaption {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;        // width x height palette entries, row by row
    std::array<PgsColour, 256> palette; // entries the bitmap does not use may be anything
    bool forced = false;
};

// The run-length coding of PGS objects, line by line, each line closed by 00 00:
//   CC                     one pixel of colour CC (not 0)
//   00 00LLLLLL            L (1-63) pixels of colour 0
//   00 01LLLLLL LLLLLLLL   L (64-16383) pixels of colour 0
//   00 10LLLLLL CC         L (3-63) pixels of colour CC
//   00 11LLLLLL LLLLLLLL CC  L (64-16383) pixels of colour CC
void AppendPgsRle(std::vector<uint8_t>& out, const uint8_t* pixels, int width, int height);

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

private:
    void segment(std::vector<uint8_t>& out, uint32_t pts, uint8_t type, const std::vector<uint8_t>& data) const;
    std::vector<uint8_t> composition(uint8_t state, const PgsCaption* caption);
    std::vector<uint8_t> window() const;

    int width_;
    int height_;
    uint16_t compositionNumber_ = 0;
    // The window of the last caption shown, which its clearing names again.
    int windowX_ = 0, windowY_ = 0, windowWidth_ = 1, windowHeight_ = 1;
};

} // namespace halyard
