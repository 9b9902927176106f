#pragma once
// Subpicture units of DVD-Video and HD DVD, decoded into a bitmap with its colours,
// its place on the screen, its display times and its forced flag.
//
// A DVD unit (2-bit run-length coding):
//   SPDSZ(16) SP_DCSQTA(16) pixel data, then display control sequences:
//   SP_DCSQ_STM(16) SP_NXT_DCSQ_SA(16) commands ... CMD_END
// An HD DVD unit (2-bit and 8-bit run-length coding) begins with 0x0000:
//   0x0000 SPDSZ(32) SP_DCSQTA(32) pixel data, then sequences of
//   SP_DCSQ_STM(16) SP_NXT_DCSQ_SA(32) commands ... CMD_END
// The last sequence names itself as the next one. Offsets count from the unit's first
// byte; SP_DCSQ_STM counts units of 1024 ticks of 90 kHz after the unit's PTS.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace halyard {

// A colour as the disc formats code it: BT.601 Y'CbCr in studio range, and an
// opacity, 0 transparent to 255 opaque.
struct SubpictureColour {
    uint8_t y = 16;
    uint8_t cr = 128;
    uint8_t cb = 128;
    uint8_t alpha = 0;
    bool operator==(const SubpictureColour&) const = default;
};

// The 16 colours of a DVD program chain, which 2-bit units pick from (alpha unused).
using DvdPalette = std::array<SubpictureColour, 16>;

enum class UnitFormat : uint8_t {
    Dvd,   // 16-bit sizes and offsets
    HdDvd, // begins with 0x0000: 32-bit sizes and offsets
};

// The format of a unit by its first two bytes: 0x0000 begins an HD DVD unit.
UnitFormat UnitFormatOf(std::span<const uint8_t> unit);

// The size a unit declares (SPDSZ); 0 when its first bytes are cut off.
uint32_t DeclaredUnitSize(std::span<const uint8_t> unit);

inline constexpr uint32_t SpuTimeUnit = 1024; // 90 kHz ticks per SP_DCSQ_STM step

// Pixels of one colour code side by side on a line, as the run-length coding gives them.
struct PixelRun {
    uint16_t length = 0; // 1 to the area's width (4096 at most); 0 closes a line
    uint8_t code = 0;
};

// How much of a unit DecodeSubpictureUnit decodes.
enum class UnitDecoding : uint8_t {
    Controls, // the control sequences: the times, the forced flag, the area
    Runs,     // and the pixels as runs, with the colours
    Bitmap,   // and the pixels one by one as well
};

// What a unit says about its display, and its picture when it is decoded.
struct DecodedUnit {
    UnitFormat format = UnitFormat::Dvd;
    bool eightBit = false;     // 8-bit run-length coding (area command 0x85)
    bool shown = false;        // a start command (0x00 or 0x01) was found
    bool forced = false;       // started by 0x00, forced start display
    uint32_t firstDelay = 0;   // ticks: SP_DCSQ_STM of the first sequence
    uint32_t startDelay = 0;   // ticks after the PTS at which the unit is shown
    std::optional<uint32_t> stopDelay; // ticks after the PTS at which it ends
    bool hasPicture = false;   // an area and field offsets were given
    int x = 0;                 // area: left column, top line, size
    int y = 0;
    int width = 0;
    int height = 0;
    // With runs: the colours, 4 for a 2-bit unit (the codes background, pattern,
    // emphasis 1, emphasis 2), 256 for an 8-bit unit; the runs of every line from the
    // top down, those of a line adding up to width, then a run of length 0.
    std::vector<SubpictureColour> colours;
    std::span<const PixelRun> runs() const { return {runRoom.data(), runCount}; }
    // With a bitmap: one colour code per pixel as well, row by row.
    std::vector<uint8_t> pixels;

    // The runs and room for more, which the next unit decoded into this one takes over:
    // making room anew for every unit costs more than decoding it.
    std::vector<PixelRun> runRoom;
    size_t runCount = 0;
};

// Decodes one unit as far as `decoding` asks: the control sequences alone are enough
// to plan a conversion. Returns an empty string, or why the unit is broken: a size or
// an offset past its end, a loop in its control sequences, a command cut off,
// run-length data that runs past a line, the area or the unit, an 8-bit unit without a
// palette. Nothing outside unit is read. out keeps the room of its vectors from one
// unit to the next.
std::string DecodeSubpictureUnit(std::span<const uint8_t> unit, const DvdPalette& palette, UnitDecoding decoding,
                                 DecodedUnit& out);

} // namespace halyard
