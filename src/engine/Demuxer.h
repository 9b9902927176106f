#pragma once
// The engine's run: one object per call of demux(), holding the run context.
#include <array>
#include <chrono>
#include <cstdint>

#include "analysers/AnalyserContext.h"
#include "engine/Demux.h"

namespace halyard {

// What the current packet is.
enum PacketKindCode : uint8_t {
    KindVideo = 0,
    KindAudio = 1,      // private stream 1 audio
    KindPassOver = 2,   // unknown substream or stream id extension
    KindSkip = 3,       // program stream map, padding
    KindMpegAudio = 4,  // 0xC0-0xCF
    KindPrivate1 = 5,   // substream header pending
    KindSubpicture = 6,
    KindPrivate2 = 7,
    KindNone = 8,
};

enum AudioCodecId : uint8_t { AudioDolbyDigital = 0, AudioDolbyDigitalPlus = 1, AudioDts = 2, AudioLpcm = 3, AudioTrueHd = 4 };

enum class SourceKind : uint8_t { Evo, Vob, Aob };

// How the scanner visits the bytes outside payloads: the byte machine alone, or with
// the fast path over whole pack and packet headers (PacketFastPath.cpp), which ends in
// the same state after the same calls.
enum class ScanMethod : uint8_t { Fast, ByteMachine };
SourceKind SourceKindOf(const std::string& path);

struct RunContext {
    int32_t ScanPosition = 0;
    int64_t BlockLength = 0;
    uint32_t StartCodeWindow = 0;
    uint8_t PacketKind = KindNone;
    uint8_t VideoCodec = 0;
    uint8_t AudioCodec = 0;
    int32_t PacketRemaining = 0;
    bool InPayload = false;
    // The current packet is in the tally already (or is no packet of a stream).
    bool PacketCounted = true;
    uint8_t LengthCount = 0;
    uint8_t HeaderCount = 0;
    uint8_t HeaderFlags = 0;
    uint8_t HeaderRemaining = 0;
    int32_t PtsCount = 0;
    int32_t PtsDtsCount = 0;
    int32_t ExtensionCount = 0;
    int32_t ExtensionFlags = 0;
    int32_t PstdCount = 0;
    int32_t Extension2Count = 0;
    uint8_t SubstreamCount = 0;
    uint8_t LpcmExtraCount = 0;
    std::array<uint8_t, 3> LpcmHeader{}; // bytes 5-7 of the last LPCM packet's header
    int32_t TrueHdExtraCount = 0;
    int32_t SkipPending = 0;
    uint32_t PtsAccumulator = 0;
    uint32_t CurrentPts = 0;
    // A PES header set CurrentPts and nothing has used it yet. Kept beside the value so
    // that a time stamp that is (or becomes) zero still starts a subpicture unit.
    bool CurrentPtsSet = false;
    // The PTS of the current packet's own header, if it has one (for the true first PTS).
    bool PacketHasPts = false;
    uint32_t PacketPts = 0;
    uint32_t CurrentDts = 0;
    uint32_t VideoFirstPts = 0;
    uint32_t AudioFirstPts = 0;
    uint32_t SubpictureFirstPts = 0;
    int32_t CurrentVideoSlot = -1;
    int32_t CurrentAudioSlot = -1;
    int32_t CurrentSubpictureSlot = -1;
    int32_t CurrentVideoId = 0;
    int32_t CurrentAudioId = 0;
    int32_t CurrentSubpictureId = 0;
    // Audio and video slots whose first time stamp has lowered EarliestPts this run.
    DetailsShownFlags EarliestTaken{};
    std::chrono::steady_clock::time_point RunStartTime{};

    // Navigation pack and system header.
    bool FirstNavPending = true;
    bool NavSubstreamPending = false;
    bool NavPending = false;
    uint8_t VideoBound = 0;
    uint8_t AudioBound = 0;
    uint8_t SubpictureCount = 0;

    bool operator==(const RunContext&) const = default;
};

class Demuxer {
public:
    Demuxer(RunState& state, UiModel& ui, ProcessMode mode, ScanMethod method = ScanMethod::Fast);
    void run();
    // The run context as the run left it.
    const RunContext& context() const { return c_; }

private:
    // Start, block loop, one byte (Demux.cpp).
    void startRun();
    void blockLoop();
    void scanBlock();
    bool examineByte(uint8_t byte);
    void huntStartCode(const uint8_t* block);
    bool fastPacket(const uint8_t* block);
    bool startCode();
    void lengthComplete();
    void fixedHeaderByte(uint8_t byte);
    void ptsByte(uint8_t byte);
    void ptsDtsByte(uint8_t byte);
    void extensionFlagsByte(uint8_t byte);
    void pstdByte();
    void extension2Byte(uint8_t byte);
    void endOfHeader();
    void afterTimeStamp();
    void substreamByte(uint8_t byte);
    void identifyVideo(int32_t id, int32_t slot, bool latchPts);
    void identifySubpicture(uint8_t substream, bool extended);
    void identifyAudio();
    void announce(const std::string& text);
    void payloadStep();
    void tally(int32_t length);
    void showDetails(int32_t payloadStart, int32_t length);
    void noteTrueFirstPts();
    void lowerEarliestPts();
    bool firstShown(uint8_t& shown, uint32_t firstPts, int32_t id);
    void analyseAudio(int32_t payloadStart, int32_t length);
    void analyseVideo(int32_t payloadStart, int32_t length);
    void endRun();

    // Payload writer (PayloadWriter.cpp).
    void writePayload(int32_t payloadStart, int32_t length);
    static void writeTo(OutputStream* output, const uint8_t* data, int32_t length);
    void writeWav(LpcmWavOutput& output, const uint8_t* data, int32_t length);

    // Progress, refresh (Progress.cpp).
    void afterRead(int64_t position);
    void showProgress(int64_t position);

    // Navigation pack and system header (Navigation.cpp).
    void probeSystemHeader();
    void navSubstreamByte(uint8_t byte);
    void navigationHandler();
    uint32_t word32At(int64_t index) const;

    RunState& state_;
    UiModel& ui_;
    ProcessMode mode_;
    ScanMethod method_;
    SourceKind sourceKind_ = SourceKind::Evo;
    RunContext c_;
    const uint8_t* block_ = nullptr; // the block being scanned: BlockLength bytes
    AnalyserContext analyser_;
};

} // namespace halyard
