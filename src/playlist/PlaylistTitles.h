#pragma once
// The titles of an HD DVD playlist, for the tools that take the streams further: their
// tracks with codecs and languages, their chapters, and the title that plays a source.
#include <optional>
#include <string>
#include <vector>

#include "jobs/RunReport.h"

namespace halyard {

// A track of a title: a Video, Audio or Subtitle element of one of its clips, in the
// stream slot that Read XPL gives it (video track n, audio and subtitle stream number n:
// slot n - 1).
struct TitleTrack {
    StreamClass kind = StreamClass::Video;
    int slot = 0;
    int mediaAttr = 0;       // the index of its attribute item
    std::string codec;       // the codec of its attribute item (with ".6ch" for audio channels)
    std::string name;        // the name Read XPL gives its box ("DD.6ch.stream.00.en")
    std::string description; // the description attribute
    std::string langcode;    // the langcode attribute ("en:00")
    std::string language;    // the language of langcode ("en"), "" when it holds none
};

// A chapter as the playlist writes it: HH:MM:SS:FF on the title's timeline.
struct TitleChapter {
    std::string time;
    std::string name;
};

struct PlaylistTitle {
    std::string id;
    std::string name; // displayName
    std::string duration;
    std::vector<TitleTrack> tracks; // each slot once, as its first clip lists it
    std::vector<TitleChapter> chapters;
};

struct PlaylistTitles {
    std::string playlistName;
    std::string timeBase;
    std::string tickBase;
    std::vector<PlaylistTitle> titles;
    // The title that plays the source, found as Read XPL finds it: the title whose
    // opening tag is the last one above the first tag outside a comment that names the
    // source as a whole file name.
    std::optional<size_t> sourceTitle;
};

// Reads the playlist at path with the playlist scanner (raising what it and the file
// raise) and finds the title that plays the source at sourcePath. The tags pass
// through a block at a time: memory grows with the titles' tracks and chapters, not
// with the playlist.
PlaylistTitles ReadPlaylistTitles(const std::string& path, const std::string& sourcePath);

} // namespace halyard
