#include "playlist/PlaylistTitles.h"

#include <cctype>
#include <memory>

#include "jobs/Paths.h"
#include "jobs/StreamNames.h"
#include "model/RunState.h"
#include "model/SourceFile.h"
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
// its slot is listed already.
void addTrack(PlaylistTitle& title, const AttributeTables& tables, const std::string& tag, StreamClass kind) {
    const bool video = kind == StreamClass::Video;
    const int number = GetAttrInt(tag, video ? "track" : "streamNumber");
    const int slots = video ? VideoSlots : kind == StreamClass::Audio ? AudioSlots : SubpictureSlots;
    if (number < 1 || number > slots)
        return;
    for (const TitleTrack& track : title.tracks)
        if (track.kind == kind && track.slot == number - 1)
            return;
    const auto& table = video ? tables.VideoAttrTable
                        : kind == StreamClass::Audio ? tables.AudioAttrTable
                                                     : tables.SubpictureAttrTable;
    TitleTrack track;
    track.kind = kind;
    track.slot = number - 1;
    track.codec = AttributeTables::at(table, GetAttrInt(tag, "mediaAttr"));
    track.description = attr(tag, "description");
    track.langcode = attr(tag, "langcode");
    track.language = languageOf(track.langcode);
    track.name = video ? track.codec + ".stream" + VideoSuffix(track.slot)
                       : track.codec + ".stream" + TwoDigitSuffix(track.slot) + "." + track.description;
    title.tracks.push_back(std::move(track));
}

} // namespace

PlaylistTitles ReadPlaylistTitles(const std::string& path, const std::string& sourcePath) {
    std::vector<std::string> memo;
    AttributeTables tables;
    PlaylistValues values;
    {
        SourceFile file(path);
        TagScanner scanner(memo, tables, values);
        const auto block = std::make_unique<uint8_t[]>(BlockSize);
        for (int64_t count; (count = file.read(block.get(), BlockSize)) > 0;)
            scanner.scan(block.get(), size_t(count));
    }

    PlaylistTitles result{values.PlaylistName, values.TimeBase, values.TickBase, {}, std::nullopt};
    const std::string baseName = CutExt(FileNamePart(sourcePath));
    bool sourceFound = false;
    PlaylistTitle* title = nullptr;
    for (size_t i = 0; i < memo.size(); ++i) {
        const std::string& line = memo[i];
        // As Read XPL cuts the memo: the first line naming the source, if not the first line.
        if (!sourceFound && !baseName.empty() && line.find(baseName) != std::string::npos) {
            sourceFound = true;
            if (i > 0 && !result.titles.empty())
                result.sourceTitle = result.titles.size() - 1;
        }
        if (ContainsUpper(line, "<TITLE ")) {
            result.titles.push_back({attr(line, "id"), attr(line, "displayName"), attr(line, "titleDuration"), {}, {}});
            title = &result.titles.back();
        } else if (ContainsUpper(line, "</TITLE")) {
            title = nullptr;
        }
        if (!title)
            continue;
        if (ContainsUpper(line, "<VIDEO "))
            addTrack(*title, tables, line, StreamClass::Video);
        if (ContainsUpper(line, "<AUDIO "))
            addTrack(*title, tables, line, StreamClass::Audio);
        if (ContainsUpper(line, "<SUBTITLE "))
            addTrack(*title, tables, line, StreamClass::Subpicture);
        if (ContainsUpper(line, "<CHAPTER "))
            title->chapters.push_back({attr(line, "titleTimeBegin"), attr(line, "displayName")});
    }
    return result;
}

} // namespace halyard
