// Choosing the source and the playlist, dropped files, and Cancel.
#include "jobs/Jobs.h"
#include "jobs/Paths.h"

namespace halyard {

namespace {
constexpr size_t MaxDroppedPath = 260;
} // namespace

void Jobs::EVOadj() {
    ui_.bReadEVO.enabled = !ui_.eEVOfile.empty();
    Paths.SourceFileName = FileNamePart(ui_.eEVOfile);
    Paths.OutputBaseName = CutExt(Paths.SourceFileName);
    Paths.SourceFolder = FolderPart(ui_.eEVOfile);
    ui_.odEVOfileInitialDir = Paths.SourceFolder;
    ui_.eXPLfile = PlaylistName;
    const std::string playlistFolder = PlaylistFolderFor(Paths.SourceFolder);
    if (!playlistFolder.empty()) {
        Paths.PlaylistFolder = playlistFolder;
        ui_.odXPLInitialDir = Paths.PlaylistFolder;
        Paths.PlaylistFileName = PlaylistName;
        ui_.odXPLFileName = Paths.PlaylistFileName;
        ui_.eXPLfile = Paths.PlaylistFolder + Paths.PlaylistFileName;
    }
    ui_.bReadXPL.enabled = !Paths.PlaylistFileName.empty();
    ui_.controlsChanged();
}

void Jobs::XPLadj() {
    Paths.PlaylistFileName = FileNamePart(ui_.eXPLfile);
    Paths.PlaylistFolder = FolderPart(ui_.eXPLfile);
    ui_.bReadXPL.enabled = !Paths.PlaylistFileName.empty();
    const std::string sourceFolder = SourceFolderFor(Paths.PlaylistFolder);
    if (!sourceFolder.empty()) {
        Paths.SourceFolder = sourceFolder;
        ui_.odEVOfileInitialDir = Paths.SourceFolder;
    }
    ui_.controlsChanged();
}

void Jobs::sourceChosen(const std::string& path) {
    if (jobRunning_)
        return;
    ui_.eEVOfile = path;
    EVOadj();
    Resetcbs();
    if (ui_.cbAutoRead)
        bReadEVOClick();
}

void Jobs::playlistChosen(const std::string& path) {
    if (jobRunning_)
        return;
    ui_.eXPLfile = path;
    XPLadj();
    if (ui_.cbAutoRead)
        bReadXPLClick();
}

// A drop while a job runs is refused: the job keeps its source and its run state.
void Jobs::WMDropFiles(const std::vector<std::string>& paths) {
    if (paths.empty() || jobRunning_)
        return;
    const std::string path = paths.front().substr(0, MaxDroppedPath);
    const std::string extension = UpperExtension(path);
    if (extension == ".EVO" || extension == ".VOB") {
        ui_.eEVOfile = path;
        EVOadj();
        if (ui_.cbAutoRead)
            bReadEVOClick();
    } else if (extension == ".XPL") {
        ui_.eXPLfile = path;
        XPLadj();
        if (ui_.cbAutoRead)
            bReadXPLClick();
    }
}

void Jobs::bCancelClick() {
    if (!state_.BusyFlag) {
        state_.CancelFlag = true;
        return;
    }
    if (ui_.confirm("Are you sure to stop demuxing?", false)) {
        state_.CancelFlag = true;
        ui_.log("Cancelled.");
    }
}

void Jobs::bRebuildClick() {
    if (jobRunning_ || !RebuildJob)
        return;
    JobGuard guard(jobRunning_);
    RebuildJob();
}

void Jobs::bReadXPLClick() {
    if (jobRunning_ || !ReadXplJob)
        return;
    JobGuard guard(jobRunning_);
    ReadXplJob();
}

} // namespace halyard
