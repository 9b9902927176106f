#include "handoff/Chapters.h"

#include <cstdio>
#include <cstdlib>

#include "model/Error.h"
#include "model/OutputStream.h"

namespace halyard {

namespace {

// Digits only, at least one; -1 otherwise.
int64_t digitsValue(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return -1;
    int64_t value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9')
            return -1;
        value = value * 10 + (ch - '0');
    }
    return value;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

} // namespace

TimeBase TitleTimeBase(std::string_view timeBase) {
    if (timeBase == "50fps")
        return {50, 20, 1};   // 1/50 s
    if (timeBase == "60fps")
        return {60, 1001, 60}; // 1001/60000 s
    throw Error("Unknown time base \"" + std::string(timeBase) +
                "\" of the title set: the chapter times cannot be converted");
}

int64_t FrameTimeMilliseconds(std::string_view time, const TimeBase& timeBase) {
    int64_t parts[4] = {-1, -1, -1, -1};
    std::string_view rest = time;
    for (int i = 0; i < 4; ++i) {
        const size_t colon = rest.find(':');
        if ((i < 3) != (colon != std::string_view::npos))
            break;
        parts[i] = digitsValue(rest.substr(0, colon));
        rest = i < 3 ? rest.substr(colon + 1) : std::string_view();
    }
    const bool valid = parts[0] >= 0 && parts[1] >= 0 && parts[1] < 60 && parts[2] >= 0 && parts[2] < 60 &&
                       parts[3] >= 0 && parts[3] < timeBase.frames;
    if (!valid)
        throw Error("Chapter time \"" + std::string(time) + "\" is not HH:MM:SS:FF at " +
                    std::to_string(timeBase.frames) + " frames per second");
    const int64_t seconds = (parts[0] * 60 + parts[1]) * 60 + parts[2];
    const int64_t ticks = seconds * timeBase.frames + parts[3];
    return (ticks * timeBase.tickNumerator + timeBase.tickDenominator / 2) / timeBase.tickDenominator;
}

std::string ChapterTime(int64_t milliseconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(milliseconds / 3600000),
                  static_cast<long long>(milliseconds / 60000 % 60), static_cast<long long>(milliseconds / 1000 % 60),
                  static_cast<long long>(milliseconds % 1000));
    return text;
}

std::string SimpleChapterFile(const std::vector<Chapter>& chapters) {
    std::string file;
    for (size_t i = 0; i < chapters.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "CHAPTER%02zu", i + 1);
        std::string name = chapters[i].name;
        for (char& ch : name)
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        file += std::string(number) + "=" + ChapterTime(chapters[i].milliseconds) + "\n";
        file += std::string(number) + "NAME=" + name + "\n";
    }
    return file;
}

std::vector<Chapter> TitleChapters(const PlaylistTitles& playlist, const PlaylistTitle& title) {
    std::vector<Chapter> chapters;
    if (title.chapters.empty())
        return chapters;
    const TimeBase timeBase = TitleTimeBase(playlist.timeBase);
    for (const TitleChapter& chapter : title.chapters)
        chapters.push_back({XmlText(chapter.name), FrameTimeMilliseconds(chapter.time, timeBase)});
    return chapters;
}

void WriteTextFile(const std::string& path, const std::string& text, const std::vector<std::string>& sources) {
    std::vector<std::unique_ptr<OutputStream>> files = OpenOutputs({path}, sources);
    files.front()->write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    files.front()->close();
}

std::string XmlText(std::string_view value) {
    static constexpr std::pair<std::string_view, char> Named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const size_t semicolon = value[i] == '&' ? value.find(';', i) : std::string_view::npos;
        if (semicolon == std::string_view::npos || semicolon - i > 10) {
            out += value[i];
            continue;
        }
        const std::string_view name = value.substr(i + 1, semicolon - i - 1);
        bool replaced = false;
        for (const auto& [entity, ch] : Named) {
            if (name == entity) {
                out += ch;
                replaced = true;
            }
        }
        if (!replaced && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* end = nullptr;
            const unsigned long code = digits.empty() ? 0 : std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            if (!digits.empty() && end && *end == '\0' && code > 0 && code <= 0x10FFFF) {
                appendUtf8(out, uint32_t(code));
                replaced = true;
            }
        }
        if (replaced)
            i = semicolon;
        else
            out += value[i];
    }
    return out;
}

} // namespace halyard
