#include "analysers/PictureCounter.h"

#include <cstring>

namespace halyard {

namespace {
constexpr uint8_t PictureStartCode = 0x00;     // MPEG-2 picture_start_code
constexpr uint8_t AccessUnitDelimiter = 0x09;  // H.264 nal_unit_type 9
constexpr uint8_t Vc1FrameStartCode = 0x0D;    // VC-1 frame start code

uint8_t lastByteOf(uint8_t videoCodec) {
    switch (videoCodec) {
    case VideoMpeg2: return PictureStartCode;
    case VideoH264: return AccessUnitDelimiter;
    default: return Vc1FrameStartCode;
    }
}
} // namespace

int32_t CountStartCodes(const uint8_t* bytes, int64_t length, uint8_t lastByte) {
    // A code ends at j when bytes j-3..j are 00 00 01 lastByte; indexes before the
    // chunk read as zero. Hunt for the 01 byte with memchr and check around it.
    int32_t count = 0;
    const uint8_t* end = bytes + length;
    const uint8_t* p = bytes;
    while (p + 1 < end) {
        const uint8_t* one = static_cast<const uint8_t*>(std::memchr(p, 0x01, static_cast<size_t>(end - p - 1)));
        if (one == nullptr)
            break;
        int64_t i = one - bytes;
        if (one[1] == lastByte && (i < 1 || one[-1] == 0) && (i < 2 || one[-2] == 0))
            ++count;
        p = one + 1;
    }
    return count;
}

void CountPictures(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, int32_t videoSlot,
                   uint8_t videoCodec) {
    if (videoSlot < 0 || videoSlot > 1 || payloadLength <= 0)
        return;
    int64_t length = payloadLength;
    if (payloadStart + length > context.blockLength)
        length = context.blockLength - payloadStart;
    if (length <= 0)
        return;
    context.state.PictureCounter[static_cast<size_t>(videoSlot)] +=
        CountStartCodes(context.block() + payloadStart, length, lastByteOf(videoCodec));
}

void CheckSubpictureFormat(AnalyserContext& context, int32_t payloadStart) {
    unsigned first = (unsigned(context.byteAt(payloadStart)) << 8) | context.byteAt(payloadStart + 1);
    if (first == 0)
        context.log("   Format = [bl]8bitRLE[/bl]");
    else
        context.log("   Format = [bl]2bitRLE[/bl]");
}

} // namespace halyard
