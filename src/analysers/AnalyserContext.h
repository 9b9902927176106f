#pragma once
#include <cstdint>
#include <string_view>

#include "analysers/BitReader.h"
#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard {

// What an analyser sees of the engine while it runs: the block just read (only its
// valid bytes may be read), the run state it may write (PictureCounter,
// SlotFrameRate) and the log.
struct AnalyserContext {
    RunState& state;
    UiModel& ui;
    int64_t blockLength; // valid bytes of the block
    bool aobSource;      // the source's extension is ".AOB"
    // The block: where the engine's source shows it, or else state.BlockBuffer.
    const uint8_t* blockData = nullptr;

    const uint8_t* block() const { return blockData != nullptr ? blockData : state.BlockBuffer.data(); }
    uint8_t byteAt(int64_t index) const { return (index >= 0 && index < blockLength) ? block()[index] : 0; }
    void log(std::string_view line) const { ui.log(line); }
    // A reader started at a payload: position at the payload start, first word loaded.
    BitReader startReading(int64_t payloadStart) const {
        BitReader reader(block(), blockLength, payloadStart);
        reader.LoadWord();
        return reader;
    }
};

// The analysers the engine calls for the first payload of each stream, one per codec.
// An empty entry means that codec is announced but not analysed.
struct AnalyserTable {
    void (*DolbyDigital)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength, int32_t audioSlot) = nullptr;
    void (*Dts)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength) = nullptr;
    void (*Mlp)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength) = nullptr;
    void (*Lpcm)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength) = nullptr;
    void (*Vc1)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength, uint32_t currentDts,
                uint32_t videoFirstPts, int32_t videoSlot) = nullptr;
    void (*H264)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength, uint32_t videoFirstPts,
                 uint32_t currentDts, int32_t videoSlot) = nullptr;
    void (*Mpeg2Video)(AnalyserContext&, int32_t payloadStart, int32_t payloadLength, uint32_t videoFirstPts,
                       uint32_t currentDts, int32_t videoSlot) = nullptr;
};

// The table the engine uses.
const AnalyserTable& Analysers();

} // namespace halyard
