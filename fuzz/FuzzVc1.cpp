// libFuzzer target: the VC-1 analyser (control bit 0: the video slot) over a block as
// the engine hands it on.
#include "AnalyserFuzz.h"
#include "analysers/Vc1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::AnalyseVc1(p.context, p.start, p.length, p.dts, p.firstPts, p.control & 1);
    });
}
