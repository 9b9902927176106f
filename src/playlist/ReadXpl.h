#pragma once
#include <array>
#include <string>

#include "jobs/Jobs.h"
#include "model/RunState.h"
#include "model/UiModel.h"
#include "playlist/TagScanner.h"

namespace halyard {

// Read XPL: reads the HD DVD playlist named by eXPLfile into the memo mXPL, cuts it
// to the title that plays the source in eEVOfile, shows that title in the tree tvXPL
// and names, ticks and enables a stream box for every track it lists. The attribute
// tables live as long as the reader.
class XplReader {
public:
    XplReader(Jobs& jobs, RunState& state, UiModel& ui);

    // The job. A failure closes the playlist, shows the memo, gives the buttons back
    // and is rethrown.
    void bReadXPLClick();

    const AttributeTables& tables() const { return tables_; }

private:
    void read();
    void buildTree(const PlaylistValues& values);
    void listVideo(const std::string& line, TreeNode& node);
    template <size_t Boxes>
    void listStream(const std::string& line, const std::array<std::string, AttributeTables::Size>& table,
                    int32_t* markers, int slots, TreeNode& node, std::array<StreamBox, Boxes>& boxes);
    void offer(StreamBox& box, const std::string& name, bool withHint);
    void restoreControls(bool readEvoWasEnabled);
    void failed(bool readEvoWasEnabled);

    Jobs& jobs_;
    RunState& state_;
    UiModel& ui_;
    AttributeTables tables_;
    // The tracks and streams this read has listed, each slot -1 until it is. Kept
    // apart from the run state's catalogue, whose stream ids from Read EVO a Rebuild
    // after Read XPL still needs to tell the kept streams from the dropped ones.
    StreamCatalogue listed_{};
};

// Plugs a reader, kept for the program's lifetime, into the jobs' Read XPL seam.
void InstallReadXplJob(Jobs& jobs, RunState& state, UiModel& ui);

} // namespace halyard
