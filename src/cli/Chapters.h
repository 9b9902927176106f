#pragma once
// Chapter times of an HD DVD playlist, and the simple chapter file that mkvmerge reads.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "playlist/PlaylistTitles.h"

namespace halyard::cli {

struct Chapter {
    std::string name;
    int64_t milliseconds = 0;
};

// The frames per second of a title set's time base ("50fps", "60fps", "24fps" ...).
// Raises halyard::Error for any other text: a time base that is not known is never
// guessed.
int TimeBaseRate(std::string_view timeBase);

// A playlist time "HH:MM:SS:FF" (FF frames at `rate` per second) in milliseconds,
// rounded to the nearest. Raises halyard::Error for a text of another form or a
// frame number of `rate` or more.
int64_t FrameTimeMilliseconds(std::string_view time, int rate);

// "HH:MM:SS.mmm".
std::string ChapterTime(int64_t milliseconds);

// The chapters as lines CHAPTER01=HH:MM:SS.mmm and CHAPTER01NAME=name, each ended by
// a line feed; names are taken as they are (UTF-8), line breaks in them become spaces.
std::string SimpleChapterFile(const std::vector<Chapter>& chapters);

// The chapters of a title, their names with XML references replaced, their times at
// the title set's time base (raising as TimeBaseRate and FrameTimeMilliseconds do).
std::vector<Chapter> TitleChapters(const PlaylistTitles& playlist, const PlaylistTitle& title);

// Writes a text file that may not be one of the given source files.
void WriteTextFile(const std::string& path, const std::string& text, const std::vector<std::string>& sources);

// The text of an attribute value with the XML character references replaced: &amp;
// &lt; &gt; &quot; &apos;, &#NN; and &#xHH; (as UTF-8). Anything else stays as it is.
std::string XmlText(std::string_view value);

} // namespace halyard::cli
