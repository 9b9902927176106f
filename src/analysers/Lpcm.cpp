#include "analysers/Lpcm.h"

#include <string>

#include "analysers/Mlp.h"
#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

// The packet header before the payload, numbered from 1:
//   1 sub_stream_id | 2 number_of_frame_headers | 3-4 first_access_unit_pointer |
//   5 emphasis (1) mute (1) reserved (1) frame_number (5) |
//   6 quantization_word_length (2) audio_sampling_frequency (2) reserved (1) number_of_audio_channels (3) |
//   7 dynamic_range_control
constexpr int LpcmHeaderBytes = 7;
constexpr uint8_t NoDynamicRange = 0x80;

std::string onOff(bool on) {
    return on ? "on" : "off";
}

void logFormat(const AnalyserContext& context, uint8_t b) {
    const LookupTables& tables = context.state.Tables;
    context.log("   Quantization length = [bl]" + tables.QuantizationNames[b >> 6] + "[/bl] bits");
    context.log("   Sampling frequency = [bl]" + tables.SamplingFrequencyNames[(b >> 4) & 0x03] + "[/bl] kHz");
    // Only the low two bits of the channel count are read.
    context.log("   Number of audio channels = [bl]" + Dec((b & 0x03) + 1) + "[/bl]");
}

void logDynamicRange(const AnalyserContext& context, uint8_t dynamicRangeControl) {
    if (dynamicRangeControl == NoDynamicRange)
        return;
    context.log("   Dynamic range = " + Fraction(DynamicRangeDb(dynamicRangeControl), context.state.DecimalSeparator) +
                " dB");
}

} // namespace

void AnalyseLpcm(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength) {
    const int64_t first = int64_t(payloadStart) - LpcmHeaderBytes;
    // The header is read while the position stays below the payload's last byte, so a
    // payload of length 0 ends before the dynamic range byte.
    const int64_t limit = int64_t(payloadStart) + payloadLength - 1;

    for (int number = 1; number <= LpcmHeaderBytes; ++number) {
        const int64_t position = first + number - 1;
        if (position >= limit)
            return;
        const uint8_t b = context.byteAt(position);
        switch (number) {
        case 2:
            context.log("   Number of frame headers = " + Dec(b));
            break;
        case 4: {
            uint32_t firstAccessUnitPointer = (uint32_t(context.byteAt(position - 1)) << 8) | b;
            context.log("   First acces unit pointer = " + Hex(firstAccessUnitPointer, 4));
            break;
        }
        case 5:
            context.log("   Emphasis = " + onOff(b & 0x80) + ", mute = " + onOff(b & 0x40));
            context.log("   Frame number = " + Dec(b & 0x1F));
            break;
        case 6:
            logFormat(context, b);
            break;
        case 7:
            logDynamicRange(context, b);
            break;
        default: // 1 sub_stream_id, 3 pointer high byte: read with the next byte
            break;
        }
    }
}

} // namespace halyard
