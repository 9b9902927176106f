#pragma once
// Chapter times of an HD DVD playlist, and the simple chapter file that mkvmerge reads.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "playlist/PlaylistTitles.h"

namespace halyard {

struct Chapter {
    std::string name;
    int64_t milliseconds = 0;
};

// The clock of a title set's time base. A playlist time HH:MM:SS:FF is a count of
// ticks without drop frames, `frames` to the nominal second; each tick lasts
// tickNumerator / tickDenominator milliseconds of real time. The playlist schema allows
// two time bases: "50fps" (50 ticks a second) and "60fps" (60000/1001 ticks a second,
// the clock of 59.94 Hz video, although its times count 60 to the nominal second).
struct TimeBase {
    int frames = 0;
    int64_t tickNumerator = 0;
    int64_t tickDenominator = 1;
};

// The clock of a title set's timeBase attribute. Raises halyard::Error for any other
// text: a time base that is not known is never guessed.
TimeBase TitleTimeBase(std::string_view timeBase);

// A playlist time "HH:MM:SS:FF" in milliseconds of real time, rounded to the nearest
// (in integers, so that no chapter is a millisecond off). Raises halyard::Error for a
// text of another form or a frame number of timeBase.frames or more.
int64_t FrameTimeMilliseconds(std::string_view time, const TimeBase& timeBase);

// "HH:MM:SS.mmm".
std::string ChapterTime(int64_t milliseconds);

// The chapters as lines CHAPTER01=HH:MM:SS.mmm and CHAPTER01NAME=name, each ended by
// a line feed; names are taken as they are (UTF-8), line breaks in them become spaces.
std::string SimpleChapterFile(const std::vector<Chapter>& chapters);

// The chapters of a title, their names with XML references replaced, their times at
// the title set's time base (raising as TitleTimeBase and FrameTimeMilliseconds do).
std::vector<Chapter> TitleChapters(const PlaylistTitles& playlist, const PlaylistTitle& title);

// Writes a text file that may not be one of the given source files.
void WriteTextFile(const std::string& path, const std::string& text, const std::vector<std::string>& sources);

// The text of an attribute value with the XML character references replaced: &amp;
// &lt; &gt; &quot; &apos;, &#NN; and &#xHH; (as UTF-8). Anything else stays as it is.
std::string XmlText(std::string_view value);

} // namespace halyard
