// DVD subpicture units (SPU) with 2-bit run-length coded pixel data.
//
// Layout of a unit:
//   SPDSZ(16)       size of the whole unit
//   SP_DCSQTA(16)   offset of the first display control sequence
//   PXD             run-length coded lines: all top-field lines (0, 2, 4 ...),
//                   then all bottom-field lines (1, 3, 5 ...), each line
//                   starting on a byte boundary
//   SP_DCSQ ...     SP_DCSQ_STM(16) delay in units of 1024/90000 s,
//                   SP_NXT_DCSQ_SA(16) offset of the next sequence (its own
//                   offset in the last one), then commands up to CMD_END
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "BitWriter.h"

namespace psb {

namespace spucmd {
inline constexpr uint8_t kForcedStartDisplay = 0x00;  // FSTA_DSP
inline constexpr uint8_t kStartDisplay = 0x01;        // STA_DSP
inline constexpr uint8_t kStopDisplay = 0x02;         // STP_DSP
inline constexpr uint8_t kSetColor = 0x03;            // SET_COLOR: e2 e1 p b (4 bits each)
inline constexpr uint8_t kSetContrast = 0x04;         // SET_CONTR: same order, 0 transparent
inline constexpr uint8_t kSetDisplayArea = 0x05;      // SET_DAREA: sx ex sy ey (12 bits each)
inline constexpr uint8_t kSetPixelAddresses = 0x06;   // SET_DSPXA: top, bottom field offsets
inline constexpr uint8_t kEnd = 0xFF;                 // CMD_END
}  // namespace spucmd

inline constexpr uint64_t kSpuTimeUnit = 1024;  // 90 kHz ticks per SP_DCSQ_STM unit

// A picture of 2-bit codes: 0 background, 1 pattern, 2 emphasis 1, 3 emphasis 2.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // row-major, one code per pixel

    uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // A framed box with stripes: every code appears and runs of every length class occur.
    static Bitmap testPattern(int width, int height);
};

// Run-length codes of one line (2-bit format), padded to a byte boundary:
//   1-3 pixels:     n(2) c(2)
//   4-15 pixels:    00 n(4) c(2)
//   16-63 pixels:   0000 n(6) c(2)
//   64-255 pixels:  000000 n(8) c(2)
//   rest of line:   00000000000000 c(2)
Bytes encodeRleLine(const Bitmap& bitmap, int y);

class SubpictureUnit {
public:
    SubpictureUnit& bitmap(Bitmap value);
    SubpictureUnit& position(int x, int y);
    // Palette indexes of the four codes (SET_COLOR) and their contrasts (SET_CONTR).
    SubpictureUnit& colors(uint8_t emphasis2, uint8_t emphasis1, uint8_t pattern, uint8_t background);
    SubpictureUnit& contrast(uint8_t emphasis2, uint8_t emphasis1, uint8_t pattern, uint8_t background);
    // Display ends this many 90 kHz ticks after the unit's PTS (rounded to 1024-tick units).
    SubpictureUnit& duration(uint64_t ticks);
    // No stop sequence: the unit's last sequence is the one that starts it.
    SubpictureUnit& noStop();
    // Display starts this many 90 kHz ticks after the PTS (rounded to 1024-tick units).
    SubpictureUnit& startDelay(uint64_t ticks);
    SubpictureUnit& forced(bool value);

    Bytes build() const;

private:
    Bitmap bitmap_ = Bitmap::testPattern(64, 16);
    int x_ = 0;
    int y_ = 0;
    uint8_t colors_[4] = {3, 2, 1, 0};    // e2, e1, pattern, background
    uint8_t contrast_[4] = {15, 15, 15, 0};
    uint64_t duration_ = 2 * 90000;
    uint64_t startDelay_ = 0;
    bool stop_ = true;
    bool forced_ = false;
};

// An HD DVD subpicture unit with 8-bit run-length coded pixel data:
//   0x0000 SPDSZ(32) SP_DCSQTA(32) PXD, then sequences of
//   SP_DCSQ_STM(16) SP_NXT_DCSQ_SA(32) commands ... CMD_END
// The first sequence sets the palette (0x83: 256 x Y, Cr, Cb), the transparency
// (0x84: 256 bytes, 0 opaque, 255 transparent), the area (0x85) and the field offsets
// (0x86, 32 bits each) and starts the display; the second stops it.
struct Bitmap8 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // row-major palette entries

    uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // Stripes and a frame in many entries, with runs of every length class and of both
    // colour sizes (entries below 4 are coded in 2 bits).
    static Bitmap8 testPattern(int width, int height);
};

// Run-length codes of one line (8-bit format), padded to a byte boundary:
//   one pixel:         0 s c            s: 0 = 2-bit colour c, 1 = 8-bit colour c
//   2-9 pixels:        1 s c 0 n(3)     n = pixels - 2
//   10-136 pixels:     1 s c 1 n(7)     n = pixels - 9
//   rest of the line:  1 s c 1 0000000
Bytes encodeRleLine8(const Bitmap8& bitmap, int y);

struct YCrCb {
    uint8_t y = 16, cr = 128, cb = 128;
};

class HdSubpictureUnit {
public:
    HdSubpictureUnit();
    HdSubpictureUnit& bitmap(Bitmap8 value);
    HdSubpictureUnit& position(int x, int y);
    HdSubpictureUnit& colour(uint8_t entry, YCrCb value, uint8_t alpha);  // alpha 0 transparent .. 255 opaque
    HdSubpictureUnit& duration(uint64_t ticks);
    HdSubpictureUnit& forced(bool value);
    Bytes build() const;

private:
    Bitmap8 bitmap_ = Bitmap8::testPattern(200, 40);
    int x_ = 0;
    int y_ = 0;
    std::array<YCrCb, 256> palette_{};
    std::array<uint8_t, 256> alpha_{};
    uint64_t duration_ = 2 * 90000;
    bool forced_ = false;
};

// A minimal DVD IFO file whose first program chain carries a 16-colour palette
// (entries 0, Y, Cr, Cb at PGC offset 0xA4):
//   title set ("DVDVIDEO-VTS"): VTS_PGCIT at sector 1 (pointer at 0xCC), its first
//   search pointer naming the PGC at 16 bytes into the table;
//   video manager ("DVDVIDEO-VMG"): the first-play PGC at byte 0x400 (pointer at 0x84).
Bytes dvdIfo(const std::array<YCrCb, 16>& palette, bool videoManager = false);

}  // namespace psb
