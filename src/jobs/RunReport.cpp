#include "jobs/RunReport.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>

#include "jobs/StreamNames.h"
#include "model/MessageMarkup.h"

namespace halyard {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return "";
    const size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// The number at the start of text, in the given base; nullopt when there is none.
std::optional<uint32_t> numberAt(std::string_view text, int base) {
    const std::string digits(text);
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, base);
    if (end == digits.c_str())
        return std::nullopt;
    return uint32_t(value);
}

// The announcements of the engine, as the user reads them, up to the slot number.
struct Announcement {
    const char* text;
    StreamClass kind;
    const char* codec;
};
constexpr Announcement Announcements[] = {
    {"MPEG-2 video stream ", StreamClass::Video, "mpeg2"},
    {"H.264 (AVC) video stream ", StreamClass::Video, "h264"},
    {"VC-1 video stream ", StreamClass::Video, "vc1"},
    {"Dolby Digital audio stream ", StreamClass::Audio, "ac3"},
    {"DTS HD (DTS) audio stream ", StreamClass::Audio, "dts"},
    {"Dolby Digital Plus audio stream ", StreamClass::Audio, "eac3"},
    {"LPCM audio stream ", StreamClass::Audio, "lpcm"},
    {"MLP audio stream ", StreamClass::Audio, "mlp"},
    {"Dolby TrueHD audio stream ", StreamClass::Audio, "truehd"},
    {"Subpicture stream ", StreamClass::Subpicture, "subpicture"},
    {"Extended subpicture stream ", StreamClass::Subpicture, "extended_subpicture"},
};

constexpr int PrivateStream1 = 0xBD;
constexpr int ExtendedStreamId = 0xFD;

// The class and slot of the stream that a "Substream id" line names: stream ids,
// extensions and substream ids of the three classes do not overlap.
std::optional<std::pair<StreamClass, int>> slotOfId(int id) {
    if (id >= 0xE0 && id <= 0xE3)
        return std::pair{StreamClass::Video, id & 1};
    if (id == 0x55 || id == 0x56)
        return std::pair{StreamClass::Video, id - 0x55};
    if ((id & 0xF0) == 0x80 || (id & 0xF8) == 0xB0)
        return std::pair{StreamClass::Audio, id & 7};
    if ((id & 0xF8) == 0xA0 || (id & 0xF0) == 0xC0)
        return std::pair{StreamClass::Audio, id & 0x0F};
    if ((id & 0xE0) == 0x20 || (id & 0xE0) == 0x60)
        return std::pair{StreamClass::Subpicture, id & 0x1F};
    return std::nullopt;
}


// Nearest integer, halves to the even neighbour, as the frame count report rounds.
int64_t roundedHalfEven(double value) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    return int64_t(rounded);
}

} // namespace

const char* StreamClassName(StreamClass kind) {
    switch (kind) {
    case StreamClass::Video: return "video";
    case StreamClass::Audio: return "audio";
    default: return "subpicture";
    }
}

void RunReportCollector::line(std::string_view markedLine) {
    const std::string text = DisplayedText(markedLine);
    if (job_ == Job::Read && detailLine(text))
        return;
    detailsOf_.reset();

    if (startsWith(markedLine, "Opening file [b]")) {
        startRead(text.substr(13));
    } else if (startsWith(text, "Opening file ")) {
        startDemux();
    } else if (job_ == Job::Read) {
        if (startsWith(text, "File size: ") && !report_.sources.empty() && state_.SourceStream)
            report_.sources.back().size = state_.SourceStream->size();
        else if (startsWith(text, "Continue on ")) {
            takeTrueFirstPts();
            addSource(text.substr(12));
        }
        else if (!announcement(text))
            navigationLine(text);
    } else if (job_ == Job::Demux && startsWith(text, "Creating ")) {
        output(text.substr(9));
    }
    if (text == "Done.") {
        if (job_ == Job::Read) {
            takeTrueFirstPts();
            if (state_.EarliestPts != 0xFFFFFFFF)
                report_.earliestPts = state_.EarliestPts;
        }
        takeFrames();
    }
}

// The engine's true first time stamps of the file it has just read, for that file's streams.
void RunReportCollector::takeTrueFirstPts() {
    if (report_.sources.empty())
        return;
    const size_t source = report_.sources.size() - 1;
    const TrueFirstPtsTable& first = state_.TrueFirstPts;
    for (ReportStream& stream : report_.streams) {
        if (stream.source != source || stream.slot < 0)
            continue;
        const size_t slot = size_t(stream.slot);
        if (stream.kind == StreamClass::Video && slot < first.Video.size())
            stream.trueFirstPts = first.Video[slot];
        else if (stream.kind == StreamClass::Audio && slot < first.Audio.size())
            stream.trueFirstPts = first.Audio[slot];
        else if (stream.kind == StreamClass::Subpicture && slot < first.Subpicture.size())
            stream.trueFirstPts = first.Subpicture[slot];
    }
}

void RunReportCollector::startRead(const std::string& name) {
    report_ = RunReport{};
    job_ = Job::Read;
    pendingPts_.reset();
    ReportSource source;
    source.path = ui_.eEVOfile;
    source.name = name;
    report_.sources.push_back(source);
}

void RunReportCollector::addSource(const std::string& name) {
    ReportSource source;
    source.path = state_.SourceStream ? state_.SourceStream->path() : name;
    source.name = name;
    if (state_.SourceStream)
        source.size = state_.SourceStream->size();
    report_.sources.push_back(source);
}

void RunReportCollector::startDemux() {
    job_ = Job::Demux;
    report_.outputs.clear();
    pendingOutputs_.clear();
    nextOutput_ = 0;
    for (int slot = 0; slot < 2; ++slot)
        if (ui_.cbVideo[size_t(slot)].ticked)
            pendingOutputs_.emplace_back(StreamClass::Video, slot);
    for (int slot = 0; slot < 16; ++slot)
        if (ui_.cbAudio[size_t(slot)].ticked)
            pendingOutputs_.emplace_back(StreamClass::Audio, slot);
    for (int slot = 0; slot < 16; ++slot)
        if (ui_.cbSub[size_t(slot)].ticked)
            pendingOutputs_.emplace_back(StreamClass::Subpicture, slot);
}

// "[b]LPCM[/b] audio stream 4 found!": the slot's type code is in the catalogue by now.
bool RunReportCollector::announcement(const std::string& text) {
    if (report_.sources.empty() || text.size() < 7 || text.compare(text.size() - 7, 7, " found!") != 0)
        return false;
    for (const Announcement& a : Announcements) {
        if (!startsWith(text, a.text))
            continue;
        const auto slotNumber = numberAt(std::string_view(text).substr(std::string_view(a.text).size()), 10);
        if (!slotNumber)
            return false;
        const int slot = int(*slotNumber);
        ReportStream stream;
        stream.source = report_.sources.size() - 1;
        stream.kind = a.kind;
        stream.codec = a.codec;
        stream.slot = slot;
        const StreamCatalogue& catalogue = state_.Catalogue;
        if (a.kind == StreamClass::Video && slot < VideoSlots) {
            const int32_t type = catalogue.VideoType[size_t(slot)];
            stream.streamId = type >= 0xE0 ? type : ExtendedStreamId;
            if (type < 0xE0)
                stream.streamIdExtension = type;
            if (slot < 2) {
                stream.box = VideoBoxName(slot);
                stream.caption = VideoStreamName(type) + VideoSuffix(slot);
            }
        } else if (a.kind == StreamClass::Audio && slot < AudioSlots) {
            const int32_t type = catalogue.AudioType[size_t(slot)];
            stream.streamId = PrivateStream1;
            stream.substreamId = type;
            stream.box = AudioBoxName(slot);
            stream.caption = AudioStreamName(type) + TwoDigitSuffix(slot);
        } else if (a.kind == StreamClass::Subpicture && slot < SubpictureSlots) {
            const int32_t type = catalogue.SubpictureType[size_t(slot)];
            stream.streamId = PrivateStream1;
            stream.substreamId = type;
            if (slot < 16) {
                stream.box = SubpictureBoxName(slot);
                stream.caption = SubpictureStreamName(type) + TwoDigitSuffix(slot);
            }
        } else {
            return false;
        }
        report_.streams.push_back(std::move(stream));
        return true;
    }
    return false;
}

// The first time stamp, the id and the analyser's lines of a stream's first payload.
bool RunReportCollector::detailLine(const std::string& text) {
    if (text.empty() || text[0] != ' ')
        return false;
    if (startsWith(text, "   First PTS = ")) {
        pendingPts_ = numberAt(std::string_view(text).substr(15), 16);
        detailsOf_.reset();
    } else if (startsWith(text, "   Substream id = ")) {
        const auto id = numberAt(std::string_view(text).substr(18), 16);
        detailsOf_ = id ? streamOfId(int(*id)) : std::nullopt;
        if (detailsOf_)
            report_.streams[*detailsOf_].firstPts = pendingPts_;
        pendingPts_.reset();
    } else if (detailsOf_) {
        const size_t equals = text.find(" = ");
        ReportParameter parameter;
        parameter.name = trimmed(std::string_view(text).substr(0, equals));
        if (equals != std::string::npos)
            parameter.value = trimmed(std::string_view(text).substr(equals + 3));
        report_.streams[*detailsOf_].parameters.push_back(std::move(parameter));
    }
    return true;
}

// The latest stream of the current source in the slot that the id claims.
std::optional<size_t> RunReportCollector::streamOfId(int id) const {
    const auto slot = slotOfId(id);
    if (!slot || report_.sources.empty())
        return std::nullopt;
    for (size_t i = report_.streams.size(); i-- > 0;) {
        const ReportStream& stream = report_.streams[i];
        if (stream.source != report_.sources.size() - 1)
            break;
        if (stream.kind == slot->first && stream.slot == slot->second)
            return i;
    }
    return std::nullopt;
}

// The navigation summary of the source being read.
void RunReportCollector::navigationLine(const std::string& text) {
    if (report_.sources.empty())
        return;
    ReportSource& source = report_.sources.back();
    if (startsWith(text, "VOB number ")) {
        if (const auto number = numberAt(std::string_view(text).substr(11), 10))
            source.vobNumber = int(*number);
    } else if (startsWith(text, "PTM of first video frame = ")) {
        source.firstPtm = numberAt(std::string_view(text).substr(27), 16);
    } else if (startsWith(text, "PTM of last video frame = ")) {
        source.lastPtm = numberAt(std::string_view(text).substr(26), 16);
        if (source.firstPtm && source.lastPtm)
            source.duration = double(uint32_t(*source.lastPtm - *source.firstPtm)) / 90000.0;
    }
}

void RunReportCollector::output(const std::string& path) {
    if (nextOutput_ >= pendingOutputs_.size())
        return;
    const auto [kind, slot] = pendingOutputs_[nextOutput_++];
    ReportOutput out;
    out.path = path;
    out.kind = kind;
    out.slot = slot;
    switch (kind) {
    case StreamClass::Video:
        out.box = VideoBoxName(slot);
        out.caption = ui_.cbVideo[size_t(slot)].caption;
        out.format = "elementary";
        break;
    case StreamClass::Audio:
        out.box = AudioBoxName(slot);
        out.caption = ui_.cbAudio[size_t(slot)].caption;
        out.format = state_.AudioWavOutput[size_t(slot)] ? "wav" : "elementary";
        break;
    case StreamClass::Subpicture:
        out.box = SubpictureBoxName(slot);
        out.caption = ui_.cbSub[size_t(slot)].caption;
        out.format = "sup";
        break;
    }
    report_.outputs.push_back(std::move(out));
}

// The figures of the frame count report, as the job leaves them when it is done.
void RunReportCollector::takeFrames() {
    report_.frames.clear();
    for (int k = 0; k < 2; ++k) {
        const int32_t counted = state_.PictureCounter[size_t(k)];
        // The rate the stream's parameters give; else the one the frame report assumes.
        const double measured = state_.StreamFrameRate[size_t(k)];
        const double rate = measured > 0 ? measured : state_.SlotFrameRate[size_t(k)];
        if (counted <= 0 && rate <= 0)
            continue;
        ReportFrames frames;
        frames.slot = k;
        frames.countedFrames = counted;
        frames.frameRate = rate;
        frames.frameRateAssumed = measured <= 0 && rate > 0;
        if (counted > 0 && rate > 0)
            frames.countedDuration = counted / rate;
        if (rate > 0)
            frames.calculatedFrames = roundedHalfEven(state_.TotalDuration * rate);
        frames.duration = state_.TotalDuration;
        report_.frames.push_back(frames);
    }
}

namespace {
// The time a stream starts at: the first of its PES headers that carries a PTS. The
// logged first PTS is the engine's latch, which can be another packet's time stamp
// (or 0) when the stream's first header carries a PTS without a DTS.
std::optional<uint32_t> startOf(const ReportStream& stream) {
    return stream.trueFirstPts ? stream.trueFirstPts : stream.firstPts;
}
} // namespace

// Delays of audio and subpictures against the first video stream (the lowest video
// slot with a known start) of the same source file, in whole milliseconds.
RunReport RunReportCollector::report() const {
    RunReport report = report_;
    for (size_t source = 0; source < report.sources.size(); ++source) {
        const ReportStream* video = nullptr;
        for (const ReportStream& stream : report.streams)
            if (stream.source == source && stream.kind == StreamClass::Video && startOf(stream) &&
                (!video || stream.slot < video->slot))
                video = &stream;
        if (!video)
            continue;
        const uint32_t videoPts = *startOf(*video);
        for (ReportStream& stream : report.streams)
            if (stream.source == source && stream.kind != StreamClass::Video && startOf(stream))
                stream.delayMs = std::lround(double(int32_t(*startOf(stream) - videoPts)) / 90.0);
    }
    return report;
}

} // namespace halyard
