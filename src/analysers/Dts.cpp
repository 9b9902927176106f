#include "analysers/Dts.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "analysers/BitReader.h"
#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

constexpr uint32_t CoreSyncWord = 0x7FFE8001;     // core frame, 16-bit big-endian
constexpr uint32_t XchSyncWord = 0x5A5A5A5A;      // XCh channel extension
constexpr uint32_t X96SyncWord = 0x1D95F262;      // X96 96 kHz frequency extension

// Channel arrangement by AMODE; codes 16 to 63 are user defined.
constexpr std::array<std::string_view, 16> AmodeTexts{
    "A (mono)",
    "A+B (dual mono)",
    "L + R (stereo)",
    "(L+R) + (L-R) (sum-difference)",
    "LT + RT (left and right total)",
    "C + L + R",
    "L + R + S",
    "C + L + R + S",
    "L + R + Ls + Rs",
    "C + L + R + Ls + Rs",
    "CL + CR + L + R + Ls + Rs",
    "C + L + R + Lr + Rr + OV",
    "Cf + Cr + Lf + Rf + Lr + Rr",
    "CL + C + CR + L + R + Ls + Rs",
    "CL + CR + L + R + Ls1 + Ls2 + Rs1 + Rs2",
    "CL + C + CR + L + R + Ls + S + Rs",
};
constexpr std::string_view UserDefinedAmode = "User defined";

// Core sampling frequency in kHz by SFREQ, always with a comma as the decimal mark.
constexpr std::array<std::string_view, 16> SfreqTexts{
    "Invalid", "8", "16", "32", "", "", "11,025", "22,05", "44,1", "", "", "12", "24", "48", "", ""};

// Transmission bit rate in kbit/s by RATE.
constexpr std::array<std::string_view, 32> RateTexts{
    "32",   "56",   "64",   "96",   "112",  "128",  "192",    "224",  "256",  "320",   "384",
    "448",  "512",  "576",  "640",  "768",  "960",  "1024",   "1152", "1280", "1344",  "1408",
    "1411,2", "1472", "1536", "1920", "2048", "3072", "3840", "open", "Variable", "Loss-less"};

constexpr std::array<std::string_view, 8> ExtAudioTexts{
    "Channel extension", "Reserved", "Frequency extension", "Channel and Frequency extension",
    "Reserved",          "Reserved", "Reserved",            "Reserved"};

constexpr std::array<std::string_view, 4> LffTexts{
    "not present", "[bl]present[/bl] (IF:128)", "[bl]present[/bl] (IF:64)", "invalid"};

constexpr std::array<std::string_view, 8> PcmrTexts{
    "[bl]16[/bl] bits",
    "[bl]16[/bl] bits, [bl]DTS ES[/bl]",
    "[bl]20[/bl] bits",
    "[bl]20[/bl] bits, [bl]DTS ES[/bl]",
    "",
    "[bl]24[/bl] bits, [bl]DTS ES[/bl]",
    "[bl]24[/bl] bits",
    "",
};

// VERNUM 7 is the current revision; lower ones are compatible, higher ones not.
constexpr uint32_t CurrentVernum = 7;

std::string_view amodeText(uint32_t amode) {
    return amode < AmodeTexts.size() ? AmodeTexts[amode] : UserDefinedAmode;
}

std::string_view vernumText(uint32_t vernum) {
    if (vernum < CurrentVernum)
        return ", Future rev. (compatible)";
    if (vernum == CurrentVernum)
        return ", Current";
    return ", Future rev. (incompatible"; // the log text has no closing parenthesis
}

void logLine(const AnalyserContext& context, std::string_view label, std::string_view value,
             std::string_view tail = {}) {
    std::string line = "   ";
    line.append(label).append(" = ").append(value).append(tail);
    context.log(line);
}

// Decodes the core frame header that follows a sync word; the reader stands at its
// first bit (FTYPE). Every field is a fixed-width code, so each table index is
// bounded by the width read (AMODE, the only field wider than its table, is checked).
void decodeCoreHeader(const AnalyserContext& context, BitReader& reader) {
    reader.SkipBits(1); // FTYPE: normal or termination frame
    const uint32_t shortSamples = reader.ReadBits(5);
    logLine(context, "PCM core samples", Dec(shortSamples + 1));
    const uint32_t cpf = reader.ReadBits(1);
    const uint32_t nblks = reader.ReadBits(7);
    logLine(context, "PCM sample blocks", Dec(nblks + 1));
    const uint32_t fsize = reader.ReadBits(14);
    logLine(context, "Primary frame byte size", Dec(fsize + 1));
    const uint32_t amode = reader.ReadBits(6);
    logLine(context, "Channel arrangement", "[bl]" + std::string(amodeText(amode)) + "[/bl]");
    const uint32_t sfreq = reader.ReadBits(4);
    logLine(context, "Sampling frequency", "[bl]" + std::string(SfreqTexts[sfreq]) + "[/bl]", " kHz");
    const uint32_t rate = reader.ReadBits(5);
    logLine(context, "Transmission bitrate", "[bl]" + std::string(RateTexts[rate]) + "[/bl]", " kbit/s");
    reader.SkipBits(5); // FixedBit (0), DYNF, TIMEF, AUXF, HDCD
    const uint32_t extAudioId = reader.ReadBits(3);
    const uint32_t extAudio = reader.ReadBits(1);
    if (extAudio == 1)
        logLine(context, "Extension audio", ExtAudioTexts[extAudioId]);
    reader.SkipBits(1); // ASPF: audio sync word insertion flag
    const uint32_t lff = reader.ReadBits(2);
    logLine(context, "LFE channel", LffTexts[lff]);
    reader.SkipBits(1); // HFLAG: predictor history flag
    if (cpf == 1) {
        const uint32_t hcrc = reader.ReadBits(16);
        logLine(context, "Header CRC", Hex(hcrc, 4));
    }
    reader.SkipBits(1); // FILTS: multirate interpolator switch
    const uint32_t vernum = reader.ReadBits(4);
    logLine(context, "Encoder software rev.", Dec(vernum), vernumText(vernum));
    reader.SkipBits(2); // CHIST: copy history
    const uint32_t pcmr = reader.ReadBits(3);
    logLine(context, "Source PCM resolution", PcmrTexts[pcmr]);
}

} // namespace

void AnalyseDts(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength) {
    // The payload's last byte never enters the window. Past the block's valid bytes
    // the window can only take in zero bytes, and no sync word ends in a zero byte,
    // so the scan stops there too.
    const int64_t limit = std::min<int64_t>(int64_t{payloadStart} + payloadLength - 1, context.blockLength);
    uint32_t window = 0;
    int64_t position = payloadStart;
    while (position < limit) {
        window = (window << 8) | context.byteAt(position);
        ++position;
        if (window == CoreSyncWord) {
            BitReader reader(context.block(), context.blockLength, position);
            reader.LoadWord();
            decodeCoreHeader(context, reader);
            // The scan goes on behind the header, with the reader's window.
            window = reader.accumulator();
            position = reader.position();
        } else if (window == XchSyncWord) {
            context.log("   Channel extension found");
        } else if (window == X96SyncWord) {
            context.log("   Frequency extensiond found ([bl]96[/bl] kHz)");
        }
    }
}

} // namespace halyard
