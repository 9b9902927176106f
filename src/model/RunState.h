#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/LpcmWavOutput.h"
#include "model/OutputStream.h"
#include "model/SourceFile.h"

namespace halyard {

inline constexpr int BlockSize = 262144;
inline constexpr int VideoSlots = 16;
inline constexpr int AudioSlots = 16;
inline constexpr int SubpictureSlots = 32;
inline constexpr int EmptySlot = -1;

// The catalogue of streams found in the source: per class, the stream id, stream id
// extension or substream id that claimed each slot, or -1 for an empty slot.
struct StreamCatalogue {
    std::array<int32_t, VideoSlots> VideoType{};
    std::array<int32_t, AudioSlots> AudioType{};
    std::array<int32_t, SubpictureSlots> SubpictureType{};

    void reset() {
        VideoType.fill(EmptySlot);
        AudioType.fill(EmptySlot);
        SubpictureType.fill(EmptySlot);
    }
};

// Set once a slot's first time stamp has been logged and its analyser called.
// Subpicture slots 16-31 have flags of their own, so their details are shown once too.
struct DetailsShownFlags {
    std::array<uint8_t, AudioSlots> Audio{};
    std::array<uint8_t, 2> Video{};
    std::array<uint8_t, SubpictureSlots> Subpicture{};

    void reset() {
        Audio.fill(0);
        Video.fill(0);
        Subpicture.fill(0);
    }
    bool operator==(const DetailsShownFlags&) const = default;
};

// Each stream's true first time stamp in the last engine run: the PTS of the first PES
// header of the stream that carried one. The first PTS that the engine logs is a latch
// that a packet without a PTS of its own can leave at another packet's value.
struct TrueFirstPtsTable {
    std::array<std::optional<uint32_t>, VideoSlots> Video{};
    std::array<std::optional<uint32_t>, AudioSlots> Audio{};
    std::array<std::optional<uint32_t>, SubpictureSlots> Subpicture{};

    void reset() {
        Video.fill(std::nullopt);
        Audio.fill(std::nullopt);
        Subpicture.fill(std::nullopt);
    }
};

// Packets and payload bytes of one stream in an engine run, counted as the engine hands
// the payload on (what a demux writes), and when its first payload came.
struct StreamCount {
    uint64_t Packets = 0;
    uint64_t PayloadBytes = 0;
    uint32_t FirstOrder = 0; // 1 for the run's first stream with a payload, 2 for the next ...; 0: none

    bool operator==(const StreamCount&) const = default;
};

// The counts of a run by stream: indexed by the id that names a stream to the engine
// (a video stream id 0xE0-0xE3, a VC-1 stream id extension 0x55-0x56, a private stream
// 1 audio or subpicture substream id). These ranges do not overlap.
struct StreamTally {
    std::array<StreamCount, 256> Streams{};
    uint32_t StreamsSeen = 0;

    void reset() {
        Streams.fill(StreamCount{});
        StreamsSeen = 0;
    }
    bool operator==(const StreamTally&) const = default;
};

// What one source file of the last Read EVO held: the catalogue as the engine left it
// after that file, and its tally. The merged catalogue that offers the boxes is kept
// apart from these.
struct SourceStreamMap {
    std::string Path;
    StreamCatalogue Catalogue{};
    StreamTally Tally{};
};

// Display tables that the engine fills at the start of every run and the analysers read.
struct LookupTables {
    std::array<int32_t, 4> DdSampleRates{};
    std::array<int32_t, 19> DdBitRates{};
    std::array<std::string, 32> ChannelAssignmentNames;
    std::array<std::string, 32> ChannelArrangementNames;
    std::array<std::string, 16> QuantizationNames;
    std::array<std::string, 16> SamplingFrequencyNames;
    std::array<std::string, 16> AspectRatioNames;

    void fill();
};

// The state that the engine and the jobs share for the life of the process.
struct RunState {
    StreamCatalogue Catalogue{};
    DetailsShownFlags DetailsShown{};
    // Packets and payload bytes per stream of the engine's latest run.
    StreamTally Tally{};
    // The streams of each file that Read EVO read, in the order read.
    std::vector<SourceStreamMap> SourceMaps;

    // Files: the source the engine reads, the outputs the Demux job creates.
    std::unique_ptr<SourceFile> SourceStream;
    std::array<std::unique_ptr<OutputStream>, 2> VideoOutput;
    std::array<std::unique_ptr<OutputStream>, 16> AudioOutput;
    std::array<std::unique_ptr<OutputStream>, 16> SubpictureOutput;
    // LPCM audio slots written as WAV files instead of AudioOutput.
    std::array<std::unique_ptr<LpcmWavOutput>, 16> AudioWavOutput;

    // Run flags.
    bool CancelFlag = false;
    bool BusyFlag = false;
    bool FastCheckStop = false;

    // Time stamps (90 kHz, low 32 bits) and durations.
    uint32_t EarliestPts = 0;
    TrueFirstPtsTable TrueFirstPts{};
    uint32_t FirstVideoPts = 0;
    uint32_t LastVideoPts = 0;
    double FileDuration = 0;  // days
    double TotalDuration = 0; // seconds

    // Per video slot results of the analysers.
    std::array<int32_t, 2> PictureCounter{};
    std::array<double, 2> SlotFrameRate{};
    // The frames a second that the stream's own parameters give (0 when they give
    // none), where SlotFrameRate may hold a rate the frame report assumes: H.264 always
    // reports 24000/1001, and an MPEG-2 code that names no rate 1.
    std::array<double, 2> StreamFrameRate{};

    // Decimal separator of fractional values in log lines ("." unless the window sets the locale's).
    char DecimalSeparator = '.';

    LookupTables Tables;

    // The block the engine (and later Rebuild and the playlist reader) reads into.
    std::array<uint8_t, BlockSize> BlockBuffer{};

    RunState();
    ~RunState();
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    // Closes the source and every output, flushing what the outputs hold. The first
    // failure is rethrown after all are closed.
    void closeAll();
};

} // namespace halyard
