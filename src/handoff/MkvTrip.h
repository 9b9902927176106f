#pragma once
// From a read source to one Matroska file: the chosen streams demuxed (LPCM as WAV,
// subpictures as PGS) into a folder of the run's own, the chapters of the playlist,
// mkvmerge run on them, and what was demuxed removed again unless it is to be kept.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handoff/MkvmergeRecipe.h"
#include "jobs/Jobs.h"
#include "jobs/RunReport.h"

namespace halyard {

// One run of mkvmerge, started with an argument list (never through a shell). The
// command line runs it as a child process, the window with QProcess.
class MkvmergeProcess {
public:
    virtual ~MkvmergeProcess() = default;
    enum class Read { Line, Timeout, End };
    // The next line of mkvmerge's output, waiting at most timeoutMs; End once it has
    // closed its output.
    virtual Read readLine(std::string& line, int timeoutMs) = 0;
    // Stops mkvmerge.
    virtual void terminate() = 0;
    // Waits for mkvmerge to end: its exit code, or crashed when a signal ended it (code
    // is then the signal's number where it is known, else 0).
    struct Exit {
        bool crashed = false;
        int code = 0;
    };
    virtual Exit wait() = 0;
};
using StartMkvmerge =
    std::function<std::unique_ptr<MkvmergeProcess>(const std::string& program, const std::vector<std::string>& arguments)>;

// Starts mkvmerge as a child process of this one.
std::unique_ptr<MkvmergeProcess> StartMkvmergeChild(const std::string& program, const std::vector<std::string>& arguments);

// Where mkvmerge is: setting (the window's own), else the environment variable
// HALYARD_MKVMERGE, else the folders of PATH. Raises "mkvmerge was not found: install
// MKVToolNix, or set HALYARD_MKVMERGE" when none of them gives an executable file.
std::string LocateMkvmerge(const std::string& setting = "");

// What mkvmerge says in its --gui-mode output: "#GUI#progress 45%",
// "#GUI#warning TEXT", "#GUI#error TEXT".
struct MkvmergeLine {
    enum class Kind { Other, Progress, Warning, Error } kind = Kind::Other;
    int percent = 0;
    std::string text;
};
MkvmergeLine ParseMkvmergeLine(std::string_view line);

struct MkvTripOptions {
    std::string mkvmerge;   // its path, from LocateMkvmerge
    std::string folder;     // where NAME.mkv goes; empty: the output folder of the jobs
    std::string playlist;   // empty: the one beside a source in HVDVD_TS, when it exists
    std::string palette;    // an IFO for the colours of DVD subpictures; empty: looked for
    bool keep = false;      // keep what was demuxed, and the option file beside NAME.mkv
};

struct MkvTripResult {
    std::string mkvPath;
    bool cancelled = false;
    std::vector<std::string> warnings; // mkvmerge's (it exited with 1)
    std::string keptFolder;            // the demuxed files, when they are kept
    std::vector<ReportOutput> kept;    // those files, and the option file
};

// The trip, over the jobs and the report that collects what they log. Lines on what is
// left out go to warn.
class MkvTrip {
public:
    MkvTrip(Jobs& jobs, RunState& state, UiModel& ui, RunReportCollector& report, StartMkvmerge start, Warn warn);

    // The folder's NAME.mkv for the source (the second feature file joined as a Demux
    // joins it).
    std::string mkvPathFor(const MkvTripOptions& options);

    // After Read EVO, with the streams to take ticked. Raises Error when a step fails,
    // after removing the partial NAME.mkv and (unless they are kept) the demuxed files;
    // a run that Cancel (Ctrl-C) stops returns with cancelled set, cleaned up alike.
    MkvTripResult run(const MkvTripOptions& options);

private:
    std::string intermediateFolder(const std::string& folder);
    MkvmergeProcess::Exit mux(const std::string& program, const std::vector<std::string>& arguments,
                              const std::string& mkvName, MkvTripResult& result, std::string& error);
    void removeDemuxed(const std::vector<std::string>& files, const std::string& folder);

    Jobs& jobs_;
    RunState& state_;
    UiModel& ui_;
    RunReportCollector& report_;
    StartMkvmerge start_;
    Warn warn_;
};

} // namespace halyard
