#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard {

enum class StreamClass { Video, Audio, Subpicture };

// One coding parameter of a stream, from an analyser's detail line "   Name = value"
// without its markup. A line without " = " is all name.
struct ReportParameter {
    std::string name;
    std::string value;
};

// A source file that Read EVO read, with its navigation summary.
struct ReportSource {
    std::string path;
    std::string name;
    int64_t size = 0;
    std::optional<int> vobNumber;
    std::optional<uint32_t> firstPtm; // 90 kHz
    std::optional<uint32_t> lastPtm;
    std::optional<double> duration;   // seconds
};

// A stream as Read EVO announced it, in one source file.
struct ReportStream {
    size_t source = 0; // index into RunReport::sources
    StreamClass kind = StreamClass::Video;
    std::string codec; // mpeg2, h264, vc1, ac3, eac3, dts, lpcm, mlp, truehd, subpicture, extended_subpicture
    int slot = 0;
    std::string box;     // the check box of the slot; empty for subpicture slots 16-31
    std::string caption; // the caption the box gets for this stream; empty without a box
    int streamId = 0;    // 0xE0-0xE3, 0xFD, 0xBD
    std::optional<int> substreamId;       // private stream 1
    std::optional<int> streamIdExtension; // VC-1
    std::optional<uint32_t> firstPts;     // 90 kHz; known with "Detailed info"
    std::optional<uint32_t> trueFirstPts; // the PTS of the stream's first header that has one
    std::optional<int64_t> delayMs;       // audio and subpicture: against the first video stream
    std::vector<ReportParameter> parameters;
};

// The frame count report of one video stream.
struct ReportFrames {
    int slot = 0;
    int32_t countedFrames = 0;
    double frameRate = 0;                  // frames a second; 0: not known
    bool frameRateAssumed = false;         // the stream gives none; the frame report assumes it
    std::optional<double> countedDuration; // seconds, counted frames at the frame rate
    std::optional<int64_t> calculatedFrames;
    double duration = 0;                   // seconds, of the job's source files
};

// A file written by Demux.
struct ReportOutput {
    std::string path;
    StreamClass kind = StreamClass::Video;
    int slot = 0;
    std::string box;
    std::string caption;
    std::string format; // "elementary", "wav", "sup" or "pgs"
    bool forced = false; // a PGS output of forced captions (or of a stream of forced ones only)
    std::vector<std::string> notes; // what the conversion of a PGS output noted
};

struct RunReport {
    std::vector<ReportSource> sources;
    std::vector<ReportStream> streams;
    std::vector<ReportFrames> frames;
    std::vector<ReportOutput> outputs;
    std::optional<uint32_t> earliestPts; // what the subpicture records count from
};

// Collects what a Read EVO and a following Demux found and wrote, from the log lines
// the jobs and the engine write (fed in as the user interface receives them) and the
// run state they leave. Read EVO starts a new report; Demux adds its outputs.
class RunReportCollector {
public:
    RunReportCollector(const RunState& state, const UiModel& ui) : state_(state), ui_(ui) {}

    // One log line, with its markup.
    void line(std::string_view markedLine);

    // The report with the delays worked out.
    RunReport report() const;

    // A file written after the Demux job from its outputs (the PGS subtitles).
    void addOutput(ReportOutput output) { report_.outputs.push_back(std::move(output)); }

private:
    enum class Job { None, Read, Demux };

    void startRead(const std::string& name);
    void startDemux();
    void addSource(const std::string& name);
    bool announcement(const std::string& text);
    bool detailLine(const std::string& text);
    void navigationLine(const std::string& text);
    void output(const std::string& path);
    void takeFrames();
    void takeTrueFirstPts();
    std::optional<size_t> streamOfId(int id) const;

    const RunState& state_;
    const UiModel& ui_;
    RunReport report_;
    Job job_ = Job::None;
    std::optional<uint32_t> pendingPts_;
    std::optional<size_t> detailsOf_; // the stream whose detail lines are coming
    // Boxes ticked when Demux started, in the order it creates their files.
    std::vector<std::pair<StreamClass, int>> pendingOutputs_;
    size_t nextOutput_ = 0;
};

// The name of a stream class in reports: "video", "audio", "subpicture".
const char* StreamClassName(StreamClass kind);

} // namespace halyard
