#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/Demux.h"
#include "model/RunState.h"
#include "model/UiModel.h"

namespace halyard {

// Folders and names derived from the chosen source and playlist.
struct PathState {
    std::string SourceFolder;     // with trailing separator
    std::string SourceFileName;   // name and extension
    std::string OutputBaseName;   // name without extension, extended by the jobs
    std::string PlaylistFolder;   // with trailing separator
    std::string PlaylistFileName;
};

// The jobs of the main window, over the user-interface model: Read EVO, Demux, the
// stream boxes, the frame count report, source selection and Cancel. One job runs at
// a time; a job started while another runs (through the events the engine pumps) is
// refused.
class Jobs {
public:
    Jobs(RunState& state, UiModel& ui);

    // Read EVO: scans the source (and its second feature file) and offers the streams.
    void bReadEVOClick();
    // Demux: writes every ticked stream into a file of its own.
    void bDemuxClick();
    // Rebuild and Read XPL come from their own subsystems through these seams.
    void bRebuildClick();
    void bReadXPLClick();
    std::function<void()> RebuildJob;
    std::function<void()> ReadXplJob;
    // When set, runs in place of the Demux job (the window's demux that goes on into
    // PGS and mkvmerge); it calls demuxWithinJob for the demux itself.
    std::function<void()> DemuxJob;

    // Cancel: stops a read at once; asks before stopping a writing job.
    void bCancelClick();

    // Stream boxes.
    void Resetcbs();
    void cbVideoClick();
    void cbFastCheckClick();

    // The counted and calculated frames of video streams 0 and 1.
    void logframes(bool hasSecondFile);

    // Source and playlist choice.
    void EVOadj();
    void XPLadj();
    void sourceChosen(const std::string& path);   // after the source dialog
    void playlistChosen(const std::string& path); // after the playlist dialog
    void WMDropFiles(const std::vector<std::string>& paths);

    bool jobRunning() const { return jobRunning_; }
    PathState Paths;

    // Shared with the Rebuild job. The output folder: the one set, or the source's
    // folder when none is. The second feature file when "Continue with second  EVO"
    // applies (else ""), with OutputBaseName set from the source and that file.
    std::string outputFolder() const;

    // How a Demux that another job runs (the trip to Matroska) writes, in place of the
    // output folder and the "LPCM as WAV" option the user set.
    struct DemuxSettings {
        std::string folder;
        bool lpcmWav = false;
    };
    // Runs job under the guard of these jobs: refused (false) while another job runs.
    bool runJob(const std::function<void()>& job);
    // The Demux job, from inside a job that runs already: with the user's settings,
    // or with settings of its own.
    void demuxWithinJob();
    void demuxWithinJob(const DemuxSettings& settings);
    std::string secondFileAndBaseName(bool& hasSecondFile);
    // Every file a job may read, which no output may be: the source, its second
    // feature file (whether or not the job continues into it) and the playlist.
    std::vector<std::string> inputFiles() const;
    // Opens path as the run state's SourceStream, closing the one before.
    void openSource(const std::string& path);

    // After a Demux job that went on into the second feature file: for each subpicture
    // slot written, how many bytes its output held when the second file began.
    std::array<std::optional<uint64_t>, 16> SecondFileSubpictureOffset{};

private:
    void readEvo();
    void demuxJob();
    void demuxOrHandOn();
    void labelStreamBoxes();
    void restoreAfterFailedRead(bool readXplWasEnabled);
    void continueOnSecondFile(const std::string& second, ProcessMode mode);
    void createOutputs(const std::string& prefix, const std::vector<std::string>& sources);
    bool writesWav(size_t audioSlot) const;
    void noteSecondFileOffsets();

    // Marks a job as running for the life of the guard.
    class JobGuard {
    public:
        explicit JobGuard(bool& flag) : flag_(flag) { flag_ = true; }
        ~JobGuard() { flag_ = false; }
        JobGuard(const JobGuard&) = delete;
        JobGuard& operator=(const JobGuard&) = delete;

    private:
        bool& flag_;
    };

    RunState& state_;
    UiModel& ui_;
    bool jobRunning_ = false;
    std::optional<DemuxSettings> demuxSettings_; // while demuxWithinJob runs
    // The audio type codes of the last Read EVO; Read XPL's marks in the catalogue do
    // not tell which slots are LPCM.
    std::array<int32_t, AudioSlots> readAudioType_{};
};

} // namespace halyard
