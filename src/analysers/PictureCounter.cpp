#include "analysers/PictureCounter.h"

#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

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

// Whether a code's 01 byte stands at i: 01 then lastByte, with the two bytes before it
// zero (indexes before the chunk read as zero). i + 1 < length.
bool codeAt(const uint8_t* bytes, int64_t i, uint8_t lastByte) {
    return bytes[i] == 0x01 && bytes[i + 1] == lastByte && (i < 1 || bytes[i - 1] == 0) && (i < 2 || bytes[i - 2] == 0);
}

// The codes whose 01 byte stands in [from, to): hunts for the 01 bytes with memchr and
// checks around each. to < length.
int32_t countFrom(const uint8_t* bytes, int64_t from, int64_t to, uint8_t lastByte) {
    int32_t count = 0;
    while (from < to) {
        const void* one = std::memchr(bytes + from, 0x01, static_cast<size_t>(to - from));
        if (one == nullptr)
            break;
        const int64_t i = static_cast<const uint8_t*>(one) - bytes;
        if (codeAt(bytes, i, lastByte))
            ++count;
        from = i + 1;
    }
    return count;
}

#if defined(__GNUC__) && defined(__x86_64__)
// 64 bytes at a time: a mask of the 01 bytes among them, each of which is then checked.
// 01 bytes are rare in coded video (one in a few hundred), so most masks are empty.
__attribute__((target("avx2,bmi"))) int32_t countAvx2(const uint8_t* bytes, int64_t length, uint8_t lastByte) {
    constexpr int64_t Width = 64;
    const __m256i one = _mm256_set1_epi8(1);
    int32_t count = 0;
    int64_t i = 0;
    // The 01 byte of a code stands at most at length - 2.
    for (; i + Width <= length - 1; i += Width) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32));
        uint64_t ones = uint64_t(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, one)))) |
                        uint64_t(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, one)))) << 32;
        while (ones != 0) {
            if (codeAt(bytes, i + __builtin_ctzll(ones), lastByte))
                ++count;
            ones &= ones - 1;
        }
    }
    return count + countFrom(bytes, i, length - 1, lastByte);
}

bool haveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
    return have;
}
#endif
} // namespace

// A code ends at j when bytes j-3..j are 00 00 01 lastByte; indexes before the chunk
// read as zero.
int32_t CountStartCodes(const uint8_t* bytes, int64_t length, uint8_t lastByte) {
    if (length < 2)
        return 0;
#if defined(__GNUC__) && defined(__x86_64__)
    if (haveAvx2())
        return countAvx2(bytes, length, lastByte);
#endif
    return countFrom(bytes, 0, length - 1, lastByte);
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
