#pragma once
#include <cstdint>

#include "analysers/AnalyserContext.h"

namespace halyard {

// Logs the core frame headers of a DTS (or DTS-HD, through its core) payload and
// notes the XCh channel extension and X96 frequency extension sync words.
// Only the bytes of the current block are read; the reader never moves the engine's
// scan position.
void AnalyseDts(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength);

} // namespace halyard
