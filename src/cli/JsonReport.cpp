#include "cli/JsonReport.h"

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

std::string JsonText(const Json& document) {
    // Text from the source (names, analyser values) may hold bytes that are not UTF-8.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace halyard::cli
