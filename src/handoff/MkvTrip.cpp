#include "handoff/MkvTrip.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "jobs/Paths.h"
#include "jobs/PgsOutputs.h"
#include "model/ChildProcess.h"
#include "model/Error.h"
#include "model/OutputStream.h"

namespace halyard {

namespace fs = std::filesystem;

namespace {

class ChildMkvmerge : public MkvmergeProcess {
public:
    ChildMkvmerge(const std::string& program, const std::vector<std::string>& arguments) : child_(program, arguments) {}
    Read readLine(std::string& line, int timeoutMs) override {
        switch (child_.readLine(line, timeoutMs)) {
        case ChildProcess::Read::Line: return Read::Line;
        case ChildProcess::Read::Timeout: return Read::Timeout;
        default: return Read::End;
        }
    }
    void terminate() override { child_.terminate(); }
    Exit wait() override {
        const ChildProcess::Exit exit = child_.wait();
        return {exit.signalled, exit.code};
    }

private:
    ChildProcess child_;
};

constexpr std::string_view GuiPrefix = "#GUI#";
constexpr int PollMs = 100; // how often the user interface is let in while mkvmerge runs

std::string mkvmergeFailure(const MkvmergeProcess::Exit& exit, const std::string& error) {
    if (exit.crashed)
        return "mkvmerge failed: " + (exit.code > 0 ? "it was ended by signal " + std::to_string(exit.code) : "it crashed");
    return "mkvmerge failed: " + (error.empty() ? "it exited with " + std::to_string(exit.code) : error);
}

} // namespace

std::unique_ptr<MkvmergeProcess> StartMkvmergeChild(const std::string& program,
                                                    const std::vector<std::string>& arguments) {
    return std::make_unique<ChildMkvmerge>(program, arguments);
}

std::string LocateMkvmerge(const std::string& setting) {
    std::string found = FindProgram(setting);
    if (found.empty()) {
        const char* variable = std::getenv("HALYARD_MKVMERGE");
        found = FindProgram(variable ? variable : "");
    }
    if (found.empty())
        found = FindProgram("mkvmerge");
    if (found.empty())
        throw Error("mkvmerge was not found: install MKVToolNix, or set HALYARD_MKVMERGE");
    return found;
}

MkvmergeLine ParseMkvmergeLine(std::string_view line) {
    MkvmergeLine parsed;
    if (line.substr(0, GuiPrefix.size()) != GuiPrefix)
        return parsed;
    line.remove_prefix(GuiPrefix.size());
    auto tagged = [&line](std::string_view tag) {
        if (line.substr(0, tag.size()) != tag)
            return false;
        line.remove_prefix(tag.size());
        return true;
    };
    if (tagged("progress ")) {
        int percent = 0;
        for (char ch : line) {
            if (ch < '0' || ch > '9')
                break;
            percent = std::min(100, percent * 10 + (ch - '0'));
        }
        parsed.kind = MkvmergeLine::Kind::Progress;
        parsed.percent = percent;
    } else if (tagged("warning ")) {
        parsed.kind = MkvmergeLine::Kind::Warning;
        parsed.text = line;
    } else if (tagged("error ")) {
        parsed.kind = MkvmergeLine::Kind::Error;
        parsed.text = line;
    }
    return parsed;
}

MkvTrip::MkvTrip(Jobs& jobs, RunState& state, UiModel& ui, RunReportCollector& report, StartMkvmerge start, Warn warn)
    : jobs_(jobs), state_(state), ui_(ui), report_(report), start_(std::move(start)), warn_(std::move(warn)) {}

std::string MkvTrip::mkvPathFor(const MkvTripOptions& options) {
    bool hasSecondFile = false;
    jobs_.secondFileAndBaseName(hasSecondFile);
    const std::string folder = options.folder.empty() ? jobs_.outputFolder() : options.folder;
    return AbsolutePath(OutputPrefix(folder, jobs_.Paths.OutputBaseName) + ".mkv");
}

// DIR/.NAME.halyard, or .NAME.halyard-2 ... when that is taken: a folder that this run
// makes, so that nothing in it was there before.
std::string MkvTrip::intermediateFolder(const std::string& folder) {
    const std::string base = OutputPrefix(folder.empty() ? "." : folder, "." + jobs_.Paths.OutputBaseName) + ".halyard";
    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        std::error_code error;
        if (fs::create_directory(candidate, error))
            return candidate;
        if (error)
            throw Error("Cannot create folder \"" + candidate + "\". " + error.message());
    }
    throw Error("Cannot create folder \"" + base + "\". Too many of its name exist");
}

// Only the files this run wrote are removed, then the folder if that leaves it empty.
void MkvTrip::removeDemuxed(const std::vector<std::string>& files, const std::string& folder) {
    std::error_code ignored;
    for (const std::string& file : files)
        fs::remove(file, ignored);
    fs::remove(folder, ignored);
}

MkvmergeProcess::Exit MkvTrip::mux(const std::string& program, const std::vector<std::string>& arguments,
                                   const std::string& mkvName, MkvTripResult& result, std::string& error) {
    const std::string status = "Muxing " + mkvName + "...";
    ui_.slog(status, 0);
    ui_.progress(0, 100); // the bar follows mkvmerge now, not the demux before it
    ui_.log("Muxing [b]" + mkvName + "[/b] with " + program);
    state_.BusyFlag = true; // Cancel asks before it stops mkvmerge, as it does for Demux
    state_.CancelFlag = false;
    ui_.bCancel.enabled = true;
    ui_.controlsChanged();
    std::unique_ptr<MkvmergeProcess> process = start_(program, arguments);
    auto lastPump = std::chrono::steady_clock::now();
    for (;;) {
        std::string line;
        const MkvmergeProcess::Read read = process->readLine(line, PollMs);
        if (read == MkvmergeProcess::Read::End)
            break;
        if (read == MkvmergeProcess::Read::Line) {
            const MkvmergeLine said = ParseMkvmergeLine(line);
            if (said.kind == MkvmergeLine::Kind::Progress) {
                ui_.slog(status + " " + std::to_string(said.percent) + "%", 1);
                ui_.progress(said.percent, 100);
            } else if (said.kind == MkvmergeLine::Kind::Warning) {
                result.warnings.push_back(said.text);
            } else if (said.kind == MkvmergeLine::Kind::Error && error.empty()) {
                error = said.text;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (read == MkvmergeProcess::Read::Timeout || now - lastPump >= std::chrono::milliseconds(PollMs)) {
            ui_.pumpEvents();
            lastPump = now;
        }
        if (state_.CancelFlag) {
            process->terminate();
            break;
        }
    }
    const MkvmergeProcess::Exit exit = process->wait();
    ui_.pumpEvents(); // a Ctrl-C that ended mkvmerge too is the user's Cancel
    result.cancelled = state_.CancelFlag;
    state_.BusyFlag = false;
    ui_.bCancel.enabled = false;
    ui_.controlsChanged();
    return exit;
}

MkvTripResult MkvTrip::run(const MkvTripOptions& options) {
    MkvTripResult result;
    result.mkvPath = mkvPathFor(options);
    const std::string folder = options.folder.empty() ? jobs_.outputFolder() : options.folder;
    const std::string name = jobs_.Paths.OutputBaseName;
    // Everything that can be refused is refused before any work.
    const std::optional<MkvmergePlaylist> playlist = ReadMkvmergePlaylist(jobs_, ui_, options.playlist);
    std::vector<std::string> inputs = MkvmergeInputs(jobs_, playlist);
    if (!options.palette.empty())
        inputs.push_back(options.palette);
    RefuseSourceAsOutput(result.mkvPath, inputs);

    const std::string work = intermediateFolder(folder);
    std::vector<std::string> created;
    bool mkvOurs = false;
    auto abandon = [&] {
        std::error_code ignored;
        if (mkvOurs)
            fs::remove(result.mkvPath, ignored);
        if (options.keep)
            ui_.log("The demuxed files are kept in " + work);
        else
            removeDemuxed(created, work);
    };
    try {
        jobs_.demuxWithinJob({work, true});
        for (const ReportOutput& output : report_.report().outputs)
            created.push_back(output.path);
        if (state_.CancelFlag) {
            abandon();
            result.cancelled = true;
            return result;
        }
        for (ReportOutput& pgs : WritePgsOutputs(report_.report(), jobs_, state_, ui_, options.palette)) {
            created.push_back(pgs.path);
            report_.addOutput(std::move(pgs));
        }
        const std::string chapters = OutputPrefix(work, name) + ".chapters.txt";
        const MkvmergeOptions mkvmerge =
            PrepareMkvmerge(report_.report(), ui_, playlist, result.mkvPath, chapters, inputs, warn_);
        if (fs::exists(chapters))
            created.push_back(chapters);
        if (options.keep && fs::exists(chapters)) {
            ReportOutput kept;
            kept.path = chapters;
            kept.format = "chapters";
            result.kept.push_back(std::move(kept));
        }
        std::vector<std::string> arguments{"--gui-mode"};
        for (const auto& argument : mkvmerge.arguments)
            arguments.push_back(argument.get<std::string>());
        if (options.keep) {
            const std::string optionFile = OutputPrefix(folder, name) + ".mkvmerge.json";
            WriteMkvmergeOptionFile(mkvmerge, optionFile, inputs);
            ReportOutput kept;
            kept.path = optionFile;
            kept.format = "mkvmerge";
            result.kept.push_back(std::move(kept));
        }

        // mkvmerge opens NAME.mkv itself: it is checked and locked here first, so that
        // neither an input nor another run's output is written through it.
        std::vector<std::unique_ptr<OutputStream>> mkvLock = OpenOutputs({result.mkvPath}, inputs);
        mkvOurs = true;
        std::string error;
        const MkvmergeProcess::Exit exit = mux(options.mkvmerge, arguments, FileNamePart(result.mkvPath), result, error);
        mkvLock.front()->close();
        if (result.cancelled) {
            abandon();
            return result;
        }
        if (exit.crashed || exit.code >= 2)
            throw Error(mkvmergeFailure(exit, error) + (options.keep ? ". The demuxed files are kept in " + work : ""));
    } catch (...) {
        state_.BusyFlag = false;
        abandon();
        throw;
    }

    for (const std::string& warning : result.warnings)
        warn_("mkvmerge: " + warning);
    if (options.keep) {
        result.keptFolder = work;
        for (const ReportOutput& output : report_.report().outputs)
            result.kept.push_back(output);
    } else {
        removeDemuxed(created, work);
    }
    ui_.log("Written [b]" + result.mkvPath + "[/b]");
    ui_.log("");
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    return result;
}

} // namespace halyard
