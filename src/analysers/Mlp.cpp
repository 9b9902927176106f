#include "analysers/Mlp.h"

#include <algorithm>
#include <string>

#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

constexpr uint32_t TrueHdMajorSync = 0xF8726FBA;
constexpr uint32_t MlpMajorSync = 0xF8726FBB;
constexpr int MajorSyncBytes = 6; // header bytes read after a major sync
constexpr uint8_t NoDynamicRange = 0x80;

// Standard MLP major sync info, after the sync word:
//   quantization_word_length_1 (4) quantization_word_length_2 (4) |
//   audio_sampling_frequency_1 (4) audio_sampling_frequency_2 (4) |
//   reserved (8) | reserved (3) channel_assignment (5) | two dynamic range bytes.
struct MlpHeader {
    int countdown = 0;
    uint8_t fifthByte = 0;
};

// TrueHD major sync info, after the sync word:
//   audio_sampling_frequency (4) 6ch_multichannel_type (1) 8ch_multichannel_type (1) reserved (2) |
//   2ch_presentation_channel_modifier (2) 6ch_presentation_channel_modifier (2)
//   6ch_presentation_channel_assignment (5, bits 4-1 here) |
//   (bit 0 of it) 8ch_presentation_channel_modifier (2) 8ch_presentation_channel_assignment (13) ...
struct TrueHdHeader {
    int countdown = 0;
    uint8_t channelModifier2ch = 0;
    uint8_t channelModifier6ch = 0;
    uint8_t channelAssignment6ch = 0;
    uint8_t channelModifier8ch = 0;
    uint8_t fifthByte = 0;
};

std::string dynamicRangeText(uint8_t x, char separator) {
    return Fraction(DynamicRangeDb(x), separator);
}

void logDynamicRange(const AnalyserContext& context, uint8_t fifth, uint8_t sixth) {
    if (fifth == NoDynamicRange)
        return;
    char separator = context.state.DecimalSeparator;
    context.log("   Dynamic range control = " + dynamicRangeText(fifth, separator) + " dB .. " +
                dynamicRangeText(sixth, separator) + " dB");
}

// Bytes 5 and 6 after the sync word of both headers: the two dynamic range values.
void readDynamicRangeByte(const AnalyserContext& context, uint8_t& fifthByte, int place, uint8_t d) {
    if (place == 5)
        fifthByte = d;
    else if (place == 6)
        logDynamicRange(context, fifthByte, d);
}

void readMlpByte(const AnalyserContext& context, MlpHeader& header, uint8_t d) {
    const LookupTables& tables = context.state.Tables;
    --header.countdown;
    switch (MajorSyncBytes - header.countdown) {
    case 1:
        context.log("   Quantization length = [bl]" + tables.QuantizationNames[d >> 4] + "[/bl] bits");
        break;
    case 2:
        context.log("   Sampling frequency = [bl]" + tables.SamplingFrequencyNames[d >> 4] + "[/bl] kHz");
        break;
    case 4:
        context.log("   Channel arrangement = [bl]" + tables.ChannelAssignmentNames[d & 0x1F] + "[/bl]");
        break;
    default:
        readDynamicRangeByte(context, header.fifthByte, MajorSyncBytes - header.countdown, d);
        break;
    }
}

void readTrueHdByte(const AnalyserContext& context, TrueHdHeader& header, uint8_t d) {
    const LookupTables& tables = context.state.Tables;
    --header.countdown;
    switch (MajorSyncBytes - header.countdown) {
    case 1:
        context.log("   Sampling frequency = [bl]" + tables.SamplingFrequencyNames[d >> 4] + "[/bl] kHz");
        break;
    case 2:
        header.channelModifier2ch = d >> 6;
        header.channelModifier6ch = (d >> 4) & 0x03;
        header.channelAssignment6ch = static_cast<uint8_t>((d & 0x0F) * 2);
        break;
    case 3:
        header.channelAssignment6ch += d >> 7; // at most 31
        header.channelModifier8ch = (d >> 5) & 0x03;
        context.log("   2 ch. decoder");
        context.log("      channel modifier = " + Dec(header.channelModifier2ch));
        context.log("   6 ch. decoder");
        context.log("      channel modifier = " + Dec(header.channelModifier6ch));
        context.log("      channel arrangement = [bl]" + tables.ChannelArrangementNames[header.channelAssignment6ch] +
                    "[/bl]");
        break;
    case 4: // only the low five bits of the 13-bit 8ch_presentation_channel_assignment
        context.log("   8 ch. decoder");
        context.log("      channel modifier = " + Dec(header.channelModifier8ch));
        context.log("      channel arrangement = [bl]" + tables.ChannelArrangementNames[d & 0x1F] + "[/bl]");
        break;
    default:
        readDynamicRangeByte(context, header.fifthByte, MajorSyncBytes - header.countdown, d);
        break;
    }
}

} // namespace

double DynamicRangeDb(uint8_t dynamicRangeControl) {
    return 24.082 - (dynamicRangeControl >> 5) * 6.0206 - (dynamicRangeControl & 0x1F) * 0.2007;
}

void AnalyseMlp(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength) {
    // Every byte of the payload but its last, as far as the block's valid bytes reach.
    const int64_t begin = std::max<int64_t>(payloadStart, 0);
    const int64_t end = std::min<int64_t>(int64_t(payloadStart) + payloadLength - 1, context.blockLength);

    uint32_t window = 0;
    MlpHeader mlp;
    TrueHdHeader trueHd;
    for (int64_t position = begin; position < end; ++position) {
        uint8_t d = context.byteAt(position);
        window = (window << 8) | d;
        if (window == TrueHdMajorSync) {
            trueHd.countdown = MajorSyncBytes;
            context.log("   [b]TrueHD[/b] stream (up to 8 channels)");
        } else if (window == MlpMajorSync) {
            mlp.countdown = MajorSyncBytes;
            context.log("   [b]Standard MLP[/b] stream (up to 6 channels) ");
        } else if (mlp.countdown > 0) {
            readMlpByte(context, mlp, d); // served before a TrueHD header in progress
        } else if (trueHd.countdown > 0) {
            readTrueHdByte(context, trueHd, d);
        }
    }
}

} // namespace halyard
