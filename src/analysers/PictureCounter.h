#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Video codecs as the engine numbers them.
enum VideoCodecId : uint8_t { VideoMpeg2 = 0, VideoH264 = 1, VideoVc1 = 2 };

// Adds to PictureCounter[videoSlot] the picture start codes of one payload chunk:
// 00 00 01 00 (MPEG-2 picture), 00 00 01 09 (H.264 access unit delimiter) or
// 00 00 01 0D (VC-1 frame). The window starts at zero at every call, so a chunk
// that begins with 01 xx or 00 01 xx counts as if preceded by zero bytes.
void CountPictures(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, int32_t videoSlot,
                   uint8_t videoCodec);

// Counts the picture start codes in bytes[0, length) with zero bytes assumed before it.
int32_t CountStartCodes(const uint8_t* bytes, int64_t length, uint8_t lastByte);

// Logs whether a subpicture stream is 8-bit or 2-bit run-length coded.
void CheckSubpictureFormat(AnalyserContext& context, int32_t payloadStart);

} // namespace halyard
