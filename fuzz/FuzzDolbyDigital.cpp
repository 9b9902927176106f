// libFuzzer target: the Dolby Digital and Dolby Digital Plus analyser (control bits
// 0-3: the audio slot) over a block as the engine hands it on.
#include "AnalyserFuzz.h"
#include "analysers/DolbyDigital.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return halyard::fuzz::OnBlock(data, size, [](halyard::fuzz::Payload& p) {
        halyard::AnalyseDolbyDigital(p.context, p.start, p.length, p.control & 0x0F);
    });
}
