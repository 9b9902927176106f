#pragma once
// The analyser fuzz targets' common part: an input becomes a block as the engine reads
// it and a payload in that block, as the engine's details step hands it on.
//
// Input: a 17-byte header, then the block (at most BlockSize bytes):
//   byte 0      control: bit 7 an ".AOB" source; the other bits are the target's own
//               (a slot, a codec)
//   bytes 1-4   payload start in the block, big-endian (clamped into the block)
//   bytes 5-8   payload length, big-endian (clamped to the rest of the block)
//   bytes 9-12  first PTS, bytes 13-16 DTS, big-endian
// The bytes after the block are poisoned under AddressSanitizer: an analyser may read
// only the valid part of BlockBuffer, whatever the payload's length says.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

#include "analysers/AnalyserContext.h"

namespace halyard::fuzz {

class SilentUi : public UiModel {
public:
    void log(std::string_view) override {}
    void slog(std::string_view, int) override {}
};

struct Payload {
    AnalyserContext& context;
    int32_t start;
    int32_t length;
    uint8_t control;
    uint32_t firstPts;
    uint32_t dts;
};

inline constexpr size_t HeaderSize = 17;

inline uint32_t bigEndian32(const uint8_t* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

// Places the input's block in the run state's BlockBuffer and calls analyse(Payload&).
template <typename Analyse>
int OnBlock(const uint8_t* data, size_t size, Analyse analyse) {
    if (size <= HeaderSize)
        return 0;
    static RunState* const state = [] {
        auto* made = new RunState(); // lives as long as the process
        made->Tables.fill();
        return made;
    }();
    static SilentUi ui;

    const int64_t blockLength = int64_t(std::min<size_t>(size - HeaderSize, BlockSize));
    std::memcpy(state->BlockBuffer.data(), data + HeaderSize, size_t(blockLength));
    state->PictureCounter = {};
    state->SlotFrameRate = {};
    AnalyserContext context{*state, ui, blockLength, (data[0] & 0x80) != 0};
    const int64_t start = std::min<int64_t>(bigEndian32(data + 1), blockLength - 1);
    const int64_t length = std::min<int64_t>(bigEndian32(data + 5), blockLength - start);
    Payload payload{context, int32_t(start), int32_t(length), data[0], bigEndian32(data + 9), bigEndian32(data + 13)};

    uint8_t* tail = state->BlockBuffer.data() + blockLength;
    const size_t tailSize = size_t(BlockSize - blockLength);
    ASAN_POISON_MEMORY_REGION(tail, tailSize);
    analyse(payload);
    ASAN_UNPOISON_MEMORY_REGION(tail, tailSize);
    return 0;
}

} // namespace halyard::fuzz
