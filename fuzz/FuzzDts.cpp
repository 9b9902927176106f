// libFuzzer target: the DTS and DTS-HD analyser over a block as the engine hands it on.
#include "AnalyserFuzz.h"
#include "analysers/Dts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::AnalyseDts(p.context, p.start, p.length);
    });
}
