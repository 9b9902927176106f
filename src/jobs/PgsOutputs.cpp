#include "jobs/PgsOutputs.h"

#include <cstdio>

#include "jobs/Paths.h"
#include "subtitles/Palette.h"
#include "subtitles/PgsConversion.h"

namespace halyard {

namespace {

// The first video stream of the first file: the lowest video slot it has.
const ReportStream* firstVideo(const RunReport& report) {
    const ReportStream* video = nullptr;
    for (const ReportStream& stream : report.streams)
        if (stream.source == 0 && stream.kind == StreamClass::Video && (!video || stream.slot < video->slot))
            video = &stream;
    return video;
}

std::optional<std::pair<int, int>> parseSize(const std::string& text) {
    int width = 0, height = 0;
    char x = 0;
    if (std::sscanf(text.c_str(), "%d%c%d", &width, &x, &height) != 3 || x != 'x' || width <= 0 || height <= 0 ||
        width > 8192 || height > 8192)
        return std::nullopt;
    return std::pair{width, height};
}

// The time line of the records of one subpicture slot.
SupTimeline timelineOf(const RunReport& report, const Jobs& jobs, const RunState& state, int slot) {
    SupTimeline timeline;
    timeline.earliestPts = state.EarliestPts;
    timeline.videoPts = state.EarliestPts;
    if (const ReportStream* video = firstVideo(report)) {
        if (video->trueFirstPts)
            timeline.videoPts = *video->trueFirstPts;
        else if (video->firstPts)
            timeline.videoPts = *video->firstPts;
    }
    const auto& offset = jobs.SecondFileSubpictureOffset[size_t(slot)];
    if (offset && report.sources.size() >= 2 && report.sources[0].lastPtm && report.sources[1].firstPtm) {
        timeline.secondFileOffset = *offset;
        timeline.secondFileShift = int32_t(*report.sources[0].lastPtm - *report.sources[1].firstPtm);
    }
    return timeline;
}

} // namespace

std::optional<std::pair<int, int>> VideoSizeOf(const RunReport& report) {
    const ReportStream* video = firstVideo(report);
    if (!video)
        return std::nullopt;
    std::optional<std::pair<int, int>> size;
    for (const ReportParameter& parameter : video->parameters) {
        if (parameter.name == "Display size")
            return parseSize(parameter.value);
        if (!size && (parameter.name == "size" || parameter.name == "Size"))
            size = parseSize(parameter.value);
    }
    return size;
}

std::vector<ReportOutput> WritePgsOutputs(const RunReport& report, const Jobs& jobs, const RunState& state,
                                          UiModel& ui, const std::string& palettePath) {
    const std::string source = ui.eEVOfile;
    std::optional<DvdPalette> palette;
    // Every file the run reads: the sources, the playlist, the palette's IFO.
    std::vector<std::string> sources = jobs.inputFiles();
    for (const ReportSource& file : report.sources)
        sources.push_back(file.path);
    if (!palettePath.empty()) {
        palette = ReadIfoPalette(palettePath);
        sources.push_back(palettePath);
        ui.log("Palette of the subpictures from " + palettePath);
    } else if (UpperExtension(source) == ".VOB") {
        if (const auto found = FindVobPalette(source)) {
            palette = found->first;
            sources.push_back(found->second);
            ui.log("Palette of the subpictures from " + found->second);
        }
    }
    const std::optional<std::pair<int, int>> canvas = VideoSizeOf(report);

    std::vector<ReportOutput> written;
    for (const ReportOutput& output : report.outputs) {
        if (output.kind != StreamClass::Subpicture || output.format != "sup")
            continue;
        PgsConversion conversion;
        conversion.input = output.path;
        const std::string base = CutExt(output.path);
        conversion.output = base + ".pgs.sup";
        conversion.forcedOutput = base + ".forced.pgs.sup";
        conversion.sources = sources;
        conversion.canvas = canvas;
        conversion.hdDvdSource = UpperExtension(source) == ".EVO";
        conversion.palette = palette;
        conversion.timeline = timelineOf(report, jobs, state, output.slot);

        ui.log("Creating " + conversion.output);
        const PgsConversionResult result = ConvertSupToPgs(conversion, [&ui](const std::string& line) { ui.log("   " + line); });
        ReportOutput pgs = output;
        pgs.path = conversion.output;
        pgs.format = "pgs";
        pgs.forced = result.allForced();
        pgs.notes = result.notes;
        written.push_back(pgs);
        if (result.forcedWritten) {
            ui.log("Creating " + conversion.forcedOutput);
            pgs.path = conversion.forcedOutput;
            pgs.forced = true;
            written.push_back(pgs);
        }
    }
    return written;
}

} // namespace halyard
