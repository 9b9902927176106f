#include "Vc1Builder.h"

namespace psb {

namespace {

BitWriter withStartCode(uint8_t code) {
    BitWriter w;
    w.bytes(Bytes{0x00, 0x00, 0x01, code});
    return w;
}

}  // namespace

Bytes Vc1SequenceHeader::build() const {
    BitWriter w = withStartCode(vc1::kSequenceHeaderStart);
    w.put(profile, 2).put(level, 3).put(colordiffFormat, 2);
    w.put(frmrtqPostproc, 3).put(bitrtqPostproc, 5).flag(postprocFlag);
    w.put(maxCodedWidth, 12).put(maxCodedHeight, 12);
    w.flag(pulldown).flag(interlace).flag(tfcntrflag).flag(finterpflag);
    w.put(1, 1);  // reserved
    w.flag(psf).flag(displayExt);
    if (displayExt) {
        w.put(dispHorizSize, 14).put(dispVertSize, 14);
        w.flag(aspectRatioFlag);
        if (aspectRatioFlag) {
            w.put(aspectRatio, 4);
            if (aspectRatio == 15) w.put(aspectHorizSize, 8).put(aspectVertSize, 8);
        }
        w.flag(frameRateFlag);
        if (frameRateFlag) {
            w.flag(frameRateInd);
            if (frameRateInd) w.put(frameRateExp, 16);
            else w.put(frameRateNr, 8).put(frameRateDr, 4);
        }
        w.flag(colorFormatFlag);
        if (colorFormatFlag) w.put(colorPrim, 8).put(transferChar, 8).put(matrixCoef, 8);
    }
    w.flag(hrdParamFlag);
    if (hrdParamFlag) {
        // HRD_NUM_LEAKY_BUCKETS(5) BIT_RATE_EXPONENT(4) BUFFER_SIZE_EXPONENT(4),
        // one bucket: HRD_RATE(16) HRD_BUFFER(16)
        w.put(1, 5).put(8, 4).put(8, 4).put(0x0FFF, 16).put(0x0FFF, 16);
    }
    w.alignOneThenZero();
    return w.data();
}

Bytes vc1EntryPoint(uint16_t codedWidth, uint16_t codedHeight) {
    BitWriter w = withStartCode(vc1::kEntryPointStart);
    w.flag(false);  // BROKEN_LINK
    w.flag(true);   // CLOSED_ENTRY
    w.flag(false);  // PANSCAN_FLAG
    w.flag(false);  // REFDIST_FLAG
    w.flag(true);   // LOOPFILTER
    w.flag(false);  // FASTUVMC
    w.flag(false);  // EXTENDED_MV
    w.put(0, 2);    // DQUANT
    w.flag(true);   // VSTRANSFORM
    w.flag(false);  // OVERLAP
    w.put(0, 2);    // QUANTIZER
    w.flag(true);   // CODED_SIZE_FLAG
    w.put(codedWidth / 2 - 1, 12).put(codedHeight / 2 - 1, 12);  // CODED_WIDTH, CODED_HEIGHT
    w.flag(false);  // RANGE_MAPY_FLAG
    w.flag(false);  // RANGE_MAPUV_FLAG
    w.alignOneThenZero();
    return w.data();
}

Bytes vc1Frame(std::size_t size, bool intra, uint8_t seed) {
    BitWriter w = withStartCode(vc1::kFrameStart);
    if (intra) w.put(0b110, 3);  // PTYPE: I
    else w.put(0b0, 1);          // PTYPE: P
    w.alignOneThenZero();
    Bytes out = w.data();
    // Filler with every byte odd-valued after the header: never two zero bytes in a row.
    uint8_t x = static_cast<uint8_t>(seed * 37 + 11);
    while (out.size() < size) {
        x = static_cast<uint8_t>(x * 73 + 41);
        out.push_back(static_cast<uint8_t>(x | 0x01));
    }
    return out;
}

}  // namespace psb
