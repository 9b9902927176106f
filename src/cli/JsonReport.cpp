#include "cli/JsonReport.h"

#include "cli/Chapters.h"
#include "engine/StreamIds.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"
#include "rebuild/Rebuild.h"

namespace halyard::cli {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json sourceJson(const ReportSource& source) {
    return Json{
        {"path", source.path},
        {"name", source.name},
        {"size", source.size},
        {"vob_number", orNull(source.vobNumber)},
        {"first_ptm", orNull(source.firstPtm)},
        {"last_ptm", orNull(source.lastPtm)},
        {"duration", orNull(source.duration)},
    };
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
    if (stream.kind != StreamClass::Video)
        json["delay_ms"] = orNull(stream.delayMs);
    Json parameters = Json::array();
    for (const ReportParameter& parameter : stream.parameters)
        parameters.push_back(Json{{"name", parameter.name}, {"value", parameter.value}});
    json["parameters"] = std::move(parameters);
    return json;
}

Json framesJson(const ReportFrames& frames) {
    return Json{
        {"video_stream", frames.slot},
        {"counted_frames", frames.countedFrames},
        {"frame_rate", frames.frameRate > 0 ? Json(frames.frameRate) : Json(nullptr)},
        {"counted_duration", orNull(frames.countedDuration)},
        {"calculated_frames", orNull(frames.calculatedFrames)},
        {"duration", frames.duration},
    };
}

Json outputJson(const ReportOutput& output) {
    return Json{
        {"path", output.path},
        {"kind", StreamClassName(output.kind)},
        {"slot", output.slot},
        {"box", output.box},
        {"caption", output.caption},
        {"format", output.format},
    };
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

Json titleJson(const PlaylistTitle& title, std::optional<int> rate) {
    Json chapters = Json::array();
    for (size_t i = 0; i < title.chapters.size(); ++i) {
        const TitleChapter& chapter = title.chapters[i];
        std::optional<int64_t> start;
        if (rate) {
            try {
                start = FrameTimeMilliseconds(chapter.time, *rate);
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

} // namespace

Json PlaylistJson(const PlaylistTitles& playlist, const std::string& playlistPath, const std::string& sourcePath) {
    std::optional<int> rate;
    try {
        rate = TimeBaseRate(playlist.timeBase);
    } catch (const Error&) {
        // an unknown time base: the chapters keep their playlist times only
    }
    Json titles = Json::array();
    for (const PlaylistTitle& title : playlist.titles)
        titles.push_back(titleJson(title, rate));
    return Json{
        {"format_version", JsonFormatVersion},
        {"command", "xpl"},
        {"playlist", Json{{"path", playlistPath}, {"name", XmlText(playlist.playlistName)}}},
        {"time_base", playlist.timeBase},
        {"tick_base", playlist.tickBase},
        {"source", sourcePath.empty() ? Json(nullptr) : Json(sourcePath)},
        {"source_title", orNull(playlist.sourceTitle)},
        {"titles", std::move(titles)},
    };
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
    return Json{
        {"path", result.path},
        {"kind", "program_stream"},
        {"format", "evo"},
        {"streams", arrayOf(result.streams, rebuiltStreamJson)},
    };
}

std::string JsonText(const Json& document) {
    // Text from the source (names, analyser values) may hold bytes that are not UTF-8.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace halyard::cli
