#pragma once
// Converts a subpicture stream as a demux writes it ("SP" records) into PGS.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "subtitles/SubpictureUnit.h"

namespace halyard {

// How the records' time stamps become times against the first video frame:
//   record PTS + earliestPts - videoPts
// and, for the records from secondFileOffset on (the second feature file of a joined
// demux), secondFileShift more: the first file's end PTM less the second's start PTM.
struct SupTimeline {
    uint32_t earliestPts = 0; // the run's earliest PTS, which the records count from
    uint32_t videoPts = 0;    // the true first PTS of the video the captions go with
    std::optional<uint64_t> secondFileOffset;
    int64_t secondFileShift = 0;
};

struct PgsConversion {
    std::string input;        // the "SP" file
    std::string output;       // the PGS file
    // The PGS file of the forced captions alone, written only when forced captions
    // stand among normal ones; empty: never written.
    std::string forcedOutput;
    // Further files the outputs must not be (the IFO of the palette, the source).
    std::vector<std::string> sources;
    // The canvas; without one, 1920x1080 for an HD DVD source or a stream of 8-bit
    // units, else 720x576 when a caption reaches below line 480, else 720x480.
    std::optional<std::pair<int, int>> canvas;
    bool hdDvdSource = false;
    // The colours of 2-bit units; without them a grey palette, with a note.
    std::optional<DvdPalette> palette;
    SupTimeline timeline;
};

struct PgsConversionResult {
    int width = 0;
    int height = 0;
    size_t captions = 0;        // written
    size_t forced = 0;          // of them forced
    size_t withoutStop = 0;     // ended by the next unit or after 5 seconds
    size_t passedOver = 0;      // broken units, and captions that could not be placed
    size_t clipped = 0;
    bool forcedWritten = false; // forcedOutput was written
    bool greyPalette = false;   // 2-bit captions were coloured with the grey palette
    bool allForced() const { return captions > 0 && forced == captions; }
    // Every warning and note, as logged.
    std::vector<std::string> notes;
};

// The longest a caption without a stop time stays on screen.
inline constexpr int64_t LongestUnstoppedCaption = 5 * 90000;

// Reads the input whole, plans every caption (its times, its forced flag), opens the
// outputs through the output guard (the input and the sources as the files they must
// not be), then decodes and writes caption by caption. Broken units are passed over,
// one warning each through log; failures of the files raise Error.
PgsConversionResult ConvertSupToPgs(const PgsConversion& conversion, const std::function<void(const std::string&)>& log);

} // namespace halyard
