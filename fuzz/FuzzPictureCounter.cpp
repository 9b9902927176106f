// libFuzzer target: the picture counter (control bit 0: the video slot; bits 1-2: the
// codec) and the subpicture format check over a block as the engine hands it on. The
// count must be the one of the model: a four-byte window that starts at zero, into
// which each byte of the chunk is shifted, and a code wherever it reads 00 00 01 xx.
#include <cstdlib>

#include "AnalyserFuzz.h"
#include "analysers/PictureCounter.h"

namespace {
int32_t modelCount(const uint8_t* bytes, int64_t length, uint8_t lastByte) {
    uint32_t window = 0;
    int32_t count = 0;
    for (int64_t i = 0; i < length; ++i) {
        window = window << 8 | bytes[i];
        if (window == (0x00000100u | lastByte))
            ++count;
    }
    return count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        const uint8_t codec = uint8_t(((p.control >> 1) & 3) % 3);
        halyard::CountPictures(p.context, p.start, p.length, p.control & 1, codec);
        const uint8_t* chunk = p.context.block() + p.start;
        for (uint8_t lastByte : {uint8_t(0x00), uint8_t(0x09), uint8_t(0x0D)})
            if (halyard::CountStartCodes(chunk, p.length, lastByte) != modelCount(chunk, p.length, lastByte))
                std::abort();
        halyard::CheckSubpictureFormat(p.context, p.start);
    });
}
