#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs the advanced-profile sequence header of a VC-1 payload (profile, level,
// chroma format, coded and display size, aspect ratio, frame rate) and sets
// SlotFrameRate[videoSlot] when the header carries a frame rate. currentDts and
// videoFirstPts are part of the engine's call and not used here.
void AnalyseVc1(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, uint32_t currentDts,
                uint32_t videoFirstPts, int32_t videoSlot);

} // namespace halyard
