// VC-1 (SMPTE 421M) advanced-profile headers built field by field, for
// streams whose pictures need not decode: the sequence header, the entry
// point header and frames that start with a frame start code.
#pragma once

#include <cstdint>

#include "BitWriter.h"

namespace psb {

namespace vc1 {
inline constexpr uint8_t kFrameStart = 0x0D;
inline constexpr uint8_t kEntryPointStart = 0x0E;
inline constexpr uint8_t kSequenceHeaderStart = 0x0F;
inline constexpr uint8_t kFieldStart = 0x0C;
}  // namespace vc1

// Sequence header fields in bitstream order. The defaults describe
// 1920x1080 4:2:0 at 24000/1001 frames per second, level 3.
struct Vc1SequenceHeader {
    uint8_t profile = 3;          // PROFILE(2): 3 = advanced
    uint8_t level = 3;            // LEVEL(3)
    uint8_t colordiffFormat = 1;  // COLORDIFF_FORMAT(2): 1 = 4:2:0
    uint8_t frmrtqPostproc = 7;   // FRMRTQ_POSTPROC(3)
    uint8_t bitrtqPostproc = 31;  // BITRTQ_POSTPROC(5)
    bool postprocFlag = false;    // POSTPROCFLAG(1)
    uint16_t maxCodedWidth = 959;   // MAX_CODED_WIDTH(12): width / 2 - 1
    uint16_t maxCodedHeight = 539;  // MAX_CODED_HEIGHT(12): height / 2 - 1
    bool pulldown = false;        // PULLDOWN(1)
    bool interlace = false;       // INTERLACE(1)
    bool tfcntrflag = false;      // TFCNTRFLAG(1)
    bool finterpflag = false;     // FINTERPFLAG(1)
    bool psf = false;             // PSF(1), after a reserved bit (1)
    bool displayExt = true;       // DISPLAY_EXT(1)
    uint16_t dispHorizSize = 1919;  // DISP_HORIZ_SIZE(14): width - 1
    uint16_t dispVertSize = 1079;   // DISP_VERT_SIZE(14): height - 1
    bool aspectRatioFlag = true;  // ASPECT_RATIO_FLAG(1)
    uint8_t aspectRatio = 1;      // ASPECT_RATIO(4): 1 = square samples, 15 = explicit
    uint8_t aspectHorizSize = 16;  // ASPECT_HORIZ_SIZE(8), with ASPECT_RATIO 15
    uint8_t aspectVertSize = 9;    // ASPECT_VERT_SIZE(8)
    bool frameRateFlag = true;    // FRAMERATE_FLAG(1)
    bool frameRateInd = false;    // FRAMERATEIND(1): 0 = NR/DR, 1 = FRAMERATEEXP
    uint8_t frameRateNr = 1;      // FRAMERATENR(8): 1 = 24000
    uint8_t frameRateDr = 2;      // FRAMERATEDR(4): 2 = 1001
    uint16_t frameRateExp = 0;    // FRAMERATEEXP(16): rate = (exp + 1) / 32
    bool colorFormatFlag = false;  // COLOR_FORMAT_FLAG(1)
    uint8_t colorPrim = 1;        // COLOR_PRIM(8)
    uint8_t transferChar = 1;     // TRANSFER_CHAR(8)
    uint8_t matrixCoef = 1;       // MATRIX_COEF(8)
    bool hrdParamFlag = false;    // HRD_PARAM_FLAG(1)

    // 00 00 01 0F, the fields, then the flushing bits (1, zeros to a byte boundary).
    Bytes build() const;
};

// Entry point header 00 00 01 0E for a sequence header without HRD
// parameters: closed entry, loop filter on, coded size given.
Bytes vc1EntryPoint(uint16_t codedWidth = 1920, uint16_t codedHeight = 1080);

// A frame: 00 00 01 0D, a progressive frame header (PTYPE I = 110 or
// P = 0), and filler bytes up to `size` bytes in all. The filler holds no
// 00 00 01 sequence.
Bytes vc1Frame(std::size_t size, bool intra, uint8_t seed = 0);

}  // namespace psb
