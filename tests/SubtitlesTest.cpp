// The subtitles layer: subpicture units from the builder decoded back to their bitmaps,
// broken units refused without reading outside them, PGS read back by a reader written
// here from the format's description, and whole conversions of "SP" files.
#include <gtest/gtest.h>

#include <map>

#include "EngineFixture.h"
#include "SubpictureBuilder.h"
#include "model/Error.h"
#include "subtitles/Palette.h"
#include "subtitles/PgsConversion.h"
#include "subtitles/PgsWriter.h"
#include "subtitles/SubpictureUnit.h"
#include "subtitles/SupReader.h"

namespace halyard::test {
namespace {

// --- A PGS reader, the mirror of the writer -------------------------------------------

struct PgsSet {
    uint32_t pts = 0;
    int canvasWidth = 0, canvasHeight = 0;
    uint8_t state = 0;
    int objects = 0;
    bool forced = false;
    int x = 0, y = 0, width = 0, height = 0;
    std::map<int, PgsColour> palette;
    std::vector<uint8_t> pixels;
    int odsSegments = 0;
};

uint32_t Be16(const psb::Bytes& b, size_t at) { return uint32_t(b[at]) << 8 | b[at + 1]; }
uint32_t Be32(const psb::Bytes& b, size_t at) { return Be16(b, at) << 16 | Be16(b, at + 2); }

std::vector<uint8_t> DecodePgsRle(const psb::Bytes& data, int width, int height) {
    std::vector<uint8_t> pixels;
    size_t at = 0;
    int lines = 0;
    while (at < data.size() && lines < height) {
        uint8_t colour = data[at++];
        int run = 1;
        if (colour == 0) {
            const uint8_t flags = data.at(at++);
            run = flags & 0x3F;
            if (flags & 0x40)
                run = run << 8 | data.at(at++);
            colour = (flags & 0x80) ? data.at(at++) : 0;
            if (run == 0) {
                EXPECT_EQ(pixels.size(), size_t(width) * size_t(lines + 1)) << "line " << lines;
                ++lines;
                continue;
            }
        }
        pixels.insert(pixels.end(), size_t(run), colour);
    }
    EXPECT_EQ(at, data.size());
    return pixels;
}

std::vector<PgsSet> ReadPgs(const psb::Bytes& file) {
    std::vector<PgsSet> sets;
    PgsSet set;
    psb::Bytes object;
    uint32_t declared = 0;
    size_t at = 0;
    while (at + 13 <= file.size()) {
        EXPECT_EQ(file[at], 'P');
        EXPECT_EQ(file[at + 1], 'G');
        const uint32_t pts = Be32(file, at + 2);
        const uint8_t type = file[at + 10];
        const size_t size = Be16(file, at + 11);
        const psb::Bytes d(file.begin() + std::ptrdiff_t(at + 13), file.begin() + std::ptrdiff_t(at + 13 + size));
        at += 13 + size;
        switch (type) {
        case 0x16:
            set = PgsSet{};
            set.pts = pts;
            set.canvasWidth = int(Be16(d, 0));
            set.canvasHeight = int(Be16(d, 2));
            set.state = d[7];
            set.objects = d[10];
            if (set.objects) {
                set.forced = (d[14] & 0x40) != 0;
                set.x = int(Be16(d, 15));
                set.y = int(Be16(d, 17));
            }
            break;
        case 0x14:
            for (size_t e = 2; e + 5 <= d.size(); e += 5)
                set.palette[d[e]] = {d[e + 1], d[e + 2], d[e + 3], d[e + 4]};
            break;
        case 0x15:
            ++set.odsSegments;
            if (d[3] & 0x80) {
                set.width = int(Be16(d, 7));
                set.height = int(Be16(d, 9));
                declared = uint32_t(d[4]) << 16 | Be16(d, 5);
                object.assign(d.begin() + 11, d.end());
            } else {
                object.insert(object.end(), d.begin() + 4, d.end());
            }
            if (d[3] & 0x40) {
                EXPECT_EQ(object.size() + 4, declared);
                set.pixels = DecodePgsRle(object, set.width, set.height);
            }
            break;
        case 0x80:
            EXPECT_EQ(pts, set.pts);
            sets.push_back(set);
            break;
        }
    }
    EXPECT_EQ(at, file.size());
    return sets;
}

// --- Units ----------------------------------------------------------------------------

DecodedUnit Decoded(const psb::Bytes& unit, const DvdPalette& palette = GreyPalette()) {
    DecodedUnit decoded;
    EXPECT_EQ(DecodeSubpictureUnit(unit, palette, UnitDecoding::Bitmap, decoded), "");
    return decoded;
}

TEST(SubpictureUnits, DvdUnitsDecodeToTheBuildersBitmapPlaceTimesAndColours) {
    DvdPalette palette{};
    for (size_t i = 0; i < 16; ++i)
        palette[i] = {uint8_t(20 + 10 * i), uint8_t(100 + i), uint8_t(150 - i), 255};
    // Odd and even heights, widths of one pixel and of runs of every length class.
    for (auto [width, height] : {std::pair{64, 16}, {1, 1}, {3, 7}, {300, 33}, {720, 2}}) {
        const auto bitmap = psb::Bitmap::testPattern(width, height);
        const psb::Bytes unit = psb::SubpictureUnit()
                                    .bitmap(bitmap)
                                    .position(17, 400)
                                    .colors(9, 8, 7, 6)
                                    .contrast(15, 12, 9, 0)
                                    .startDelay(10 * 1024)
                                    .duration(90000)
                                    .forced(width == 3)
                                    .build();
        const DecodedUnit d = Decoded(unit, palette);
        EXPECT_EQ(d.format, UnitFormat::Dvd);
        EXPECT_FALSE(d.eightBit);
        EXPECT_EQ(std::tuple(d.x, d.y, d.width, d.height), std::tuple(17, 400, width, height));
        EXPECT_EQ(d.pixels, bitmap.pixels) << width << "x" << height;
        EXPECT_TRUE(d.shown);
        EXPECT_EQ(d.forced, width == 3);
        EXPECT_EQ(d.startDelay, 10u * 1024);
        EXPECT_EQ(d.stopDelay, 88u * 1024); // 90000 ticks rounded to 1024-tick units
        ASSERT_EQ(d.colours.size(), 4u);
        // Codes background, pattern, emphasis 1, emphasis 2 take palette entries 6, 7, 8, 9.
        EXPECT_EQ(d.colours[1], (SubpictureColour{palette[7].y, palette[7].cr, palette[7].cb, 9 * 17}));
        EXPECT_EQ(d.colours[3].y, palette[9].y);
        EXPECT_EQ(d.colours[0].alpha, 0);
    }
    // Without a stop sequence the unit has no end of its own.
    DecodedUnit open = Decoded(psb::SubpictureUnit().noStop().build());
    EXPECT_TRUE(open.shown);
    EXPECT_FALSE(open.stopDelay);
}

TEST(SubpictureUnits, HdDvdUnitsDecodeEightBitPixelsWithTheirOwnPaletteAndAlpha) {
    for (auto [width, height] : {std::pair{200, 40}, {1920, 3}, {1, 2}}) {
        const auto bitmap = psb::Bitmap8::testPattern(width, height);
        const psb::Bytes unit = psb::HdSubpictureUnit()
                                    .bitmap(bitmap)
                                    .position(100, 900)
                                    .colour(200, {90, 60, 200}, 128)
                                    .forced(true)
                                    .build();
        ASSERT_EQ(unit[0], 0);
        ASSERT_EQ(unit[1], 0);
        const DecodedUnit d = Decoded(unit);
        EXPECT_EQ(d.format, UnitFormat::HdDvd);
        EXPECT_TRUE(d.eightBit);
        EXPECT_TRUE(d.forced);
        EXPECT_EQ(std::tuple(d.x, d.y, d.width, d.height), std::tuple(100, 900, width, height));
        EXPECT_EQ(d.pixels, bitmap.pixels) << width << "x" << height;
        ASSERT_EQ(d.colours.size(), 256u);
        EXPECT_EQ(d.colours[200], (SubpictureColour{90, 60, 200, 128}));
        EXPECT_EQ(d.colours[0].alpha, 0);
    }
}

// The builder's DVD unit with one change made to it; the unit must be refused.
psb::Bytes Damaged(const std::function<void(psb::Bytes&)>& change) {
    psb::Bytes unit = psb::SubpictureUnit().bitmap(psb::Bitmap::testPattern(40, 10)).build();
    change(unit);
    return unit;
}

TEST(SubpictureUnits, BrokenUnitsAreRefusedWithAReasonAndNothingReadOutsideThem) {
    const size_t sequence = psb::readBe16(Damaged([](psb::Bytes&) {}), 2);
    const std::vector<std::pair<const char*, psb::Bytes>> broken = {
        {"zero size", Damaged([](psb::Bytes& u) { psb::putBe16(u, 0, 2); })},
        {"size past the data", Damaged([](psb::Bytes& u) { psb::putBe16(u, 0, uint16_t(u.size() + 1)); })},
        {"control offset past the end", Damaged([](psb::Bytes& u) { psb::putBe16(u, 2, uint16_t(u.size() - 2)); })},
        {"loop in the chain", Damaged([&](psb::Bytes& u) {
             const size_t second = psb::readBe16(u, sequence + 2);
             psb::putBe16(u, second + 2, uint16_t(sequence)); // the last sequence points back
         })},
        {"field offset past the end", Damaged([&](psb::Bytes& u) { psb::putBe16(u, u.size() - 12, 0xFFF0); })},
        {"run past the line", Damaged([](psb::Bytes& u) { u[4] = 0x03; u[5] = 0xFC; })}, // 255 pixels of 40
        {"command cut off", Damaged([](psb::Bytes& u) { u.resize(u.size() - 9); psb::putBe16(u, 0, uint16_t(u.size())); })},
        {"huge HD DVD size", psb::Bytes{0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 10, 0, 0}},
        {"8-bit area without palette", psb::Bytes{0, 0, 0, 0, 0, 27, 0, 0, 0, 10, 0, 0, 0, 0, 0, 10, 0x85, 0, 0, 0, 0, 0,
                                                  0, 0x86, 0, 0, 0, 10, 0, 0, 0, 10, 0x01, 0xFF}},
    };
    for (const auto& [what, unit] : broken) {
        DecodedUnit decoded;
        // A copy exactly as long as the unit, so that the sanitizers catch a read past it.
        const std::vector<uint8_t> exact(unit.begin(), unit.end());
        EXPECT_NE(DecodeSubpictureUnit(exact, GreyPalette(), UnitDecoding::Bitmap, decoded), "") << what;
    }
    // Command 0x07 is passed over by its size; the unit decodes as before.
    psb::Bytes withChange = Damaged([](psb::Bytes&) {});
    const size_t start = psb::readBe16(withChange, 2) + 4;
    withChange.insert(withChange.begin() + std::ptrdiff_t(start), {0x07, 0x00, 0x04, 0xAA, 0xBB});
    psb::putBe16(withChange, 0, uint16_t(withChange.size()));
    psb::putBe16(withChange, start - 2, uint16_t(psb::readBe16(withChange, start - 2) + 5));
    const size_t last = psb::readBe16(withChange, start - 2);
    psb::putBe16(withChange, last + 2, uint16_t(last));
    EXPECT_EQ(Decoded(withChange).pixels, psb::Bitmap::testPattern(40, 10).pixels);
}

// --- PGS --------------------------------------------------------------------------------

// A bitmap coded run by run, each pixel a run of its own: the coder must join them.
std::vector<uint8_t> PgsCoded(const std::vector<uint8_t>& pixels, int width) {
    PgsRunCoder coder;
    for (size_t i = 0; i < pixels.size(); ++i) {
        coder.run(pixels[i], 1);
        if ((i + 1) % size_t(width) == 0)
            coder.endLine();
    }
    return {coder.coded().begin(), coder.coded().end()};
}

TEST(PgsWriting, ShowAndClearSetsReadBackToTheCaptionAndLargeObjectsSplit) {
    PgsCaption caption;
    caption.x = 10;
    caption.y = 20;
    caption.width = 1500;
    caption.height = 300;
    caption.forced = true;
    std::vector<uint8_t> pixels(size_t(caption.width * caption.height));
    uint32_t seed = 1;
    for (size_t i = 0; i < pixels.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        // Runs of every coded length and colour 0 among others: noise, long runs, transparency.
        pixels[i] = (i / 1500) % 7 == 0 ? 0 : (i / 1500) % 7 == 1 ? 255 : (i % 97 < 80 ? uint8_t(seed >> 24) : 3);
    }
    const std::vector<uint8_t> object = PgsCoded(pixels, caption.width);
    caption.object = object;
    caption.palette = {{3, {100, 110, 120, 255}}, {255, {16, 128, 128, 0}}};
    PgsWriter writer(1920, 1080);
    std::vector<uint8_t> out;
    writer.show(out, 90000, caption);
    writer.clear(out, 180000);
    const auto sets = ReadPgs(out);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].pts, 90000u);
    EXPECT_EQ(sets[0].state, 0x80);
    EXPECT_EQ(std::tuple(sets[0].canvasWidth, sets[0].canvasHeight), std::tuple(1920, 1080));
    EXPECT_EQ(std::tuple(sets[0].x, sets[0].y, sets[0].width, sets[0].height), std::tuple(10, 20, 1500, 300));
    EXPECT_TRUE(sets[0].forced);
    EXPECT_GT(sets[0].odsSegments, 2);
    EXPECT_TRUE(sets[0].pixels == pixels);
    EXPECT_EQ(sets[0].palette.at(3).cb, 120);
    EXPECT_EQ(sets[0].palette.at(255).alpha, 0);
    EXPECT_EQ(sets[1].pts, 180000u);
    EXPECT_EQ(sets[1].objects, 0);
}

TEST(PgsWriting, RunsLongerThanACodeCanHoldAreSplit) {
    // 20000 pixels of colour 0: 16383 and 3617. 16384 of colour 7 given in two runs:
    // 16383, and the last pixel as itself.
    PgsRunCoder coder;
    coder.run(0, 20000);
    coder.run(7, 16000);
    coder.run(7, 384);
    coder.endLine();
    const std::vector<uint8_t> coded(coder.coded().begin(), coder.coded().end());
    EXPECT_EQ(coded, (std::vector<uint8_t>{0x00, 0x7F, 0xFF, 0x00, 0x4E, 0x21, 0x00, 0xFF, 0xFF, 7, 7, 0x00, 0x00}));
}

// --- IFO palettes -------------------------------------------------------------------------

std::array<psb::YCrCb, 16> Colours(uint8_t base) {
    std::array<psb::YCrCb, 16> colours;
    for (size_t i = 0; i < 16; ++i)
        colours[i] = {uint8_t(base + i), uint8_t(120 + i), uint8_t(130 - i)};
    return colours;
}

TEST(IfoPalettes, TitleSetThenVideoManagerThenBackupsBesideAVob) {
    TempDir dir;
    const std::string vob = dir.file("VTS_03_1.VOB");
    psb::writeFile(vob, {});
    EXPECT_FALSE(FindVobPalette(vob));
    psb::writeFile(dir.file("video_ts.bup"), psb::dvdIfo(Colours(40), true));
    EXPECT_EQ(FindVobPalette(vob)->first[2].y, 42);
    psb::writeFile(dir.file("VTS_03_0.BUP"), psb::dvdIfo(Colours(60)));
    psb::writeFile(dir.file("VIDEO_TS.IFO"), psb::dvdIfo(Colours(80), true));
    EXPECT_EQ(FindVobPalette(vob)->second, dir.file("VIDEO_TS.IFO"));
    psb::writeFile(dir.file("VTS_03_0.IFO"), psb::dvdIfo(Colours(100)));
    const auto found = FindVobPalette(vob);
    EXPECT_EQ(found->second, dir.file("VTS_03_0.IFO"));
    EXPECT_EQ(found->first[15], (SubpictureColour{115, 135, 115, 255}));
    // Another title set's IFO does not serve; a file that is no IFO is an error by hand.
    EXPECT_TRUE(IfoFilesBeside(dir.file("VTS_04_1.VOB")).size() == 2u);
    psb::writeFile(dir.file("x.IFO"), psb::Bytes(100, 0));
    EXPECT_THROW(ReadIfoPalette(dir.file("x.IFO")), Error);
    psb::Bytes cut = psb::dvdIfo(Colours(1));
    cut.resize(2100);
    psb::writeFile(dir.file("cut.IFO"), cut);
    EXPECT_THROW(ReadIfoPalette(dir.file("cut.IFO")), Error);
}

TEST(IfoPalettes, Bt709KeepsGreysAndMovesColours) {
    EXPECT_EQ(Bt601ToBt709({180, 128, 128, 255}), (SubpictureColour{180, 128, 128, 255}));
    // BT.601 pure red (81, 240, 90) is BT.709's (63, 240, 102).
    const SubpictureColour red = Bt601ToBt709({81, 240, 90, 7});
    EXPECT_NEAR(red.y, 63, 1);
    EXPECT_NEAR(red.cr, 240, 1);
    EXPECT_NEAR(red.cb, 102, 1);
    EXPECT_EQ(red.alpha, 7);
}

// --- Conversions of "SP" files --------------------------------------------------------------

psb::Bytes Record(uint32_t pts, const psb::Bytes& unit) {
    psb::Bytes record{'S', 'P', uint8_t(pts), uint8_t(pts >> 8), uint8_t(pts >> 16), uint8_t(pts >> 24), 0, 0, 0, 0};
    record.insert(record.end(), unit.begin(), unit.end());
    return record;
}

struct Converted {
    PgsConversionResult result;
    std::vector<PgsSet> sets;
    std::vector<PgsSet> forcedSets;
    std::vector<std::string> log;
};

Converted Convert(const psb::Bytes& sup, PgsConversion conversion = {}) {
    TempDir dir;
    conversion.input = dir.file("in.sup");
    conversion.output = dir.file("out.sup");
    conversion.forcedOutput = dir.file("forced.sup");
    psb::writeFile(conversion.input, sup);
    Converted c;
    c.result = ConvertSupToPgs(conversion, [&](const std::string& line) { c.log.push_back(line); });
    c.sets = ReadPgs(ReadAll(conversion.output));
    if (fs::exists(conversion.forcedOutput))
        c.forcedSets = ReadPgs(ReadAll(conversion.forcedOutput));
    return c;
}

TEST(SupConversion, TimesCountFromTheFirstVideoFrameAndTheSecondFileIsShifted) {
    const psb::Bytes unit = psb::SubpictureUnit().startDelay(2048).duration(90000).build();
    PgsConversion conversion;
    conversion.timeline.earliestPts = 80000;   // the records count from here
    conversion.timeline.videoPts = 90000;      // the first video frame
    const psb::Bytes first = Cat({Record(100000, unit), Record(200000, unit)});
    conversion.timeline.secondFileOffset = first.size();
    conversion.timeline.secondFileShift = 500000 - 90000; // first file's end PTM - second file's start PTM
    // The second file's time stamps restart: its first unit is at its start PTM 90000.
    const Converted c = Convert(Cat({first, Record(90000 - 80000, unit)}), conversion);
    ASSERT_EQ(c.sets.size(), 6u);
    EXPECT_EQ(c.sets[0].pts, 100000u + 80000 - 90000 + 2048);
    EXPECT_EQ(c.sets[1].pts, 100000u + 80000 - 90000 + 88 * 1024);
    EXPECT_EQ(c.sets[2].pts, 200000u + 80000 - 90000 + 2048);
    EXPECT_EQ(c.sets[4].pts, 500000u - 90000 + 2048); // right after the first file's end
    EXPECT_EQ(c.sets[0].state, 0x80);
    EXPECT_EQ(c.sets[1].objects, 0);
    EXPECT_EQ(c.result.captions, 3u);
    EXPECT_EQ(std::tuple(c.result.width, c.result.height), std::tuple(720, 480));
}

TEST(SupConversion, CaptionsWithoutStopEndAtTheNextUnitOrAfterFiveSecondsAndOverlapsAreCut) {
    const psb::Bytes open = psb::SubpictureUnit().noStop().build();
    const psb::Bytes longOne = psb::SubpictureUnit().duration(10 * 90000).build();
    const Converted c = Convert(Cat({Record(0, open), Record(90000, longOne), Record(180000, open)}));
    ASSERT_EQ(c.sets.size(), 6u);
    EXPECT_EQ(c.sets[1].pts, 90000u);              // the next unit's start
    EXPECT_EQ(c.sets[3].pts, 180000u);             // cut where the next caption begins
    EXPECT_EQ(c.sets[5].pts, 180000u + 5 * 90000); // 5 seconds at most
    EXPECT_EQ(c.result.withoutStop, 2u);
    EXPECT_NE(std::find_if(c.log.begin(), c.log.end(),
                           [](const std::string& l) { return l.find("2 captions had no stop time") == 0; }),
              c.log.end());
}

TEST(SupConversion, ForcedCaptionsAmongNormalOnesGetAFileOfTheirOwn) {
    const psb::Bytes normal = psb::SubpictureUnit().build();
    const psb::Bytes forced = psb::SubpictureUnit().forced(true).build();
    const Converted mixed = Convert(Cat({Record(0, normal), Record(900000, forced), Record(1800000, normal)}));
    EXPECT_TRUE(mixed.result.forcedWritten);
    EXPECT_FALSE(mixed.result.allForced());
    ASSERT_EQ(mixed.sets.size(), 6u);
    EXPECT_TRUE(mixed.sets[2].forced);
    EXPECT_FALSE(mixed.sets[0].forced);
    ASSERT_EQ(mixed.forcedSets.size(), 2u);
    EXPECT_EQ(mixed.forcedSets[0].pts, 900000u);
    EXPECT_TRUE(mixed.forcedSets[0].forced);

    const Converted all = Convert(Cat({Record(0, forced), Record(900000, forced)}));
    EXPECT_FALSE(all.result.forcedWritten);
    EXPECT_TRUE(all.result.allForced());
    EXPECT_TRUE(all.forcedSets.empty());
}

TEST(SupConversion, BrokenUnitsArePassedOverOneWarningEachAndTheRestConverted) {
    const psb::Bytes good = psb::SubpictureUnit().duration(9000).build();
    psb::Bytes runsPastTheLine = good;
    runsPastTheLine[4] = 0x03; // a run of 255 pixels in a line of 64
    runsPastTheLine[5] = 0xFC;
    psb::Bytes loop = good;
    psb::putBe16(loop, psb::readBe16(loop, 2) + 2, 4);
    const Converted c = Convert(Cat({Record(1000, good), Record(2000, runsPastTheLine), Record(3000, loop),
                                     Record(4000, psb::Bytes{0x00, 0x01}), psb::Bytes{'x', 'y', 'z'},
                                     Record(90000, good)}));
    EXPECT_EQ(c.result.captions, 2u);
    // The unit too small to read and the bytes after it, up to the next record, are one.
    EXPECT_EQ(c.result.passedOver, 3u);
    size_t warnings = 0;
    for (const std::string& line : c.log)
        warnings += line.rfind("Subpicture unit at PTS ", 0) == 0;
    EXPECT_EQ(warnings, 3u);
    ASSERT_EQ(c.sets.size(), 4u);
    EXPECT_EQ(c.sets[2].pts, 90000u);
}

TEST(SupConversion, ColoursMapToPgsEntriesWithTransparencyOn255AndBt709FromSevenHundredTwentyLines) {
    DvdPalette palette = GreyPalette();
    palette[7] = {81, 240, 90, 255}; // red, BT.601
    PgsConversion conversion;
    conversion.palette = palette;
    const psb::Bytes unit =
        psb::SubpictureUnit().bitmap(psb::Bitmap::testPattern(30, 8)).colors(7, 7, 7, 0).contrast(15, 15, 15, 0).build();
    const Converted sd = Convert(Record(0, unit), conversion);
    ASSERT_FALSE(sd.sets.empty());
    EXPECT_EQ(sd.sets[0].palette.at(255).alpha, 0);
    EXPECT_EQ(sd.sets[0].palette.at(0).y, 81);
    EXPECT_EQ(sd.sets[0].pixels[0], 0);      // the frame, code 2: red
    EXPECT_EQ(sd.sets[0].pixels[30 + 1], 255); // inside, code 0: transparent
    EXPECT_FALSE(sd.result.greyPalette);
    conversion.canvas = std::pair{1280, 720};
    const Converted hd = Convert(Record(0, unit), conversion);
    EXPECT_NEAR(hd.sets[0].palette.at(0).y, 63, 1);
    // Without a palette: the grey one, and a line that says so.
    const Converted grey = Convert(Record(0, unit));
    EXPECT_TRUE(grey.result.greyPalette);
    EXPECT_EQ(grey.log[0].find("No palette for the 2-bit subpictures"), 0u);
}

TEST(SupConversion, CaptionsThatPassTheCanvasAreClippedAndHdDvdUnitsGetAnHdCanvas) {
    const psb::Bytes hd = psb::HdSubpictureUnit().bitmap(psb::Bitmap8::testPattern(300, 50)).position(1800, 1050).build();
    const Converted c = Convert(Record(0, hd));
    ASSERT_EQ(c.sets.size(), 2u);
    EXPECT_EQ(std::tuple(c.result.width, c.result.height), std::tuple(1920, 1080));
    EXPECT_EQ(std::tuple(c.sets[0].width, c.sets[0].height), std::tuple(120, 30));
    EXPECT_EQ(c.result.clipped, 1u);
    // A DVD caption below line 480 asks for a 576-line canvas.
    const Converted pal = Convert(Record(0, psb::SubpictureUnit().position(0, 520).build()));
    EXPECT_EQ(pal.result.height, 576);
}

// A colour as it shows: every transparent colour is the same.
using Shown = std::tuple<int, int, int, int>;
Shown ShownColour(uint8_t y, uint8_t cr, uint8_t cb, uint8_t alpha) {
    return alpha == 0 ? Shown{0, 0, 0, 0} : Shown{y, cr, cb, alpha};
}

// What a PGS display set shows at each pixel of the part of the canvas it covers.
std::vector<Shown> ShownColours(const PgsSet& set) {
    std::vector<Shown> colours;
    for (uint8_t entry : set.pixels) {
        const auto found = set.palette.find(entry);
        const PgsColour colour = found != set.palette.end() ? found->second : PgsColour{};
        colours.push_back(ShownColour(colour.y, colour.cr, colour.cb, colour.alpha));
    }
    return colours;
}

TEST(SupConversion, PgsPixelsShowTheUnitsBitmapInItsColoursWhereverTheCanvasCutsIt) {
    // Entries of one colour (which code as one run), several transparent ones, and more
    // colours than a 2-bit unit has; the caption cut by the canvas on the right and below.
    psb::HdSubpictureUnit builder;
    builder.bitmap(psb::Bitmap8::testPattern(300, 50)).position(1700, 1050);
    builder.colour(1, {100, 90, 80}, 255).colour(2, {100, 90, 80}, 255).colour(3, {30, 40, 50}, 0);
    builder.colour(10, {1, 2, 3}, 0).colour(11, {200, 100, 150}, 60);
    const psb::Bytes unit = builder.build();
    DecodedUnit decoded;
    ASSERT_EQ(DecodeSubpictureUnit(unit, GreyPalette(), UnitDecoding::Bitmap, decoded), "");
    for (auto [width, height] : {std::pair{1920, 1080}, {1920, 1200}, {1750, 1060}}) {
        PgsConversion conversion;
        conversion.canvas = std::pair{width, height};
        const Converted c = Convert(Record(0, unit), conversion);
        ASSERT_EQ(c.sets.size(), 2u);
        const int shownWidth = std::min(300, width - 1700), shownHeight = std::min(50, height - 1050);
        EXPECT_EQ(std::tuple(c.sets[0].x, c.sets[0].y, c.sets[0].width, c.sets[0].height),
                  std::tuple(1700, 1050, shownWidth, shownHeight));
        std::vector<Shown> expected;
        for (int y = 0; y < shownHeight; ++y)
            for (int x = 0; x < shownWidth; ++x) {
                const SubpictureColour colour = Bt601ToBt709(decoded.colours[decoded.pixels[size_t(y * 300 + x)]]);
                expected.push_back(ShownColour(colour.y, colour.cr, colour.cb, colour.alpha));
            }
        EXPECT_TRUE(ShownColours(c.sets[0]) == expected) << width << "x" << height;
        for (const auto& [entry, colour] : c.sets[0].palette)
            EXPECT_EQ(colour.alpha == 0, entry == PgsTransparentEntry) << int(entry);
    }
}

TEST(SupConversion, APictureTooLargeForAPgsObjectIsPassedOver) {
    // A 4096x4096 chequerboard of two colours codes to a byte a pixel, past the 24-bit
    // length of an object.
    psb::Bitmap8 board;
    board.width = board.height = 4096;
    board.pixels.resize(size_t(4096) * 4096);
    for (size_t i = 0; i < board.pixels.size(); ++i)
        board.pixels[i] = uint8_t(1 + (i + i / 4096) % 2);
    PgsConversion conversion;
    conversion.canvas = std::pair{4096, 4096};
    const psb::Bytes small = psb::HdSubpictureUnit().duration(9000).build();
    const Converted c = Convert(Cat({Record(0, psb::HdSubpictureUnit().bitmap(board).build()), Record(90000, small)}),
                                conversion);
    EXPECT_EQ(c.result.captions, 1u);
    EXPECT_EQ(c.result.passedOver, 1u);
    EXPECT_EQ(c.log[0], "Subpicture unit at PTS 00000000 passed over: its picture is too large for a PGS object");
}

TEST(SupReading, RecordsWithTwoUnitsAndBytesBetweenRecords) {
    const psb::Bytes a = psb::SubpictureUnit().build();
    const psb::Bytes b = psb::HdSubpictureUnit().build();
    const psb::Bytes file = Cat({Record(7, a), b, psb::Bytes{1, 2, 3}, Record(9, a)});
    SupReader reader(file);
    EXPECT_TRUE(reader.records());
    SupUnit unit;
    std::vector<std::tuple<uint32_t, size_t, bool>> seen;
    while (reader.next(unit))
        seen.emplace_back(unit.pts, unit.data.size(), unit.problem.empty());
    EXPECT_EQ(seen, (std::vector<std::tuple<uint32_t, size_t, bool>>{
                        {7, a.size(), true}, {7, b.size(), true}, {7, 0, false}, {9, a.size(), true}}));
    // A plain run of units, as a payload holds them.
    const psb::Bytes run = Cat({a, b});
    SupReader plain(run);
    EXPECT_FALSE(plain.records());
    ASSERT_TRUE(plain.next(unit));
    ASSERT_TRUE(plain.next(unit));
    EXPECT_EQ(unit.data.size(), b.size());
    EXPECT_FALSE(plain.next(unit));
}

// --- The engine's true first PTS ------------------------------------------------------------

TEST(TrueFirstPts, IsThePtsOfTheStreamsFirstHeaderThatHasOneWhateverTheLatchShows) {
    using psb::Pes;
    // An MPEG-2 slot latches CurrentPts as the start code is seen (0 after the audio
    // packet); an H.264 slot whose header has a PTS alone shows an earlier PTS+DTS.
    const psb::Bytes source = Cat({
        psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x80).pts(5000).payload(Filled(50, 1))),
        psb::packWith(Pes(psb::sid::kVideo).payload(Filled(50, 2))), // no PTS at all
        psb::packWith(Pes(psb::sid::kVideo).pts(7000).payload(Filled(50, 3))),
        psb::packWith(Pes(psb::sid::kVideoH264).pts(1000).dts(900).payload(Filled(50, 4))),
        psb::packWith(Pes(psb::sid::kVideoH264 + 1).pts(8000).payload(Filled(50, 5))),
        psb::packWith(Pes(psb::sid::kPrivateStream1).substream(0x21).pts(6000).payload(Filled(50, 6))),
    });
    for (ProcessMode mode : {ProcessMode::ReadAnalyse, ProcessMode::Demux}) {
        EngineRun run;
        run.source(source);
        demux(*run.state, run.ui, mode);
        const TrueFirstPtsTable& first = run.state->TrueFirstPts;
        EXPECT_EQ(first.Video[0], 7000u);
        EXPECT_EQ(first.Video[1], 8000u);
        EXPECT_EQ(first.Audio[0], 5000u);
        EXPECT_EQ(first.Subpicture[1], 6000u);
        EXPECT_FALSE(first.Audio[1]);
        if (mode == ProcessMode::ReadAnalyse) {
            EXPECT_EQ(run.ui.lines[4], "   First PTS = [re]00000000[/re]"); // the MPEG-2 latch
            EXPECT_TRUE(run.ui.has("   First PTS = [re]000003E8[/re]")); // the H.264 slot: 1000, not 8000
        }
    }
}

}  // namespace
}  // namespace halyard::test
