#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs the coding parameters of an MPEG-2 video stream from one payload chunk: where
// its first sequence header lies, size, aspect ratio, frame rate, bit rate,
// progressive_sequence, illegal picture coding types and, at the second picture
// coding extension after the first sequence header, the stream's first PTS. Stores
// the frame rate of the sequence header in SlotFrameRate[videoSlot]. Only the bytes
// of the payload that lie in the current block are looked at.
void AnalyseMpeg2Video(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength,
                       uint32_t videoFirstPts, uint32_t currentDts, int32_t videoSlot);

} // namespace halyard
