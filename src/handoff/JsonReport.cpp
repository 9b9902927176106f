#include "handoff/JsonReport.h"

#include "engine/StreamIds.h"
#include "handoff/Chapters.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"
#include "model/Utf8.h"
#include "handoff/MkvTrip.h"
#include "rebuild/Rebuild.h"

namespace halyard {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// A path as text: one that is not UTF-8 shows U+FFFD in its text (JsonText), and its
// exact bytes as hexadecimal beside it, under the key + "_hex".
void addPath(Json& json, const std::string& key, const std::string& path) {
    json[key] = path;
    if (!IsValidUtf8(path))
        json[key + "_hex"] = HexBytes(path);
}

Json sourceJson(const ReportSource& source) {
    Json json = Json::object();
    addPath(json, "path", source.path);
    json["name"] = source.name;
    json["size"] = source.size;
    json["vob_number"] = orNull(source.vobNumber);
    json["first_ptm"] = orNull(source.firstPtm);
    json["last_ptm"] = orNull(source.lastPtm);
    json["duration"] = orNull(source.duration);
    return json;
}

Json streamJson(const ReportStream& stream) {
    Json json{
        {"source", stream.source},
        {"kind", StreamClassName(stream.kind)},
        {"codec", stream.codec},
        {"slot", stream.slot},
        {"box", stream.box.empty() ? Json(nullptr) : Json(stream.box)},
        {"caption", stream.caption.empty() ? Json(nullptr) : Json(stream.caption)},
        {"stream_id", stream.streamId},
    };
    if (stream.substreamId)
        json["substream_id"] = *stream.substreamId;
    if (stream.streamIdExtension)
        json["stream_id_extension"] = *stream.streamIdExtension;
    json["first_pts"] = orNull(stream.firstPts);
    json["true_first_pts"] = orNull(stream.trueFirstPts);
    if (stream.kind != StreamClass::Video)
        json["delay_ms"] = orNull(stream.delayMs);
    Json parameters = Json::array();
    for (const ReportParameter& parameter : stream.parameters)
        parameters.push_back(Json{{"name", parameter.name}, {"value", parameter.value}});
    json["parameters"] = std::move(parameters);
    return json;
}

Json framesJson(const ReportFrames& frames) {
    Json json{
        {"video_stream", frames.slot},
        {"counted_frames", frames.countedFrames},
        {"frame_rate", frames.frameRate > 0 ? Json(frames.frameRate) : Json(nullptr)},
    };
    if (frames.frameRateAssumed)
        json["frame_rate_assumed"] = true;
    json["counted_duration"] = orNull(frames.countedDuration);
    json["calculated_frames"] = orNull(frames.calculatedFrames);
    json["duration"] = frames.duration;
    return json;
}

Json outputJson(const ReportOutput& output) {
    Json json = Json::object();
    addPath(json, "path", output.path);
    json["kind"] = StreamClassName(output.kind);
    json["slot"] = output.slot;
    json["box"] = output.box;
    json["caption"] = output.caption;
    json["format"] = output.format;
    if (output.format == "pgs") {
        json["forced"] = output.forced;
        json["notes"] = output.notes;
    }
    return json;
}

template <typename Item, typename ToJson>
Json arrayOf(const std::vector<Item>& items, ToJson toJson) {
    Json array = Json::array();
    for (const Item& item : items)
        array.push_back(toJson(item));
    return array;
}

} // namespace

Json ReportJson(const RunReport& report, const std::string& command) {
    Json document{
        {"format_version", JsonFormatVersion},
        {"command", command},
        {"sources", arrayOf(report.sources, sourceJson)},
        {"streams", arrayOf(report.streams, streamJson)},
        {"frames", arrayOf(report.frames, framesJson)},
        {"earliest_pts", orNull(report.earliestPts)},
    };
    if (command == "demux")
        document["outputs"] = arrayOf(report.outputs, outputJson);
    return document;
}

namespace {


// The box Read XPL offers a track in: video track 1 and streams 1 to 16 have one.
Json boxOf(const TitleTrack& track) {
    if (track.kind == StreamClass::Video)
        return track.slot == 0 ? Json("cbVideo0") : Json(nullptr);
    if (track.slot >= 16)
        return nullptr;
    return track.kind == StreamClass::Audio ? AudioBoxName(track.slot) : SubpictureBoxName(track.slot);
}

Json trackJson(const TitleTrack& track) {
    return Json{
        {"kind", StreamClassName(track.kind)},
        {"slot", track.slot},
        {"box", boxOf(track)},
        {"name", track.name},
        {"codec", track.codec},
        {"description", XmlText(track.description)},
        {"langcode", track.langcode},
        {"language", track.language.empty() ? Json(nullptr) : Json(track.language)},
    };
}

Json titleJson(const PlaylistTitle& title, const std::optional<TimeBase>& timeBase) {
    Json chapters = Json::array();
    for (size_t i = 0; i < title.chapters.size(); ++i) {
        const TitleChapter& chapter = title.chapters[i];
        std::optional<int64_t> start;
        if (timeBase) {
            try {
                start = FrameTimeMilliseconds(chapter.time, *timeBase);
            } catch (const Error&) {
                // a time that is not HH:MM:SS:FF has no start
            }
        }
        chapters.push_back(Json{
            {"number", i + 1},
            {"name", XmlText(chapter.name)},
            {"time", chapter.time},
            {"start", start ? Json(ChapterTime(*start)) : Json(nullptr)},
            {"start_ms", orNull(start)},
        });
    }
    return Json{
        {"id", title.id},
        {"name", XmlText(title.name)},
        {"duration", title.duration},
        {"tracks", arrayOf(title.tracks, trackJson)},
        {"chapters", std::move(chapters)},
    };
}

std::optional<TimeBase> knownTimeBase(const PlaylistTitles& playlist) {
    try {
        return TitleTimeBase(playlist.timeBase);
    } catch (const Error&) {
        return std::nullopt; // an unknown time base: the chapters keep their playlist times only
    }
}

constexpr int Indent = 2;

std::string dumped(const Json& json) {
    // Text from the source (names, analyser values) may hold bytes that are not UTF-8.
    return json.dump(Indent, ' ', false, Json::error_handler_t::replace);
}

Json playlistHead(const PlaylistTitles& playlist, const std::string& playlistPath, const std::string& sourcePath) {
    Json playlistJson = Json::object();
    addPath(playlistJson, "path", playlistPath);
    playlistJson["name"] = XmlText(playlist.playlistName);
    Json document{
        {"format_version", JsonFormatVersion},
        {"command", "xpl"},
        {"playlist", std::move(playlistJson)},
        {"time_base", playlist.timeBase},
        {"tick_base", playlist.tickBase},
    };
    if (sourcePath.empty())
        document["source"] = nullptr;
    else
        addPath(document, "source", sourcePath);
    document["source_title"] = orNull(playlist.sourceTitle);
    document["titles"] = Json::array();
    return document;
}
} // namespace

Json PlaylistJson(const PlaylistTitles& playlist, const std::string& playlistPath, const std::string& sourcePath) {
    Json document = playlistHead(playlist, playlistPath, sourcePath);
    const std::optional<TimeBase> timeBase = knownTimeBase(playlist);
    for (const PlaylistTitle& title : playlist.titles)
        document["titles"].push_back(titleJson(title, timeBase));
    return document;
}

void WritePlaylistJson(const PlaylistTitles& playlist, const std::string& playlistPath, const std::string& sourcePath,
                       const std::function<void(const std::string&)>& write) {
    // The head's text ends with the empty title list: "[]", the closing brace, a line break.
    std::string head = JsonText(playlistHead(playlist, playlistPath, sourcePath));
    if (playlist.titles.empty()) {
        write(head);
        return;
    }
    constexpr std::string_view emptyTail = "[]\n}\n";
    head.resize(head.size() - emptyTail.size());
    write(head + "[\n");
    const std::optional<TimeBase> timeBase = knownTimeBase(playlist);
    const std::string itemIndent(2 * Indent, ' ');
    for (size_t i = 0; i < playlist.titles.size(); ++i) {
        const std::string item = dumped(titleJson(playlist.titles[i], timeBase));
        // Line breaks only stand between members: strings have theirs escaped.
        std::string text = itemIndent;
        for (char ch : item) {
            text += ch;
            if (ch == '\n')
                text += itemIndent;
        }
        text += i + 1 < playlist.titles.size() ? ",\n" : "\n";
        write(text);
    }
    write(std::string(Indent, ' ') + "]\n}\n");
}

namespace {

// A kept stream of a rebuilt file. The ids are the ones Rebuild renumbers: the stream id
// of MPEG-2 and H.264 video, the stream id extension of VC-1, the substream id of the rest.
Json rebuiltStreamJson(const RebuiltStream& stream) {
    const StreamCodec& codec = *CodecOfId(stream.newId);
    const int oldSlot = SlotOfId(stream.sourceId);
    const int newSlot = SlotOfId(stream.newId);
    Json box = nullptr;
    std::string caption;
    switch (codec.kind) {
    case StreamKind::Video:
        box = VideoBoxName(oldSlot);
        caption = VideoStreamName(stream.newId) + VideoSuffix(newSlot);
        break;
    case StreamKind::Audio:
        box = AudioBoxName(oldSlot);
        caption = AudioStreamName(stream.newId) + TwoDigitSuffix(newSlot);
        break;
    case StreamKind::Subpicture:
        if (oldSlot < 16)
            box = SubpictureBoxName(oldSlot);
        caption = SubpictureStreamName(stream.newId) + TwoDigitSuffix(newSlot);
        break;
    }
    const int streamId = codec.kind != StreamKind::Video ? 0xBD : stream.newId < 0xE0 ? 0xFD : stream.newId;
    return Json{
        {"kind", StreamKindName(codec.kind)},
        {"codec", codec.key},
        {"stream_id", streamId},
        {"old_id", stream.sourceId},
        {"new_id", stream.newId},
        {"old_slot", oldSlot},
        {"new_slot", newSlot},
        {"box", box},
        {"new_caption", caption},
        {"packets", stream.found.Packets},
        {"payload_bytes", stream.found.PayloadBytes},
    };
}

} // namespace

Json RebuildOutputJson(const RebuildResult& result) {
    Json json = Json::object();
    addPath(json, "path", result.path);
    json["kind"] = "program_stream";
    json["format"] = "evo";
    json["streams"] = arrayOf(result.streams, rebuiltStreamJson);
    return json;
}

Json MkvTripJson(const RunReport& report, const MkvTripResult& result) {
    Json document = ReportJson(report, "mkv");
    Json mkv = Json::object();
    addPath(mkv, "path", result.mkvPath);
    mkv["kind"] = "matroska";
    mkv["format"] = "mkv";
    mkv["warnings"] = result.warnings;
    Json outputs = Json::array({std::move(mkv)});
    for (const ReportOutput& kept : result.kept) {
        if (kept.format != "mkvmerge" && kept.format != "chapters") {
            outputs.push_back(outputJson(kept));
            continue;
        }
        Json file = Json::object();
        addPath(file, "path", kept.path);
        file["kind"] = kept.format == "chapters" ? "chapters" : "options";
        file["format"] = kept.format;
        outputs.push_back(std::move(file));
    }
    document["outputs"] = std::move(outputs);
    return document;
}

std::string JsonText(const Json& document) {
    return dumped(document) + "\n";
}

} // namespace halyard
