#include "analysers/DolbyDigital.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

constexpr uint16_t SyncWord = 0x0B77; // syncword of both syncinfo layouts
constexpr int HeaderBytes = 5;        // header bytes read after the sync word

// bsid 11 to 16 mark an E-AC-3 bit stream; 0 to 10 are read as AC-3.
constexpr uint8_t FirstPlusBsid = 11;
constexpr uint8_t LastPlusBsid = 16;

// Audio blocks per syncframe, by numblkscod.
constexpr std::array<int32_t, 4> BlocksPerFrame{1, 2, 3, 6};

// Audio coding mode names, by acmod.
constexpr std::array<std::string_view, 8> AcmodNames{
    "dual mono", "mono", "L + R", "L + R + C", "L + R + S", "L + R + C + S", "L + R + Ls + Rs", "L + R + C + Ls + Rs"};

// The fields of the five bytes after the sync word. The bytes are read with both
// layouts at once, and the bsid picks which fields count:
//   AC-3:   crc1 (16) | fscod (2) frmsizecod (6) | bsid (5) bsmod (3) | acmod (3) ...
//   E-AC-3: strmtyp (2) substreamid (3) frmsiz (11) | fscod (2) numblkscod (2) acmod (3) lfeon (1) |
//           bsid (5) dialnorm (5) ...
struct SyncFrameHeader {
    uint32_t frmsiz = 0;      // E-AC-3 frame size in 16-bit words, minus one
    int32_t sampleRate = 0;   // Hz, 0 for fscod 3
    int32_t bitRate = 0;      // bit/s
    int32_t blocks = 0;       // audio blocks per frame (numblkscod)
    uint8_t acmod = 0;
    uint8_t lfeon = 0;
    uint8_t bsid = 0;
    uint8_t bsmod = 0;
};

// AC-3 bit rate of frmsizecod: the table holds frmsizecod 0 to 37 (two codes per
// rate). Codes 38 to 63 are not defined and give 0, which releases the frame.
int32_t ac3BitRate(const LookupTables& tables, uint8_t frmsizecod) {
    size_t index = frmsizecod >> 1;
    return index < tables.DdBitRates.size() ? tables.DdBitRates[index] : 0;
}

void readHeaderByte(int place, uint8_t b, const LookupTables& tables, SyncFrameHeader& header) {
    switch (place) {
    case 1: // E-AC-3 frmsiz, bits 10-8 (AC-3: crc1)
        header.frmsiz = (b & 0x07u) << 8;
        break;
    case 2: // frmsiz, bits 7-0
        header.frmsiz += b;
        break;
    case 3:
        header.sampleRate = tables.DdSampleRates[b >> 6]; // fscod
        header.bitRate = ac3BitRate(tables, b & 0x3F);    // AC-3 frmsizecod
        header.blocks = BlocksPerFrame[(b >> 4) & 0x03];  // E-AC-3 numblkscod
        header.acmod = (b >> 1) & 0x07;                   // E-AC-3 acmod
        header.lfeon = b & 0x01;                          // E-AC-3 lfeon
        break;
    case 4:
        header.bsid = b >> 3;
        header.bsmod = b & 0x07;
        break;
    default:
        break;
    }
}

std::string kiloHertz(int32_t sampleRate, char separator) {
    return Fraction(sampleRate / 1000.0, separator);
}

// Logs an E-AC-3 header. Returns false when the frame is released (fscod 3: no rate
// this analyser knows), so that a later sync word is read too.
bool reportPlus(const AnalyserContext& context, const SyncFrameHeader& header, int32_t audioSlot) {
    bool taken = header.sampleRate != 0;
    // The rate of a 48 kHz stream: (frmsiz + 1) words of 16 bits per frame, 750 / blocks
    // frames per second at 48 kHz (48000 / 256 samples per block = 187.5 blocks/s, times 4).
    // With fscod 3 the rate is unknown here and is shown as 0.
    uint32_t bitRate = 0;
    if (taken)
        bitRate = ((header.frmsiz + 1) * 16u * (750u / static_cast<uint32_t>(header.blocks))) / 4u;
    char separator = context.state.DecimalSeparator;
    context.log("   Stream " + Dec(audioSlot) + " is [b]Dolby Digital Plus[/b]");
    context.log("   frame size = " + Dec((int64_t(header.frmsiz) + 1) * 2) +
                " bytes, number of blocks per frame = " + Dec(header.blocks));
    context.log("   Sampling frequency = [bl]" + kiloHertz(header.sampleRate, separator) + "[/bl] kHz");
    context.log("   Transmission bitrate = [bl]" + Dec(bitRate / 1000) + "[/bl] kbit/s");
    context.log("   Channel arrangement = [bl]" + std::string(AcmodNames[header.acmod]) +
                "[/bl], bsid = " + Dec(header.bsid));
    context.log(std::string("   LFE channel = [bl]") + (header.lfeon == 1 ? "present" : "not present") + "[/bl]");
    return taken;
}

// Logs an AC-3 header. Returns false when the frame is released (fscod 3 or an
// undefined frmsizecod).
bool reportAc3(const AnalyserContext& context, const SyncFrameHeader& header, int32_t audioSlot) {
    bool taken = header.sampleRate != 0 && header.bitRate != 0;
    char separator = context.state.DecimalSeparator;
    context.log("   Stream " + Dec(audioSlot) + " is [b]Dolby Digital[/b]");
    context.log("   Sampling frequency = [bl]" + kiloHertz(header.sampleRate, separator) + "[/bl] kHz");
    context.log("   Transmission bitrate = [bl]" + Dec(header.bitRate / 1000) + "[/bl] kbit/s");
    context.log("   Channel arrangement = [bl]" + std::string(AcmodNames[header.acmod]) +
                "[/bl], bsid = " + Dec(header.bsid) + ", bsmod =" + Dec(header.bsmod));
    return taken;
}

} // namespace

void AnalyseDolbyDigital(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, int32_t audioSlot) {
    // Only the valid bytes of the block that belong to the payload are scanned.
    const int64_t begin = std::max<int64_t>(payloadStart, 0);
    const int64_t end = std::min<int64_t>(int64_t(payloadStart) + payloadLength, context.blockLength);
    const LookupTables& tables = context.state.Tables;

    uint16_t window = 0; // the byte before the payload counts as 0
    int countdown = 0;   // header bytes still to read
    bool frameTaken = false;
    SyncFrameHeader header;

    for (int64_t position = begin; position < end; ++position) {
        uint8_t b = context.byteAt(position);
        window = static_cast<uint16_t>((window << 8) | b);
        if (window == SyncWord) {
            // Also inside a header being read: the byte is passed over, the countdown waits.
            if (!frameTaken) {
                countdown = HeaderBytes;
                frameTaken = true;
                header = SyncFrameHeader{};
            }
            continue;
        }
        if (countdown == 0) {
            if (frameTaken)
                return; // reported from its first good frame; later sync words are ignored
            continue;
        }
        --countdown;
        int place = HeaderBytes - countdown;
        if (place < HeaderBytes) {
            readHeaderByte(place, b, tables, header);
            continue;
        }
        if (header.bsid >= FirstPlusBsid && header.bsid <= LastPlusBsid) {
            frameTaken = reportPlus(context, header, audioSlot);
        } else {
            header.acmod = b >> 5; // AC-3 acmod
            frameTaken = reportAc3(context, header, audioSlot);
        }
    }
}

} // namespace halyard
