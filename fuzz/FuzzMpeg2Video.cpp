// libFuzzer target: the MPEG-2 video analyser (control bit 0: the video slot) over a
// block as the engine hands it on.
#include "AnalyserFuzz.h"
#include "analysers/Mpeg2Video.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::AnalyseMpeg2Video(p.context, p.start, p.length, p.firstPts, p.dts, p.control & 1);
    });
}
