// libFuzzer target: the picture counter (control bit 0: the video slot; bits 1-2: the
// codec) and the subpicture format check over a block as the engine hands it on.
#include "AnalyserFuzz.h"
#include "analysers/PictureCounter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::CountPictures(p.context, p.start, p.length, p.control & 1, uint8_t(((p.control >> 1) & 3) % 3));
        halyard::CheckSubpictureFormat(p.context, p.start);
    });
}
