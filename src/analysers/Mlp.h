#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs the major sync headers of a lossless audio payload chunk: standard MLP of
// DVD-Audio (quantization, sampling frequency, channel assignment, dynamic range)
// or TrueHD of HD DVD (sampling frequency and the 2-, 6- and 8-channel presentations).
void AnalyseMlp(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength);

// Dynamic range control byte in dB: 24.082 - (bits 7-5) * 6.0206 - (bits 4-0) * 0.2007.
double DynamicRangeDb(uint8_t dynamicRangeControl);

} // namespace halyard
