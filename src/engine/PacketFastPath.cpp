// The scanner's fast path: a whole pack header and PES header taken at once.
//
// The byte machine (Demux.cpp) is the model of the scanner; this path only saves it the
// work of stepping through the header bytes of an ordinary packet one at a time. It is
// tried where the machine is idle, hunting for a start code, at the first byte of a
// start code prefix, and handles what follows only when it can end in exactly the
// state the machine would reach, after the same calls in the same order:
//   - an optional MPEG-2 pack header (00 00 01 BA, 10 bytes, stuffing);
//   - a packet start code the machine recognises: a PES packet (video, extended stream
//     id, MPEG audio, private stream 1) up to the first byte of its payload, or a
//     padding or program stream map packet up to the end of its skip;
//   - no recognised start code completes inside the bytes it passes (the machine would
//     start a new packet there), no header counter runs past the header data length,
//     and everything but the payload and the skip lies inside the block.
// Anything else (navigation packets, system headers, damaged headers, a header cut by
// the block's end) is left to the byte machine, which goes on from the same byte.
#include "engine/Demuxer.h"

namespace halyard {

namespace {

constexpr uint8_t PackStartId = 0xBA;
constexpr uint8_t StreamMapId = 0xBC;
constexpr uint8_t PrivateStream1Id = 0xBD;
constexpr uint8_t PaddingId = 0xBE;
constexpr uint8_t PrivateStream2Id = 0xBF;
constexpr uint8_t ExtendedStreamId = 0xFD;

constexpr int64_t PackHeaderSize = 14; // 00 00 01 BA, SCR, mux rate, stuffing length
constexpr int64_t PackStuffingAt = 13;
constexpr int64_t FixedHeaderSize = 3;
constexpr int32_t Vc1FirstExtension = 0x55;

// The stream ids whose start codes the machine recognises (step C5).
constexpr bool recognised(uint8_t id) {
    return (id >= 0xE0 && id <= 0xE3) || id == ExtendedStreamId || (id & 0xF0) == 0xC0 || id == StreamMapId ||
           id == PrivateStream1Id || id == PaddingId || id == PrivateStream2Id;
}

// Whether the machine's start-code test fires at a byte of b[from..to]: the byte and
// the three before it are 00 00 01 and a recognised id. from >= 3.
bool codeCompletesIn(const uint8_t* b, int64_t from, int64_t to) {
    for (int64_t j = from; j <= to; ++j)
        if (b[j - 1] == 0x01 && b[j - 2] == 0x00 && b[j - 3] == 0x00 && recognised(b[j]))
            return true;
    return false;
}

uint32_t be32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

// A 5-byte time stamp field as the machine builds it: the low 32 bits of the 33-bit
// value, marker bits dropped.
uint32_t timeStamp(const uint8_t* at) {
    return uint32_t(at[0] & 0x06) << 29 | uint32_t(at[1]) << 22 | uint32_t(at[2] & 0xFE) << 14 |
           uint32_t(at[3]) << 7 | uint32_t(at[4] & 0xFE) >> 1;
}

// The source is read where the page cache holds it, so its bytes come from memory, not
// from a cache that a copy has just filled. The pack a few ahead of the one in hand is
// asked for early, one cache line at a time, so that memory keeps up with the scan.
constexpr int64_t PrefetchDistance = 8192;
constexpr int64_t PrefetchLength = 2048;
constexpr int64_t CacheLine = 64;

void prefetchAhead(const uint8_t* at, int64_t room) {
    if (room < PrefetchDistance + PrefetchLength)
        return;
    for (int64_t line = 0; line < PrefetchLength; line += CacheLine)
        __builtin_prefetch(at + PrefetchDistance + line);
}

// How the PES header of a packet ends, worked out before anything is changed.
struct HeaderPlan {
    uint8_t timeStamps = 0;        // 0, 5 (PTS) or 10 (PTS and DTS)
    bool extension = false;        // the PES extension flags byte is read
    uint8_t extensionFlags = 0;
    bool pstd = false;             // two P-STD bytes follow the flags
    bool extension2 = false;       // field length and stream id extension follow
    int64_t extension2At = 0;      // index of the stream id extension byte
    bool substreamHeader = false;  // the header ends into the private-stream-1 substream header
    int64_t end = 0;               // index of the first byte after the PES header
};

// The PES header whose three fixed bytes start at h, as the machine would take it
// (steps D1-D7), for a packet of kind `kind`. False when the machine would leave the
// usual road: a counter that runs past the header data length, an extension that ends
// the header without a payload, a header that is not inside the block.
bool planHeader(const uint8_t* b, int64_t length, int64_t h, uint8_t kind, HeaderPlan& plan) {
    if (h + FixedHeaderSize > length)
        return false;
    const uint8_t flags = b[h + 1];
    int64_t remaining = b[h + 2]; // PES_header_data_length
    int64_t at = h + FixedHeaderSize;
    if ((flags & 0xC0) == 0x80)
        plan.timeStamps = 5;
    else if ((flags & 0xC0) == 0xC0)
        plan.timeStamps = 10;
    if (plan.timeStamps > 0) {
        if (remaining < plan.timeStamps)
            return false; // the machine's header count would wrap
        at += plan.timeStamps;
        remaining -= plan.timeStamps;
        // After the time stamps only a video packet reads the PES extension.
        plan.extension = remaining > 0 && kind == KindVideo && (flags & 1) != 0;
    } else {
        plan.extension = (flags & 0xC1) == 0x01;
        if (plan.extension && remaining == 0)
            return false; // the header ends and the extension count still runs
    }
    bool payloadAtEnd = false; // the extension steps start the payload without D7
    if (plan.extension) {
        if (remaining < 1 || at >= length)
            return false;
        plan.extensionFlags = b[at];
        at += 1;
        remaining -= 1;
        plan.pstd = (plan.extensionFlags & 0x10) != 0;
        plan.extension2 = (plan.extensionFlags & 0x01) != 0;
        if (plan.pstd) {
            if (remaining < 2)
                return false;
            at += 2;
            remaining -= 2;
        }
        if (plan.extension2) {
            if (remaining < 2)
                return false;
            plan.extension2At = at + 1;
            at += 2;
            remaining -= 2;
        }
        if (!plan.pstd && !plan.extension2 && remaining == 0)
            return false; // no end-of-header step: the machine goes idle
        payloadAtEnd = remaining == 0;
    }
    at += remaining; // stuffing and the fields the machine does not parse (D1)
    plan.end = at;
    // D7 reads the substream header of a private stream 1 packet, unless the extension
    // started the payload itself or its stream id extension gave the packet another kind.
    plan.substreamHeader = kind == KindPrivate1 && !payloadAtEnd && !plan.extension2;
    return at <= length;
}

} // namespace

// The scanner is idle after the byte at ScanPosition. Returns true when it took the
// packet header that starts there, leaving ScanPosition on the last byte it passed.
bool Demuxer::fastPacket(const uint8_t* b) {
    const int64_t length = c_.BlockLength;
    const int64_t p = c_.ScanPosition;
    if (p + PackHeaderSize > length || b[p] != 0x00 || b[p + 1] != 0x00 || b[p + 2] != 0x01)
        return false;

    // The pack header: its bytes only pass through the start-code window.
    int64_t q = p;
    if (b[p + 3] == PackStartId) {
        q = p + PackHeaderSize + (b[p + PackStuffingAt] & 0x07);
        // The codes that could complete in 00 00 01 BA and in the 00 00 01 of the packet
        // are not recognised ones; the bytes between are checked.
        if (q + 6 > length || codeCompletesIn(b, p + 6, q - 1))
            return false;
    }
    if (q + 6 > length || b[q] != 0x00 || b[q + 1] != 0x00 || b[q + 2] != 0x01)
        return false;
    const uint8_t id = b[q + 3];
    if (!recognised(id) || id == PrivateStream2Id)
        return false;
    const int32_t packetLength = int32_t(b[q + 4]) << 8 | b[q + 5];

    if (id == StreamMapId || id == PaddingId) {
        // C7 sets the skip, which the next byte carries out (C2).
        if (packetLength > 0 && q + 6 >= length)
            return false; // the skip would wait for the next block
        c_.StartCodeWindow = 0x00000100u | id;
        startCode();
        c_.PacketRemaining = 0;
        c_.SkipPending = 0;
        if (packetLength == 0) {
            c_.StartCodeWindow = be32(b + q + 2);
            c_.ScanPosition = int32_t(q + 5);
        } else {
            c_.StartCodeWindow = be32(b + q + 3);
            c_.ScanPosition = int32_t(q + 6 + packetLength - 1);
        }
        return true;
    }

    // A PES packet: the kind its start code gives, then its header.
    const uint8_t kind = (id & 0xF0) == 0xC0 ? KindMpegAudio : id == PrivateStream1Id ? KindPrivate1 : KindVideo;
    HeaderPlan plan;
    if (!planHeader(b, length, q + 6, kind, plan))
        return false;
    int64_t payload = plan.end;
    uint8_t substream = 0;
    int64_t audioExtra = 0; // LPCM or TrueHD header bytes after the 4-byte substream header
    if (plan.substreamHeader) {
        if (payload >= length)
            return false;
        substream = b[payload];
        if ((substream & 0xE0) == 0x20 || (substream & 0xE0) == 0x60) {
            payload += 1;
        } else {
            if ((substream & 0xF8) == 0xA0)
                audioExtra = 3;
            else if ((substream & 0xF8) == 0xB0)
                audioExtra = 1;
            payload += 4 + audioExtra;
        }
    }
    // The payload's first byte must be in this block; every byte before it is examined
    // by the machine with the start-code test first (from q+7 on, one can complete).
    if (payload >= length || codeCompletesIn(b, q + 7, payload - 1))
        return false;

    // C5, C7: the start code and the packet length.
    c_.StartCodeWindow = 0x00000100u | id;
    startCode();
    c_.LengthCount = 0;
    // D1: the fixed header.
    const int64_t h = q + 6;
    c_.HeaderFlags = b[h + 1];
    int64_t at = h + FixedHeaderSize;
    // D2, D3: the time stamps.
    if (plan.timeStamps == 5) {
        c_.PtsAccumulator = timeStamp(b + at);
        c_.CurrentPts = c_.PtsAccumulator;
        c_.CurrentPtsSet = true;
        c_.PacketPts = c_.CurrentPts;
        c_.PacketHasPts = true;
    } else if (plan.timeStamps == 10) {
        c_.CurrentPts = timeStamp(b + at);
        c_.CurrentPtsSet = true;
        c_.VideoFirstPts = c_.CurrentPts;
        c_.PacketPts = c_.CurrentPts;
        c_.PacketHasPts = true;
        c_.PtsAccumulator = timeStamp(b + at + 5);
        c_.CurrentDts = c_.PtsAccumulator;
    }
    // D4-D6: the PES extension.
    if (plan.extension) {
        c_.ExtensionFlags = plan.extensionFlags;
        if (plan.extension2) {
            const int32_t extension = b[plan.extension2At] & 0x7F;
            if (extension == Vc1FirstExtension || extension == Vc1FirstExtension + 1) {
                identifyVideo(extension, extension - Vc1FirstExtension, true);
                c_.PacketKind = KindVideo;
            } else {
                c_.PacketKind = KindPassOver;
            }
        }
    }
    // D7 and E2: the end of the header, the substream header.
    if (plan.substreamHeader) {
        const int64_t s = plan.end;
        if ((substream & 0xE0) == 0x20 || (substream & 0xE0) == 0x60) {
            identifySubpicture(substream, (substream & 0xE0) == 0x60);
        } else {
            c_.StartCodeWindow = be32(b + s); // the substream id is three bytes back
            identifyAudio();
            if (audioExtra == 3)
                for (size_t i = 0; i < c_.LpcmHeader.size(); ++i)
                    c_.LpcmHeader[i] = b[s + 4 + int64_t(i)];
            if (audioExtra > 0) {
                c_.LpcmExtraCount = 0;
                c_.TrueHdExtraCount = 0;
                c_.InPayload = true;
                c_.PacketKind = KindAudio;
            }
        }
    } else {
        c_.InPayload = true;
    }
    c_.PacketRemaining = packetLength - int32_t(payload - h);
    c_.StartCodeWindow = be32(b + payload - 4);
    c_.ScanPosition = int32_t(payload - 1);
    prefetchAhead(b + p, length - p);
    return true;
}

} // namespace halyard
