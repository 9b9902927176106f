// libFuzzer target: the subpicture unit decoder and the unit reader over arbitrary bytes.
// The first input byte picks a palette and whether the bytes are one unit or a file of
// "SP" records; every unit is decoded twice, controls only and whole, and the two must
// agree on what the controls say; the runs of a whole unit fill its lines exactly.
// Nothing may be read outside the bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "subtitles/Palette.h"
#include "subtitles/SubpictureUnit.h"
#include "subtitles/SupReader.h"

namespace {

void decode(std::span<const uint8_t> unit, const halyard::DvdPalette& palette) {
    // A copy exactly as long as the unit, so that a read past it is caught.
    const std::vector<uint8_t> exact(unit.begin(), unit.end());
    halyard::DecodedUnit controls, whole;
    const std::string first = halyard::DecodeSubpictureUnit(exact, palette, halyard::UnitDecoding::Controls, controls);
    const std::string second = halyard::DecodeSubpictureUnit(exact, palette, halyard::UnitDecoding::Bitmap, whole);
    if (!first.empty() && first != second)
        std::abort(); // a unit whose controls are broken is broken whole, for the same reason
    if (first.empty() && (controls.shown != whole.shown || controls.startDelay != whole.startDelay ||
                          controls.stopDelay != whole.stopDelay || controls.forced != whole.forced))
        std::abort();
    if (second.empty() && whole.hasPicture &&
        (whole.pixels.size() != size_t(whole.width) * size_t(whole.height) ||
         whole.colours.size() != (whole.eightBit ? 256u : 4u)))
        std::abort();
    if (second.empty() && whole.hasPicture) {
        for (uint8_t pixel : whole.pixels)
            if (pixel >= whole.colours.size())
                std::abort();
        // Every line's runs fill it exactly, and a run of length 0 closes it.
        const std::span<const halyard::PixelRun> runs = whole.runs();
        size_t at = 0;
        for (int line = 0; line < whole.height; ++line) {
            int x = 0;
            while (x < whole.width && at < runs.size() && runs[at].length > 0)
                x += runs[at++].length;
            if (x != whole.width || at == runs.size() || runs[at++].length != 0)
                std::abort();
        }
        if (at != runs.size())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    halyard::DvdPalette palette = halyard::GreyPalette();
    if (control & 1)
        for (size_t i = 0; i < palette.size(); ++i)
            palette[i] = halyard::Bt601ToBt709({uint8_t(control * i), uint8_t(i * 16), uint8_t(255 - i), 255});
    if (control & 2) {
        halyard::SupReader reader(bytes);
        halyard::SupUnit unit;
        size_t units = 0;
        while (reader.next(unit)) {
            if (++units > bytes.size() + 1)
                std::abort(); // the reader must move on with every unit
            if (unit.problem.empty())
                decode(unit.data, palette);
        }
    } else {
        decode(bytes, palette);
    }
    return 0;
}
