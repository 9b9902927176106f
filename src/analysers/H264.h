#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs profile, level, chroma format, picture size and the VUI's aspect ratio, video
// format and timing from the first sequence parameter set of one H.264 payload chunk.
// SlotFrameRate[videoSlot] is always set to 24000/1001. The raw payload bytes are
// read: emulation prevention bytes are not removed.
void AnalyseH264(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, uint32_t videoFirstPts,
                 uint32_t currentDts, int32_t videoSlot);

} // namespace halyard
