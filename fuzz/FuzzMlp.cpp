// libFuzzer target: the MLP and Dolby TrueHD analyser over a block as the engine hands
// it on.
#include "AnalyserFuzz.h"
#include "analysers/Mlp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::AnalyseMlp(p.context, p.start, p.length);
    });
}
