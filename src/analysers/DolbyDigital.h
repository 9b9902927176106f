#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs the parameters of the first good Dolby Digital (AC-3) or Dolby Digital Plus
// (E-AC-3) sync frame header in one payload chunk: the two are told apart by bsid.
// audioSlot is the stream's number in the first line.
void AnalyseDolbyDigital(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, int32_t audioSlot);

} // namespace halyard
