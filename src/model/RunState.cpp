#include "model/RunState.h"

#include <exception>

namespace halyard {

RunState::RunState() = default;
RunState::~RunState() = default;

void LookupTables::fill() {
    DdSampleRates = {48000, 44100, 32000, 0};
    DdBitRates = {32000,  40000,  48000,  56000,  64000,  80000,  96000,  112000, 128000, 160000,
                  192000, 224000, 256000, 320000, 384000, 448000, 512000, 576000, 640000};

    // DVD-Audio channel assignments.
    ChannelAssignmentNames = {"C (mono)",
                              "L + R",
                              "Lf + Rf + S",
                              "Lf + Rf + Ls + Rs",
                              "Lf + Rf + LFE",
                              "Lf + Rf + LFE + S",
                              "Lf + Rf + LFE + Ls + Rs",
                              "Lf + Rf + C",
                              "Lf + Rf + C + S",
                              "Lf + Rf + C + Ls + Rs",
                              "Lf + Rf + C + LFE",
                              "Lf + Rf + C + LFE + S",
                              "Lf + Rf + C + LFE + Ls + Rs",
                              "Lf + Rf + C + S",
                              "Lf + Rf + C + Ls + Rs",
                              "Lf + Rf + C + LFE",
                              "Lf + Rf + C + LFE + S",
                              "Lf + Rf + C + LFE + Ls + Rs",
                              "Lf + Rf + Ls + Rs + LFE",
                              "Lf + Rf + Ls + Rs + C",
                              "Lf + Rf + Ls + Rs + C + LFE"};

    for (size_t n = 0; n < ChannelArrangementNames.size(); ++n)
        ChannelArrangementNames[n] = n <= 21 ? "???" + std::to_string(n) : "";
    ChannelArrangementNames[15] = "Lf + Rf + Ls + Rs + C + LFE";

    QuantizationNames = {};
    QuantizationNames[0] = "16";
    QuantizationNames[1] = "20";
    QuantizationNames[2] = "24";

    SamplingFrequencyNames = {};
    SamplingFrequencyNames[0] = "48";
    SamplingFrequencyNames[1] = "96";
    SamplingFrequencyNames[2] = "192";
    SamplingFrequencyNames[8] = "44.1";
    SamplingFrequencyNames[9] = "88.2";
    SamplingFrequencyNames[10] = "176.4";

    AspectRatioNames = {"unspecified",
                        "[bl]1:1[/bl] (square samples)",
                        "[bl]12:11[/bl] (704x576 4:3)",
                        "[bl]10:11[/bl] (704x480 4:3)",
                        "[bl]16:11[/bl] (704x576 16:9)",
                        "[bl]40:33[/bl] (704x480 16:9)",
                        "[bl]24:11[/bl] (352x576 4:3)",
                        "[bl]20:11[/bl] (352x480 4:3)",
                        "[bl]32:11[/bl] (352x576 16:9)",
                        "[bl]80:33[/bl] (352x480 16:9)",
                        "[bl]18:11[/bl] (48$576 4:3)",
                        "[bl]15:11[/bl] (48$480 4:3)",
                        "[bl]64:33[/bl] (528x576 16:9)",
                        "[bl]160:99[/bl] (528x480 16:9)",
                        "[bl]4:3[/bl]",
                        "[bl]3:2[/bl]\""};
}

void RunState::closeAll() {
    std::exception_ptr first;
    auto closeOne = [&first](auto& output) {
        if (!output)
            return;
        try {
            output->close();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
        output.reset();
    };
    SourceStream.reset();
    for (auto& output : VideoOutput)
        closeOne(output);
    for (auto& output : AudioOutput)
        closeOne(output);
    for (auto& output : SubpictureOutput)
        closeOne(output);
    for (auto& output : AudioWavOutput)
        closeOne(output);
    if (first)
        std::rethrow_exception(first);
}

} // namespace halyard
