#include "engine/Demux.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "analysers/NumberFormat.h"
#include "analysers/PictureCounter.h"
#include "engine/Demuxer.h"

namespace halyard {

namespace {
// Packet start codes, as they stand in the start-code window.
constexpr uint32_t StartCodePrefix = 0x00000100;
constexpr uint32_t Mpeg2VideoCode = 0x000001E0;   // 0xE0, 0xE1
constexpr uint32_t H264VideoCode = 0x000001E2;    // 0xE2, 0xE3
constexpr uint32_t ExtendedStreamCode = 0x000001FD;
constexpr uint32_t MpegAudioCode = 0x000001C0;    // 0xC0-0xCF
constexpr uint32_t StreamMapCode = 0x000001BC;
constexpr uint32_t PrivateStream1Code = 0x000001BD;
constexpr uint32_t PaddingCode = 0x000001BE;
constexpr uint32_t PrivateStream2Code = 0x000001BF;

constexpr int32_t Vc1FirstExtension = 0x55; // stream_id_extension of VC-1 slots 0 and 1

std::string slotText(int32_t slot) { return Dec(slot); }
} // namespace

SourceKind SourceKindOf(const std::string& path) {
    auto dot = path.find_last_of('.');
    auto separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return SourceKind::Evo;
    std::string extension = path.substr(dot);
    for (char& ch : extension)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (extension == ".AOB")
        return SourceKind::Aob;
    if (extension == ".VOB")
        return SourceKind::Vob;
    return SourceKind::Evo;
}

void demux(RunState& state, UiModel& ui, ProcessMode mode) {
    Demuxer(state, ui, mode).run();
}

Demuxer::Demuxer(RunState& state, UiModel& ui, ProcessMode mode, ScanMethod method)
    : state_(state), ui_(ui), mode_(mode), method_(method), analyser_{state, ui, 0, false} {}

void Demuxer::run() {
    startRun();
    try {
        blockLoop();
    } catch (...) {
        endRun();
        throw;
    }
    endRun();
}

// A. Start of a run.
void Demuxer::startRun() {
    state_.Tables.fill();
    ui_.bCancel.enabled = true;
    ui_.controlsChanged();
    state_.CancelFlag = false;
    state_.BusyFlag = mode_ == ProcessMode::Demux;
    c_ = RunContext{};
    c_.RunStartTime = std::chrono::steady_clock::now();
    state_.FastCheckStop = false;
    state_.Catalogue.reset();
    state_.DetailsShown.reset();
    state_.TrueFirstPts.reset();
    state_.Tally.reset();
    sourceKind_ = SourceKindOf(ui_.eEVOfile);
    analyser_.aobSource = sourceKind_ == SourceKind::Aob;
}

// B. Block loop.
void Demuxer::blockLoop() {
    SourceFile& source = *state_.SourceStream;
    while (source.position() < source.size() && !state_.CancelFlag && !state_.FastCheckStop) {
        // The block where the source shows it (mapped, not copied), or in BlockBuffer.
        c_.BlockLength = source.next(block_, state_.BlockBuffer.data(), BlockSize);
        if (c_.BlockLength == 0)
            break; // nothing left (the source raises an error when it ends before its size)
        analyser_.blockLength = c_.BlockLength;
        analyser_.blockData = block_;
        afterRead(source.position());
        scanBlock();
        source.confirm(); // the block was whole in the file while it was scanned
    }
}

void Demuxer::scanBlock() {
    const uint8_t* block = block_;
    const bool fast = method_ == ScanMethod::Fast;
    for (c_.ScanPosition = 0; c_.ScanPosition < c_.BlockLength; ++c_.ScanPosition) {
        if (examineByte(block[c_.ScanPosition]) && !(fast && fastPacket(block)))
            huntStartCode(block);
    }
}

// The scanner is idle after the byte at ScanPosition: until a start code completes, the
// bytes only pass through the start-code window. No code can complete before the byte
// after the next 01, so the bytes up to that 01 are shifted in at once.
void Demuxer::huntStartCode(const uint8_t* block) {
    if ((c_.StartCodeWindow & 0xFF) == 0x01)
        return; // the next byte may complete a code
    const int64_t from = int64_t(c_.ScanPosition) + 1;
    if (from >= c_.BlockLength)
        return;
    const void* found = std::memchr(block + from, 0x01, size_t(c_.BlockLength - from));
    const int64_t one = found ? static_cast<const uint8_t*>(found) - block : c_.BlockLength - 1;
    for (int64_t i = std::max(from, one - 3); i <= one; ++i)
        c_.StartCodeWindow = (c_.StartCodeWindow << 8) | block[i];
    c_.ScanPosition = int32_t(one); // the loop goes on with the byte after it
}

// C. One byte. Returns true when the byte left the scanner idle, hunting for a start code.
bool Demuxer::examineByte(uint8_t byte) {
    c_.StartCodeWindow = (c_.StartCodeWindow << 8) | byte;

    if (c_.InPayload) {
        payloadStep();
    } else if (c_.SkipPending > 0) {
        // This byte is the packet's first unconsumed one; go on after the packet.
        // A skip past the block's end is not carried into the next block.
        if (c_.PacketRemaining > 0)
            c_.ScanPosition += c_.PacketRemaining - 1;
        c_.PacketRemaining = 0;
        c_.SkipPending = 0;
    } else if (c_.NavSubstreamPending) {
        navSubstreamByte(byte);
    } else if (c_.NavPending) {
        navigationHandler();
    } else if ((c_.StartCodeWindow & 0xFFFFFF00) == StartCodePrefix && startCode()) {
        c_.LengthCount = 2;
    } else if (c_.LengthCount == 2) {
        c_.LengthCount = 1;
    } else if (c_.LengthCount == 1) {
        lengthComplete();
    } else if (c_.HeaderCount > 0) {
        fixedHeaderByte(byte);
    } else if (c_.PtsCount > 0) {
        ptsByte(byte);
    } else if (c_.PtsDtsCount > 0) {
        ptsDtsByte(byte);
    } else if (c_.ExtensionCount > 0) {
        extensionFlagsByte(byte);
    } else if (c_.PstdCount > 0) {
        pstdByte();
    } else if (c_.Extension2Count > 0) {
        extension2Byte(byte);
    } else if (c_.HeaderRemaining > 0) {
        c_.PacketRemaining -= 1;
        c_.HeaderRemaining -= 1;
        if (c_.HeaderRemaining == 0)
            endOfHeader();
    } else if (c_.SubstreamCount > 0) {
        substreamByte(byte);
    } else if (c_.LpcmExtraCount > 0) {
        c_.PacketRemaining -= 1;
        c_.LpcmHeader[size_t(3 - c_.LpcmExtraCount)] = byte;
        if (--c_.LpcmExtraCount == 0) {
            c_.InPayload = true;
            c_.PacketKind = KindAudio;
        }
    } else if (c_.TrueHdExtraCount > 0) {
        c_.PacketRemaining -= 1;
        if (--c_.TrueHdExtraCount == 0) {
            c_.InPayload = true;
            c_.PacketKind = KindAudio;
        }
    } else {
        return true; // passed over while hunting for the next start code
    }
    return false;
}

// C5. Recognised packet start codes; the pack and system header codes are not among them.
bool Demuxer::startCode() {
    const uint32_t window = c_.StartCodeWindow;
    if ((window & 0xFFFFFFFE) == Mpeg2VideoCode) {
        c_.PacketKind = KindVideo;
        c_.VideoCodec = VideoMpeg2;
        identifyVideo(int32_t(window & 0xFF), int32_t(window & 1), true);
    } else if ((window & 0xFFFFFFFE) == H264VideoCode) {
        c_.PacketKind = KindVideo;
        c_.VideoCodec = VideoH264;
        identifyVideo(int32_t(window & 0xFF), int32_t(window & 1), false);
    } else if (window == ExtendedStreamCode) {
        c_.PacketKind = KindVideo;
        c_.VideoCodec = VideoVc1; // identified by its stream id extension
    } else if ((window & 0xFFFFFFF0) == MpegAudioCode) {
        c_.PacketKind = KindMpegAudio;
    } else if (window == StreamMapCode || window == PaddingCode) {
        c_.PacketKind = KindSkip;
    } else if (window == PrivateStream1Code) {
        c_.PacketKind = KindPrivate1;
    } else if (window == PrivateStream2Code) {
        c_.PacketKind = KindPrivate2;
    } else {
        return false;
    }
    c_.PacketHasPts = false;
    c_.PacketCounted = false;
    return true;
}

// C7. The 16-bit packet length is complete.
void Demuxer::lengthComplete() {
    c_.LengthCount = 0;
    c_.PacketRemaining = int32_t(c_.StartCodeWindow & 0xFFFF);
    if (c_.PacketKind == KindPrivate2)
        c_.NavSubstreamPending = true;
    else if (c_.PacketKind == KindSkip)
        c_.SkipPending = c_.PacketRemaining;
    else
        c_.HeaderCount = 3;
}

// D1. The three fixed bytes of the PES header.
void Demuxer::fixedHeaderByte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.HeaderCount -= 1;
    if (c_.HeaderCount == 1) {
        c_.HeaderFlags = byte; // PTS_DTS_flags in bits 7-6, PES_extension_flag in bit 0
        return;
    }
    if (c_.HeaderCount != 0)
        return; // '10', scrambling, priority, alignment, copyright, original
    c_.HeaderRemaining = byte; // PES_header_data_length
    const uint8_t flags = c_.HeaderFlags;
    if ((flags & 0xC0) == 0x80)
        c_.PtsCount = 5;
    else if ((flags & 0xC0) == 0xC0)
        c_.PtsDtsCount = 10;
    else if ((flags & 0xC1) == 0x01)
        c_.ExtensionCount = 1;
    if (c_.HeaderRemaining == 0)
        endOfHeader();
}

namespace {
// One byte of a 5-byte time stamp field, by the count of bytes still to come after it.
// '001x' PTS[32..30] marker, PTS[29..15] marker, PTS[14..0] marker; bit 32 is dropped.
void accumulateTimeStamp(uint32_t& accumulator, int32_t remaining, uint8_t byte) {
    switch (remaining) {
    case 4: accumulator = uint32_t(byte & 0x06) << 29; break;
    case 3: accumulator |= uint32_t(byte) << 22; break;
    case 2: accumulator |= uint32_t(byte & 0xFE) << 14; break;
    case 1: accumulator |= uint32_t(byte) << 7; break;
    case 0: accumulator |= uint32_t(byte & 0xFE) >> 1; break;
    }
}
} // namespace

// D2. A lone PTS.
void Demuxer::ptsByte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.HeaderRemaining -= 1;
    c_.PtsCount -= 1;
    accumulateTimeStamp(c_.PtsAccumulator, c_.PtsCount, byte);
    if (c_.PtsCount == 0) {
        c_.CurrentPts = c_.PtsAccumulator;
        c_.CurrentPtsSet = true;
        c_.PacketPts = c_.CurrentPts;
        c_.PacketHasPts = true;
        afterTimeStamp();
    }
}

// D3. A PTS followed by a DTS.
void Demuxer::ptsDtsByte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.HeaderRemaining -= 1;
    c_.PtsDtsCount -= 1;
    if (c_.PtsDtsCount >= 5) {
        accumulateTimeStamp(c_.PtsAccumulator, c_.PtsDtsCount - 5, byte);
        if (c_.PtsDtsCount == 5) {
            c_.CurrentPts = c_.PtsAccumulator;
            c_.CurrentPtsSet = true;
            c_.VideoFirstPts = c_.CurrentPts;
            c_.PacketPts = c_.CurrentPts;
            c_.PacketHasPts = true;
        }
        return;
    }
    accumulateTimeStamp(c_.PtsAccumulator, c_.PtsDtsCount, byte);
    if (c_.PtsDtsCount == 0) {
        c_.CurrentDts = c_.PtsAccumulator;
        afterTimeStamp();
    }
}

void Demuxer::afterTimeStamp() {
    if (c_.HeaderRemaining == 0)
        endOfHeader();
    else if (c_.PacketKind == KindVideo && (c_.HeaderFlags & 1) == 1)
        c_.ExtensionCount = 1;
}

// D4. PES extension flags: PES_private_data, pack_header_field, sequence counter,
// P-STD_buffer (0x10), reserved, extension_flag_2 (0x01).
void Demuxer::extensionFlagsByte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.HeaderRemaining -= 1;
    c_.ExtensionCount = 0;
    c_.ExtensionFlags = byte;
    if ((byte & 0x10) != 0)
        c_.PstdCount = 2;
    else if ((byte & 0x01) != 0)
        c_.Extension2Count = 2;
}

// D5. P-STD buffer scale and size.
void Demuxer::pstdByte() {
    c_.PacketRemaining -= 1;
    c_.HeaderRemaining -= 1;
    if (--c_.PstdCount != 0)
        return;
    if ((c_.ExtensionFlags & 1) != 0)
        c_.Extension2Count = 2;
    else if (c_.HeaderRemaining == 0)
        c_.InPayload = true;
}

// D6. Extension 2: field length, then stream_id_extension.
void Demuxer::extension2Byte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.HeaderRemaining -= 1;
    if (--c_.Extension2Count != 0)
        return;
    const int32_t id = byte & 0x7F;
    if (id == Vc1FirstExtension || id == Vc1FirstExtension + 1) {
        identifyVideo(id, id - Vc1FirstExtension, true);
        c_.PacketKind = KindVideo;
    } else {
        c_.PacketKind = KindPassOver;
    }
    if (c_.HeaderRemaining == 0)
        c_.InPayload = true;
}

// D7. End of the PES header.
void Demuxer::endOfHeader() {
    if (c_.PacketKind == KindPrivate1)
        c_.SubstreamCount = 4;
    else
        c_.InPayload = true;
}

void Demuxer::announce(const std::string& text) {
    if (mode_ == ProcessMode::ReadAnalyse)
        ui_.log(text);
}

// E1. Video identification.
void Demuxer::identifyVideo(int32_t id, int32_t slot, bool latchPts) {
    c_.CurrentVideoId = id;
    c_.CurrentVideoSlot = slot;
    auto& type = state_.Catalogue.VideoType[size_t(slot)];
    if (type != EmptySlot)
        return;
    type = id;
    const char* name = id >= 0xE0 ? (id >= 0xE2 ? "[b]H.264 (AVC)[/b]" : "[b]MPEG-2[/b]") : "[b]VC-1[/b]";
    announce(std::string(name) + " video stream " + slotText(slot) + " found!");
    if (latchPts)
        c_.VideoFirstPts = c_.CurrentPts;
}

// E2. Private-stream-1 substream header.
void Demuxer::substreamByte(uint8_t byte) {
    c_.PacketRemaining -= 1;
    c_.SubstreamCount -= 1;
    if (c_.SubstreamCount == 3) {
        if ((byte & 0xE0) == 0x20)
            identifySubpicture(byte, false);
        else if ((byte & 0xE0) == 0x60)
            identifySubpicture(byte, true);
    } else if (c_.SubstreamCount == 0) {
        identifyAudio();
    }
}

void Demuxer::identifySubpicture(uint8_t substream, bool extended) {
    const int32_t slot = substream & 0x1F;
    c_.CurrentSubpictureSlot = slot;
    c_.CurrentSubpictureId = substream;
    auto& type = state_.Catalogue.SubpictureType[size_t(slot)];
    if (type == EmptySlot) {
        type = substream;
        if (mode_ == ProcessMode::ReadAnalyse) {
            ui_.log(std::string(extended ? "[b]Extended subpicture[/b]" : "[b]Subpicture[/b]") + " stream " +
                    slotText(slot) + " found!");
            c_.SubpictureFirstPts = c_.CurrentPts;
        }
    }
    if (mode_ == ProcessMode::ReadAnalyse && !extended) {
        c_.CurrentPts = 0;
        c_.CurrentPtsSet = false;
    }
    c_.SubstreamCount = 0;
    c_.PacketKind = KindSubpicture;
    c_.InPayload = true; // the subpicture data begins with the next byte
}

void Demuxer::identifyAudio() {
    const int32_t r = int32_t(c_.StartCodeWindow >> 24); // the substream id, three bytes back
    c_.CurrentAudioSlot = r & 0x0F;
    const char* name = nullptr;
    if ((r & 0xF8) == 0x80) {
        c_.AudioCodec = AudioDolbyDigital;
        c_.CurrentAudioSlot = r & 7;
        name = "[b]Dolby Digital[/b] audio stream ";
    } else if ((r & 0xF8) == 0x88) {
        c_.AudioCodec = AudioDts;
        c_.CurrentAudioSlot = r & 7;
        name = "[b]DTS HD (DTS)[/b] audio stream ";
    } else if ((r & 0xF0) == 0xC0) {
        c_.AudioCodec = AudioDolbyDigitalPlus;
        c_.CurrentAudioSlot = r & 0x0F;
        name = "[b]Dolby Digital[/b] Plus audio stream ";
    } else if ((r & 0xF8) == 0xA0) {
        c_.AudioCodec = AudioLpcm;
        c_.CurrentAudioSlot = r & 0x0F;
        name = (r == 0xA1 && sourceKind_ == SourceKind::Aob) ? "[b]MLP[/b] audio stream "
                                                              : "[b]LPCM[/b] audio stream ";
        c_.LpcmExtraCount = 3;
    } else if ((r & 0xF8) == 0xB0) {
        c_.AudioCodec = AudioTrueHd;
        c_.CurrentAudioSlot = r & 7;
        name = "[b]Dolby TrueHD[/b] audio stream ";
        c_.TrueHdExtraCount = 1;
    }

    if (name == nullptr) {
        c_.PacketKind = KindPassOver;
        c_.InPayload = true;
    } else {
        c_.CurrentAudioId = r;
        auto& type = state_.Catalogue.AudioType[size_t(c_.CurrentAudioSlot)];
        if (type < 0) {
            type = r;
            announce(name + slotText(c_.CurrentAudioSlot) + " found!");
            c_.AudioFirstPts = c_.CurrentPts;
        }
        if (c_.AudioCodec != AudioLpcm && c_.AudioCodec != AudioTrueHd) {
            c_.PacketKind = KindAudio;
            c_.InPayload = true;
        }
    }
    c_.CurrentPts = 0;
    c_.CurrentPtsSet = false;
}

// F. Payload step: the byte at ScanPosition is the first of a payload chunk.
void Demuxer::payloadStep() {
    const int32_t start = c_.ScanPosition;
    if (c_.PacketRemaining < 0) {
        // A damaged packet whose header bytes outran its length: nothing of it is handed
        // on, and this byte is examined again as the first one after the packet.
        c_.PacketRemaining = 0;
        c_.InPayload = false;
        c_.ScanPosition -= 1;
        return;
    }
    // An empty payload (a = 0) leaves this byte to be examined again.
    const int32_t a = int32_t(std::min<int64_t>(c_.PacketRemaining, c_.BlockLength - start));
    const uint8_t kind = c_.PacketKind;
    // A video payload before any stream id extension named its slot has no stream.
    const bool carried = (kind == KindVideo && c_.CurrentVideoSlot >= 0) || kind == KindAudio ||
                         kind == KindMpegAudio || kind == KindSubpicture;
    if (carried) {
        noteTrueFirstPts();
        tally(a);
        if (kind == KindVideo && ui_.cbCountFr) {
            const int32_t slot = c_.CurrentVideoSlot;
            if (mode_ == ProcessMode::ReadAnalyse || state_.VideoOutput[size_t(slot)] != nullptr)
                CountPictures(analyser_, start, a, slot, c_.VideoCodec);
        }
        if (mode_ == ProcessMode::ReadAnalyse)
            showDetails(start, a);
        else
            writePayload(start, a);
    }
    c_.PacketRemaining -= a;
    c_.ScanPosition += a - 1;
    if (c_.PacketRemaining == 0)
        c_.InPayload = false;
}

// The first payload of a slot whose packet header carried a PTS gives the slot's true
// first PTS; a store per packet at most, none per byte.
void Demuxer::noteTrueFirstPts() {
    if (!c_.PacketHasPts)
        return;
    std::optional<uint32_t>* first = nullptr;
    if (c_.PacketKind == KindVideo && c_.CurrentVideoSlot >= 0)
        first = &state_.TrueFirstPts.Video[size_t(c_.CurrentVideoSlot)];
    else if (c_.PacketKind == KindAudio && c_.CurrentAudioSlot >= 0)
        first = &state_.TrueFirstPts.Audio[size_t(c_.CurrentAudioSlot)];
    else if (c_.PacketKind == KindSubpicture && c_.CurrentSubpictureSlot >= 0)
        first = &state_.TrueFirstPts.Subpicture[size_t(c_.CurrentSubpictureSlot)];
    if (first && !*first)
        *first = c_.PacketPts;
}

// Counts a payload chunk for its stream, and the packet with its first chunk. MPEG
// audio has no stream id of the tally's.
void Demuxer::tally(int32_t length) {
    int32_t id = -1;
    switch (c_.PacketKind) {
    case KindVideo: id = c_.CurrentVideoId; break;
    case KindAudio: id = c_.CurrentAudioId; break;
    case KindSubpicture: id = c_.CurrentSubpictureId; break;
    default: return;
    }
    StreamTally& tally = state_.Tally;
    StreamCount& count = tally.Streams[uint8_t(id)];
    if (!c_.PacketCounted) {
        c_.PacketCounted = true;
        if (count.Packets++ == 0)
            count.FirstOrder = ++tally.StreamsSeen;
    }
    count.PayloadBytes += uint64_t(length);
}

// F2.2. The first payload of each slot: its first time stamp, its id, its analyser.
// The earliest time stamp, which the subpicture records count from, is taken from the
// first payload of every audio and video slot whether or not the details are shown.
void Demuxer::showDetails(int32_t start, int32_t length) {
    if (mode_ != ProcessMode::ReadAnalyse)
        return;
    lowerEarliestPts();
    if (!ui_.cbDetails)
        return;
    if (c_.PacketKind == KindAudio) {
        if (firstShown(state_.DetailsShown.Audio[size_t(c_.CurrentAudioSlot)], c_.AudioFirstPts, c_.CurrentAudioId))
            analyseAudio(start, length);
    } else if (c_.PacketKind == KindVideo && c_.CurrentVideoSlot >= 0) {
        if (firstShown(state_.DetailsShown.Video[size_t(c_.CurrentVideoSlot)], c_.VideoFirstPts, c_.CurrentVideoId))
            analyseVideo(start, length);
    } else if (c_.PacketKind == KindSubpicture) {
        if (firstShown(state_.DetailsShown.Subpicture[size_t(c_.CurrentSubpictureSlot)], c_.SubpictureFirstPts,
                       c_.CurrentSubpictureId))
            CheckSubpictureFormat(analyser_, start);
    }
}

void Demuxer::lowerEarliestPts() {
    if (c_.PacketKind == KindAudio) {
        auto& taken = c_.EarliestTaken.Audio[size_t(c_.CurrentAudioSlot)];
        if (!taken)
            state_.EarliestPts = std::min(state_.EarliestPts, c_.AudioFirstPts);
        taken = 1;
    } else if (c_.PacketKind == KindVideo && c_.CurrentVideoSlot >= 0) {
        auto& taken = c_.EarliestTaken.Video[size_t(c_.CurrentVideoSlot)];
        if (!taken)
            state_.EarliestPts = std::min(state_.EarliestPts, c_.VideoFirstPts);
        taken = 1;
    }
}

// Marks a slot's details as shown and logs its first time stamp and id, once per run.
bool Demuxer::firstShown(uint8_t& shown, uint32_t firstPts, int32_t id) {
    if (shown)
        return false;
    shown = 1;
    ui_.log("   First PTS = [re]" + Hex(firstPts, 8) + "[/re]");
    ui_.log("   Substream id = " + Hex(uint32_t(id), 2));
    return true;
}

void Demuxer::analyseAudio(int32_t start, int32_t length) {
    const AnalyserTable& analysers = Analysers();
    const bool mlp = c_.AudioCodec == AudioTrueHd ||
                     (c_.AudioCodec == AudioLpcm && c_.CurrentAudioId == 0xA1 && sourceKind_ == SourceKind::Aob);
    if (mlp) {
        if (analysers.Mlp)
            analysers.Mlp(analyser_, start, length);
    } else if (c_.AudioCodec == AudioLpcm) {
        if (analysers.Lpcm)
            analysers.Lpcm(analyser_, start, length);
    } else if (c_.AudioCodec == AudioDts) {
        if (analysers.Dts)
            analysers.Dts(analyser_, start, length);
    } else if (analysers.DolbyDigital) {
        analysers.DolbyDigital(analyser_, start, length, c_.CurrentAudioSlot);
    }
}

void Demuxer::analyseVideo(int32_t start, int32_t length) {
    const AnalyserTable& analysers = Analysers();
    const int32_t slot = c_.CurrentVideoSlot;
    if (c_.VideoCodec == VideoVc1) {
        if (analysers.Vc1)
            analysers.Vc1(analyser_, start, length, c_.CurrentDts, c_.VideoFirstPts, slot);
    } else if (c_.VideoCodec == VideoH264) {
        if (analysers.H264)
            analysers.H264(analyser_, start, length, c_.VideoFirstPts, c_.CurrentDts, slot);
    } else if (analysers.Mpeg2Video) {
        analysers.Mpeg2Video(analyser_, start, length, c_.VideoFirstPts, c_.CurrentDts, slot);
    }
}

// End of run.
void Demuxer::endRun() {
    if (state_.CancelFlag) {
        state_.PictureCounter[0] = 0;
        state_.PictureCounter[1] = 0;
    }
    ui_.bCancel.enabled = false;
    ui_.controlsChanged();
}

} // namespace halyard
