#include "handoff/MkvmergeOptions.h"

#include "handoff/MkvmergeLanguages.h"

namespace halyard {

namespace {

// The stream an output holds, as found in the first source that has it: the delays
// there are those of the start of the output.
const ReportStream* streamOf(const RunReport& report, const ReportOutput& output) {
    const ReportStream* found = nullptr;
    for (const ReportStream& stream : report.streams)
        if (stream.kind == output.kind && stream.slot == output.slot && (!found || stream.source < found->source))
            found = &stream;
    return found;
}

// A subpicture output that was written once more as PGS, which takes its place.
bool hasPgs(const RunReport& report, const ReportOutput& output) {
    for (const ReportOutput& other : report.outputs)
        if (other.format == "pgs" && other.kind == output.kind && other.slot == output.slot)
            return true;
    return false;
}

// Why mkvmerge cannot take an output; empty when it can.
std::string unreadable(const RunReport& report, const ReportOutput& output, const ReportStream* stream) {
    if (output.format == "pgs")
        return ""; // both subpicture formats of a joined slot are in it, decoded
    if (output.kind == StreamClass::Subpicture)
        return "mkvmerge cannot read the .sup subpicture format";
    if (output.kind == StreamClass::Audio && output.format != "wav" && stream && stream->codec == "lpcm")
        return "mkvmerge cannot read raw LPCM (demux with --lpcm-wav to include it)";
    // The second feature file may hold another codec in the same slot: the output is
    // then the two streams one after the other.
    for (const ReportStream& other : report.streams)
        if (stream && other.kind == output.kind && other.slot == output.slot && other.codec != stream->codec)
            return "it holds " + stream->codec + " from " + report.sources[stream->source].name + " and " +
                   other.codec + " from " + report.sources[other.source].name + ", one after the other";
    return "";
}

} // namespace

MkvmergeOptions BuildMkvmergeOptions(const RunReport& report, const std::string& mkvPath,
                                     const PlaylistInfo* playlist) {
    MkvmergeOptions options;
    auto& args = options.arguments;
    args.push_back("--output");
    args.push_back(mkvPath);
    if (playlist && !playlist->chaptersPath.empty()) {
        args.push_back("--chapters");
        args.push_back(playlist->chaptersPath);
    }
    for (const ReportOutput& output : report.outputs) {
        if (output.format == "sup" && hasPgs(report, output))
            continue;
        const ReportStream* stream = streamOf(report, output);
        const std::string why = unreadable(report, output, stream);
        if (!why.empty()) {
            options.leftOut.push_back(output.path + " is left out of the mkvmerge options: " + why);
            continue;
        }
        // Every elementary stream file holds one track, track 0.
        if (playlist) {
            const auto track = playlist->tracks.find({output.kind, output.slot});
            if (track != playlist->tracks.end()) {
                const std::string& language = track->second.language;
                if (MkvmergeKnowsLanguage(language)) {
                    args.push_back("--language");
                    args.push_back("0:" + language);
                } else if (!language.empty()) {
                    options.warnings.push_back("the playlist's language \"" + language + "\" of " + output.path +
                                               " is not one mkvmerge knows: the track gets no language");
                }
                if (!track->second.name.empty()) {
                    args.push_back("--track-name");
                    args.push_back("0:" + track->second.name);
                }
            }
        }
        if (output.forced) {
            args.push_back("--forced-display-flag");
            args.push_back("0:1");
        }
        // PGS captions are timed against the first video frame already.
        if (output.format != "pgs" && stream && stream->delayMs && *stream->delayMs != 0) {
            args.push_back("--sync");
            args.push_back("0:" + std::to_string(*stream->delayMs));
        }
        args.push_back(output.path);
    }
    return options;
}

} // namespace halyard
