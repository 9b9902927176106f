#include "subtitles/Palette.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "model/Error.h"
#include "model/SourceFile.h"

namespace halyard {

namespace {

constexpr int64_t SectorSize = 2048;
constexpr int64_t VtsPgcitSector = 0xCC;  // VTS_PGCIT_SA: sector of the title set's PGC table
constexpr int64_t FirstPlayPgc = 0x84;    // FP_PGC_SA: byte offset of the first-play PGC
constexpr int64_t FirstPgcOffset = 0x0C;  // VTS_PGCIT: the first search pointer's PGC offset
constexpr int64_t PgcPalette = 0xA4;      // PGC_SP_PLT: 16 x (0, Y, Cr, Cb)

[[noreturn]] void cannotRead(const std::string& path, const std::string& reason) {
    throw Error("Cannot read a palette from \"" + path + "\". " + reason);
}

// count bytes at offset; false when the file ends before them.
bool readAt(SourceFile& file, int64_t offset, uint8_t* buffer, int64_t count) {
    if (offset < 0 || offset > file.size() || count > file.size() - offset)
        return false;
    file.seek(offset);
    return file.read(buffer, count) == count;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

std::string upper(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

uint8_t clampByte(double value) {
    return uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

} // namespace

DvdPalette ReadIfoPalette(const std::string& path) {
    auto file = std::make_unique<SourceFile>(path); // "Cannot open file ..." when it cannot be opened
    uint8_t id[12];
    if (!readAt(*file, 0, id, sizeof id))
        cannotRead(path, "It is no DVD IFO file");
    int64_t pgc = 0;
    uint8_t word[4];
    if (std::memcmp(id, "DVDVIDEO-VTS", 12) == 0) {
        if (!readAt(*file, VtsPgcitSector, word, 4))
            cannotRead(path, "It ends before its program chain table");
        const int64_t table = int64_t(be32(word)) * SectorSize;
        if (!readAt(*file, table + FirstPgcOffset, word, 4))
            cannotRead(path, "Its program chain table lies outside the file");
        pgc = table + be32(word);
    } else if (std::memcmp(id, "DVDVIDEO-VMG", 12) == 0) {
        if (!readAt(*file, FirstPlayPgc, word, 4))
            cannotRead(path, "It ends before its first-play program chain");
        pgc = be32(word);
    } else {
        cannotRead(path, "It is no DVD IFO file");
    }
    uint8_t entries[64];
    if (!readAt(*file, pgc + PgcPalette, entries, sizeof entries))
        cannotRead(path, "Its program chain lies outside the file");
    DvdPalette palette;
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = {entries[4 * i + 1], entries[4 * i + 2], entries[4 * i + 3], 255};
    return palette;
}

std::vector<std::string> IfoFilesBeside(const std::string& vobPath) {
    namespace fs = std::filesystem;
    const fs::path vob(vobPath);
    const std::string name = upper(vob.filename().string());
    // VTS_nn_m.VOB belongs to VTS_nn_0.IFO; VIDEO_TS.VOB to VIDEO_TS.IFO.
    std::vector<std::string> wanted;
    if (name.size() == 12 && name.compare(0, 4, "VTS_") == 0 && name[6] == '_' && name.compare(8, 4, ".VOB") == 0)
        wanted = {name.substr(0, 7) + "0.IFO", "VIDEO_TS.IFO", name.substr(0, 7) + "0.BUP", "VIDEO_TS.BUP"};
    else if (name == "VIDEO_TS.VOB")
        wanted = {"VIDEO_TS.IFO", "VIDEO_TS.BUP"};
    if (wanted.empty())
        return {};
    const fs::path folder = vob.has_parent_path() ? vob.parent_path() : fs::path(".");
    std::vector<std::string> found;
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const std::string& want : wanted)
        for (const fs::path& entry : entries)
            if (upper(entry.filename().string()) == want) {
                found.push_back(entry.string());
                break;
            }
    return found;
}

std::optional<std::pair<DvdPalette, std::string>> FindVobPalette(const std::string& vobPath) {
    for (const std::string& ifo : IfoFilesBeside(vobPath)) {
        try {
            const DvdPalette palette = ReadIfoPalette(ifo);
            const bool empty = std::all_of(palette.begin(), palette.end(), [](const SubpictureColour& c) {
                return c.y == 0 && c.cr == 0 && c.cb == 0;
            });
            if (!empty)
                return std::pair{palette, ifo};
        } catch (const Error&) {
            // the next file may serve
        }
    }
    return std::nullopt;
}

const DvdPalette& GreyPalette() {
    static const DvdPalette palette = [] {
        DvdPalette greys;
        for (int i = 0; i < 16; ++i) {
            const int step = 12 * (i / 2);
            greys[size_t(i)] = {uint8_t(i % 2 == 0 ? 235 - step : 16 + step), 128, 128, 255};
        }
        return greys;
    }();
    return palette;
}

SubpictureColour Bt601ToBt709(SubpictureColour colour) {
    // Y'CbCr (BT.601, studio range) to R'G'B' in 0..1, then to Y'CbCr (BT.709).
    const double y = (colour.y - 16) / 219.0;
    const double cb = (colour.cb - 128) / 224.0;
    const double cr = (colour.cr - 128) / 224.0;
    const double r = std::clamp(y + 1.402 * cr, 0.0, 1.0);
    const double g = std::clamp(y - 0.344136 * cb - 0.714136 * cr, 0.0, 1.0);
    const double b = std::clamp(y + 1.772 * cb, 0.0, 1.0);
    const double y709 = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    SubpictureColour out = colour;
    out.y = clampByte(16 + 219 * y709);
    out.cb = clampByte(128 + 224 * (b - y709) / 1.8556);
    out.cr = clampByte(128 + 224 * (r - y709) / 1.5748);
    return out;
}

} // namespace halyard
