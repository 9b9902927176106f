#include "subtitles/PgsConversion.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "model/Error.h"
#include "model/OutputStream.h"
#include "model/SourceFile.h"
#include "subtitles/Palette.h"
#include "subtitles/PgsWriter.h"
#include "subtitles/SupReader.h"

namespace halyard {

namespace {

constexpr int BluRayColourLines = 720; // from this canvas height on, PGS colours are BT.709
constexpr int64_t LargestPts = 0xFFFFFFFF;

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// 90 kHz ticks as h:mm:ss.zzz.
std::string clock(int64_t ticks) {
    const int64_t ms = ticks / 90;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::vector<uint8_t> readWhole(const std::string& path) {
    SourceFile file(path);
    std::vector<uint8_t> bytes(size_t(file.size()));
    int64_t done = 0;
    while (done < file.size()) {
        const int64_t got = file.read(bytes.data() + done, file.size() - done);
        if (got <= 0)
            break;
        done += got;
    }
    bytes.resize(size_t(done));
    return bytes;
}

// A unit as the first pass finds it.
struct PlannedUnit {
    std::span<const uint8_t> data;
    uint32_t pts = 0;       // the record's
    int64_t time = 0;       // when the unit takes effect: its start, else its first sequence
    bool caption = false;   // shown, with a picture
    int64_t start = 0;
    std::optional<int64_t> end;
    bool forced = false;
};

class Converter {
public:
    Converter(const PgsConversion& conversion, const std::function<void(const std::string&)>& log)
        : c_(conversion), log_(log) {}

    PgsConversionResult run();

private:
    void note(const std::string& text) {
        result_.notes.push_back(text);
        if (log_)
            log_(text);
    }
    void passOver(uint32_t pts, const std::string& problem) {
        ++result_.passedOver;
        note("Subpicture unit at PTS " + hex8(pts) + " passed over: " + problem);
    }
    int64_t placeOf(const SupUnit& unit) const;
    void plan(std::span<const uint8_t> bytes);
    void timeCaptions();
    void chooseCanvas();
    bool toPgs(const PlannedUnit& unit, const DecodedUnit& decoded, PgsCaption& caption);

    const PgsConversion& c_;
    const std::function<void(const std::string&)>& log_;
    PgsConversionResult result_;
    PgsRunCoder coder_;
    std::vector<PlannedUnit> units_;
    bool anyHd_ = false;
    int lowestLine_ = 0;
    bool anyTwoBitCaption_ = false;
};

int64_t Converter::placeOf(const SupUnit& unit) const {
    const SupTimeline& t = c_.timeline;
    int64_t place = int32_t(uint32_t(unit.pts + t.earliestPts - t.videoPts));
    if (t.secondFileOffset && unit.offset >= *t.secondFileOffset)
        place += t.secondFileShift;
    return place;
}

// First pass: every unit's times, forced flag and area, from its control sequences.
void Converter::plan(std::span<const uint8_t> bytes) {
    SupReader reader(bytes);
    SupUnit unit;
    const DvdPalette& anyPalette = GreyPalette();
    DecodedUnit decoded;
    while (reader.next(unit)) {
        if (!unit.problem.empty()) {
            passOver(unit.pts, unit.problem);
            continue;
        }
        const std::string problem = DecodeSubpictureUnit(unit.data, anyPalette, UnitDecoding::Controls, decoded);
        if (!problem.empty()) {
            passOver(unit.pts, problem);
            continue;
        }
        PlannedUnit planned;
        planned.data = unit.data;
        planned.pts = unit.pts;
        const int64_t place = placeOf(unit);
        planned.time = place + (decoded.shown ? decoded.startDelay : decoded.firstDelay);
        if (decoded.shown && !decoded.hasPicture)
            passOver(unit.pts, "it shows no picture");
        if (decoded.shown && decoded.hasPicture) {
            planned.caption = true;
            planned.start = place + decoded.startDelay;
            if (decoded.stopDelay)
                planned.end = place + *decoded.stopDelay;
            planned.forced = decoded.forced;
            anyHd_ = anyHd_ || decoded.format == UnitFormat::HdDvd || decoded.eightBit;
            anyTwoBitCaption_ = anyTwoBitCaption_ || !decoded.eightBit;
            lowestLine_ = std::max(lowestLine_, decoded.y + decoded.height);
        }
        units_.push_back(planned);
    }
}

// Ends of captions without a stop, overlaps, order, times before the video.
void Converter::timeCaptions() {
    std::optional<int64_t> previousStart;
    for (size_t i = 0; i < units_.size(); ++i) {
        PlannedUnit& unit = units_[i];
        if (!unit.caption)
            continue;
        if (previousStart && unit.start < *previousStart) {
            unit.caption = false;
            passOver(unit.pts, "it starts at " + clock(unit.start) + ", before the caption before it");
            continue;
        }
        std::optional<int64_t> nextUnit, nextCaption;
        for (size_t j = i + 1; j < units_.size() && !nextCaption; ++j) {
            if (!nextUnit)
                nextUnit = units_[j].time;
            if (units_[j].caption)
                nextCaption = units_[j].start;
        }
        if (!unit.end) {
            ++result_.withoutStop;
            unit.end = unit.start + LongestUnstoppedCaption;
            if (nextUnit && *nextUnit > unit.start)
                unit.end = std::min(*unit.end, *nextUnit);
        }
        // A caption ends when the next one begins: its clearing would clear that one.
        if (nextCaption && *nextCaption >= unit.start)
            unit.end = std::min(*unit.end, *nextCaption);
        if (*unit.end <= 0 || *unit.end <= unit.start || *unit.end > LargestPts) {
            unit.caption = false;
            passOver(unit.pts, *unit.end <= 0 ? "it ends before the video begins"
                               : *unit.end <= unit.start ? "it is shown for no time"
                                                         : "its time lies past the range of PGS time stamps");
            continue;
        }
        unit.start = std::max<int64_t>(unit.start, 0);
        previousStart = unit.start;
    }
}

void Converter::chooseCanvas() {
    if (c_.canvas) {
        result_.width = c_.canvas->first;
        result_.height = c_.canvas->second;
    } else if (c_.hdDvdSource || anyHd_) {
        result_.width = 1920;
        result_.height = 1080;
    } else {
        result_.width = 720;
        result_.height = lowestLine_ > 480 ? 576 : 480;
    }
}

// Columns [fromX, toX) and lines [fromY, toY) of a unit's area.
struct AreaPart {
    int fromX = 0, fromY = 0, toX = 0, toY = 0;
};

// The pieces of a unit's runs that lie in a part of its area: onRun(code, length) for
// each, onLine() after each line.
template <class OnRun, class OnLine>
void forEachRunWithin(const DecodedUnit& decoded, const AreaPart& part, OnRun onRun, OnLine onLine) {
    if (part.fromX == 0 && part.fromY == 0 && part.toX == decoded.width && part.toY == decoded.height) {
        for (const PixelRun& run : decoded.runs()) {
            if (run.length == 0)
                onLine();
            else
                onRun(run.code, int(run.length));
        }
        return;
    }
    int line = 0;
    int x = 0;
    for (const PixelRun& run : decoded.runs()) {
        if (run.length == 0) {
            if (line >= part.fromY)
                onLine();
            if (++line >= part.toY)
                break;
            x = 0;
            continue;
        }
        if (line >= part.fromY) {
            const int from = std::max(x, part.fromX);
            const int to = std::min(x + run.length, part.toX);
            if (from < to)
                onRun(run.code, to - from);
        }
        x += run.length;
    }
}

// The PGS palette of the colour codes a caption shows, and the entry of each code: the
// transparent colours on entry 255, each other colour on an entry of its own, the
// nearest one once 255 are taken. Entry 0 has the shortest codes for runs of three
// pixels or more but a longer one for a single pixel, so it goes to the colour that
// saves most bytes by it, or to none.
void assignEntries(const DecodedUnit& decoded, const AreaPart& part, bool bt709, std::vector<PgsPaletteEntry>& palette,
                   std::array<uint8_t, 256>& entryOf) {
    std::array<bool, 256> used{};
    std::array<int, 256> saved{}; // bytes saved by entry 0, by code
    forEachRunWithin(
        decoded, part,
        [&](uint8_t code, int length) {
            used[code] = true;
            saved[code] += length >= 3 ? 1 : length == 1 ? -1 : 0;
        },
        [] {});

    palette.clear();
    std::array<int, 256> savedByEntry{};
    bool transparent = false;
    for (size_t code = 0; code < decoded.colours.size(); ++code) {
        if (!used[code])
            continue;
        SubpictureColour colour = decoded.colours[code];
        if (colour.alpha == 0) {
            entryOf[code] = PgsTransparentEntry;
            transparent = true;
            continue;
        }
        if (bt709)
            colour = Bt601ToBt709(colour);
        const PgsColour pgs{colour.y, colour.cr, colour.cb, colour.alpha};
        size_t nearest = 0;
        int nearestDistance = INT_MAX;
        for (size_t e = 0; e < palette.size() && nearestDistance > 0; ++e) {
            const PgsColour& other = palette[e].colour;
            const int distance = std::abs(other.y - pgs.y) + std::abs(other.cr - pgs.cr) + std::abs(other.cb - pgs.cb) +
                                 std::abs(other.alpha - pgs.alpha);
            if (distance < nearestDistance)
                nearestDistance = distance, nearest = e;
        }
        if (nearestDistance > 0 && palette.size() < PgsTransparentEntry) {
            nearest = palette.size();
            palette.push_back({uint8_t(nearest), pgs});
        }
        entryOf[code] = uint8_t(nearest);
        savedByEntry[nearest] += saved[code];
    }

    // Entries 0 to n - 1 are taken; the best colour swaps onto 0, or 0 moves to n.
    const size_t taken = palette.size();
    if (taken > 0) {
        const size_t best = size_t(std::max_element(savedByEntry.begin(), savedByEntry.begin() + std::ptrdiff_t(taken)) -
                                   savedByEntry.begin());
        std::array<uint8_t, 256> renumbered;
        for (size_t e = 0; e < renumbered.size(); ++e)
            renumbered[e] = uint8_t(e);
        if (savedByEntry[best] > 0)
            std::swap(renumbered[0], renumbered[best]);
        else if (savedByEntry[0] < 0 && taken < PgsTransparentEntry)
            renumbered[0] = uint8_t(taken);
        for (PgsPaletteEntry& entry : palette)
            entry.id = renumbered[entry.id];
        for (size_t code = 0; code < decoded.colours.size(); ++code)
            if (used[code])
                entryOf[code] = renumbered[entryOf[code]];
    }
    if (transparent)
        palette.push_back({PgsTransparentEntry, PgsColour{}});
}

// The caption within the canvas, its colours as PGS palette entries, in BT.709 on a
// canvas of 720 lines or more.
bool Converter::toPgs(const PlannedUnit& unit, const DecodedUnit& decoded, PgsCaption& caption) {
    const int left = std::max(decoded.x, 0);
    const int top = std::max(decoded.y, 0);
    const int right = std::min(decoded.x + decoded.width, result_.width);
    const int bottom = std::min(decoded.y + decoded.height, result_.height);
    if (right <= left || bottom <= top) {
        passOver(unit.pts, "it lies outside the " + std::to_string(result_.width) + "x" +
                               std::to_string(result_.height) + " canvas");
        return false;
    }
    const AreaPart part{left - decoded.x, top - decoded.y, right - decoded.x, bottom - decoded.y};
    std::array<uint8_t, 256> entryOf{};
    assignEntries(decoded, part, result_.height >= BluRayColourLines, caption.palette, entryOf);
    coder_.clear();
    forEachRunWithin(
        decoded, part, [this, &entryOf](uint8_t code, int length) { coder_.run(entryOf[code], length); },
        [this] { coder_.endLine(); });
    caption.object = coder_.coded();
    if (caption.object.size() > PgsWriter::MaxObjectData) {
        passOver(unit.pts, "its picture is too large for a PGS object");
        return false;
    }

    if (left != decoded.x || top != decoded.y || right != decoded.x + decoded.width || bottom != decoded.y + decoded.height) {
        ++result_.clipped;
        note("Caption at " + clock(unit.start) + " clipped to the " + std::to_string(result_.width) + "x" +
             std::to_string(result_.height) + " canvas");
    }
    caption.x = left;
    caption.y = top;
    caption.width = right - left;
    caption.height = bottom - top;
    caption.forced = unit.forced;
    return true;
}

PgsConversionResult Converter::run() {
    const std::vector<uint8_t> bytes = readWhole(c_.input);
    plan(bytes);
    timeCaptions();
    chooseCanvas();
    size_t forced = 0, captions = 0;
    for (const PlannedUnit& unit : units_) {
        captions += unit.caption;
        forced += unit.caption && unit.forced;
    }
    const bool writeForced = !c_.forcedOutput.empty() && forced > 0 && forced < captions;

    std::vector<std::string> paths{c_.output};
    if (writeForced)
        paths.push_back(c_.forcedOutput);
    std::vector<std::string> sources{c_.input};
    sources.insert(sources.end(), c_.sources.begin(), c_.sources.end());
    std::vector<std::unique_ptr<OutputStream>> outputs = OpenOutputs(paths, sources);
    result_.forcedWritten = writeForced;

    const DvdPalette& palette = c_.palette ? *c_.palette : GreyPalette();
    if (!c_.palette && anyTwoBitCaption_) {
        result_.greyPalette = true;
        note("No palette for the 2-bit subpictures of \"" + c_.input + "\": a fixed grey palette is used");
    }
    PgsWriter writer(result_.width, result_.height);
    PgsWriter forcedWriter(result_.width, result_.height);
    std::vector<uint8_t> out, forcedOut;
    DecodedUnit decoded;
    PgsCaption caption;
    for (const PlannedUnit& unit : units_) {
        if (!unit.caption)
            continue;
        const std::string problem = DecodeSubpictureUnit(unit.data, palette, UnitDecoding::Runs, decoded);
        if (!problem.empty()) {
            passOver(unit.pts, problem);
            continue;
        }
        if (!toPgs(unit, decoded, caption))
            continue;
        out.clear();
        writer.show(out, uint32_t(unit.start), caption);
        writer.clear(out, uint32_t(*unit.end));
        outputs[0]->write(out.data(), out.size());
        if (writeForced && unit.forced) {
            forcedOut.clear();
            forcedWriter.show(forcedOut, uint32_t(unit.start), caption);
            forcedWriter.clear(forcedOut, uint32_t(*unit.end));
            outputs[1]->write(forcedOut.data(), forcedOut.size());
        }
        ++result_.captions;
        result_.forced += unit.forced;
    }
    for (auto& output : outputs)
        output->close();

    note(std::to_string(result_.captions) + " captions (" + std::to_string(result_.forced) + " forced) written as PGS on a " +
         std::to_string(result_.width) + "x" + std::to_string(result_.height) + " canvas");
    if (result_.withoutStop > 0)
        note(std::to_string(result_.withoutStop) +
             " captions had no stop time: each ends where the next unit begins, after 5 seconds at most");
    if (result_.passedOver > 0)
        note(std::to_string(result_.passedOver) + " subpicture units passed over");
    return result_;
}

} // namespace

PgsConversionResult ConvertSupToPgs(const PgsConversion& conversion, const std::function<void(const std::string&)>& log) {
    return Converter(conversion, log).run();
}

} // namespace halyard
