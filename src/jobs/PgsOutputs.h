#pragma once
// The subpicture outputs of a demux, written once more as Blu-ray PGS subtitles, timed
// against the first video frame so that a Matroska file built from the outputs shows
// each caption where the source shows it.
#include <string>
#include <vector>

#include "jobs/Jobs.h"
#include "jobs/RunReport.h"

namespace halyard {

// Beside every ".sup" output of the report, NAME.CAPTION.pgs.sup (whatever extension
// the subpicture output has), and NAME.CAPTION.forced.pgs.sup with the forced captions
// alone when a stream holds forced captions among normal ones. Times: the record's PTS
// plus the run's earliest PTS less the true first PTS of the first video stream of the
// first file; records from the second feature file are moved by the first file's end
// PTM less the second's start PTM. Colours: a 2-bit stream of a .VOB takes the palette
// of the IFO file beside it, an HD DVD unit its own; palettePath, when not empty, names
// the IFO by hand. The canvas is the video's size as Read EVO logged it. Returns the
// files written, as outputs of the report (format "pgs"); logs what it does and what
// it finds wrong. Raises Error for files that cannot be read or written.
std::vector<ReportOutput> WritePgsOutputs(const RunReport& report, const Jobs& jobs, const RunState& state,
                                          UiModel& ui, const std::string& palettePath);

// The size of the first video stream of the first file as its analyser logged it
// ("size", "Size" or, for VC-1, "Display size" = "WxH"); nullopt when none is known.
std::optional<std::pair<int, int>> VideoSizeOf(const RunReport& report);

} // namespace halyard
