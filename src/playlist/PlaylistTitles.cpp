#include "playlist/PlaylistTitles.h"

#include <cctype>
#include <memory>

#include "jobs/Paths.h"
#include "jobs/StreamNames.h"
#include "model/RunState.h"
#include "model/SourceFile.h"
#include "playlist/SourceName.h"
#include "playlist/TagScanner.h"
#include "playlist/XplAttributes.h"

namespace halyard {

namespace {

std::string attr(std::string_view tag, std::string_view name) {
    std::string value;
    GetAttr(tag, name, value);
    return value;
}

// "en:00" gives "en": two or three letters before the colon, in lower case.
std::string languageOf(const std::string& langcode) {
    const std::string code = langcode.substr(0, langcode.find(':'));
    if (code.size() < 2 || code.size() > 3)
        return "";
    std::string language;
    for (char ch : code) {
        if (!std::isalpha(static_cast<unsigned char>(ch)))
            return "";
        language += char(std::tolower(static_cast<unsigned char>(ch)));
    }
    return language;
}

// The track of a Video, Audio or Subtitle tag, unless its number is out of range or
// its slot is listed already. Its codec and name wait for the attribute tables, which
// are complete only once the whole playlist is scanned.
void addTrack(PlaylistTitle& title, const std::string& tag, StreamClass kind) {
    const bool video = kind == StreamClass::Video;
    const int number = GetAttrInt(tag, video ? "track" : "streamNumber");
    const int slots = video ? VideoSlots : kind == StreamClass::Audio ? AudioSlots : SubpictureSlots;
    if (number < 1 || number > slots)
        return;
    for (const TitleTrack& track : title.tracks)
        if (track.kind == kind && track.slot == number - 1)
            return;
    TitleTrack track;
    track.kind = kind;
    track.slot = number - 1;
    track.mediaAttr = GetAttrInt(tag, "mediaAttr");
    track.description = attr(tag, "description");
    track.langcode = attr(tag, "langcode");
    track.language = languageOf(track.langcode);
    title.tracks.push_back(std::move(track));
}

// The codec of the track's attribute item, and the name Read XPL gives its box.
void nameTrack(TitleTrack& track, const AttributeTables& tables) {
    const bool video = track.kind == StreamClass::Video;
    const auto& table = video ? tables.VideoAttrTable
                        : track.kind == StreamClass::Audio ? tables.AudioAttrTable
                                                           : tables.SubpictureAttrTable;
    track.codec = AttributeTables::at(table, track.mediaAttr);
    track.name = video ? track.codec + ".stream" + VideoSuffix(track.slot)
                       : track.codec + ".stream" + TwoDigitSuffix(track.slot) + "." + track.description;
}

} // namespace

namespace {

// Takes the playlist's tags one by one as the scanner gives them, so that no more than
// a block's worth of tags is held at a time.
class TitleCollector {
public:
    TitleCollector(PlaylistTitles& result, std::string baseName) : result_(result), baseName_(std::move(baseName)) {}

    void take(const std::vector<std::string>& lines, const std::vector<bool>& commentLines) {
        for (size_t i = 0; i < lines.size(); ++i)
            line(lines[i], commentLines[i]);
    }

private:
    void line(const std::string& line, bool inComment) {
        // As Read XPL cuts the memo: the first line naming the source, if not the first line.
        if (!sourceFound_ && !inComment && NamesFile(line, baseName_)) {
            sourceFound_ = true;
            if (index_ > 0 && !result_.titles.empty())
                result_.sourceTitle = result_.titles.size() - 1;
        }
        ++index_;
        if (ContainsUpper(line, "<TITLE ")) {
            result_.titles.push_back({attr(line, "id"), attr(line, "displayName"), attr(line, "titleDuration"), {}, {}});
            inTitle_ = true;
        } else if (ContainsUpper(line, "</TITLE")) {
            inTitle_ = false;
        }
        if (!inTitle_)
            return;
        PlaylistTitle& title = result_.titles.back();
        if (ContainsUpper(line, "<VIDEO "))
            addTrack(title, line, StreamClass::Video);
        if (ContainsUpper(line, "<AUDIO "))
            addTrack(title, line, StreamClass::Audio);
        if (ContainsUpper(line, "<SUBTITLE "))
            addTrack(title, line, StreamClass::Subpicture);
        if (ContainsUpper(line, "<CHAPTER "))
            title.chapters.push_back({attr(line, "titleTimeBegin"), attr(line, "displayName")});
    }

    PlaylistTitles& result_;
    const std::string baseName_;
    bool sourceFound_ = false;
    bool inTitle_ = false;
    size_t index_ = 0;
};

} // namespace

PlaylistTitles ReadPlaylistTitles(const std::string& path, const std::string& sourcePath) {
    PlaylistTitles result;
    AttributeTables tables;
    PlaylistValues values;
    TitleCollector collector(result, CutExt(FileNamePart(sourcePath)));
    std::vector<std::string> lines;
    std::vector<bool> commentLines;
    SourceFile file(path);
    TagScanner scanner(lines, tables, values, &commentLines);
    const auto block = std::make_unique<uint8_t[]>(BlockSize);
    try {
        for (int64_t count; (count = file.read(block.get(), BlockSize)) > 0;) {
            scanner.scan(block.get(), size_t(count));
            collector.take(lines, commentLines);
            lines.clear();
            commentLines.clear();
        }
    } catch (AttributeValueError& error) {
        error.playlist = path;
        throw;
    }
    for (PlaylistTitle& title : result.titles)
        for (TitleTrack& track : title.tracks)
            nameTrack(track, tables);
    result.playlistName = values.PlaylistName;
    result.timeBase = values.TimeBase;
    result.tickBase = values.TickBase;
    return result;
}

} // namespace halyard
