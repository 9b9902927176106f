#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs the fields of the LPCM audio packet header: the seven bytes (substream id and
// six more) that the engine has passed before the payload start.
void AnalyseLpcm(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength);

} // namespace halyard
