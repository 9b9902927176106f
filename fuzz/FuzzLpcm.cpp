// libFuzzer target: the LPCM analyser, which reads the three header bytes before the
// payload over a block as the engine hands it on.
#include "AnalyserFuzz.h"
#include "analysers/Lpcm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::AnalyseLpcm(p.context, p.start, p.length);
    });
}
