#include "subtitles/SubpictureUnit.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace halyard {

namespace {

// Display control commands.
constexpr uint8_t ForcedStartDisplay = 0x00; // FSTA_DSP
constexpr uint8_t StartDisplay = 0x01;       // STA_DSP
constexpr uint8_t StopDisplay = 0x02;        // STP_DSP
constexpr uint8_t SetColour = 0x03;          // SET_COLOR: e2 e1 p b, 4 bits each
constexpr uint8_t SetContrast = 0x04;        // SET_CONTR: the same order, 0 transparent
constexpr uint8_t SetDisplayArea = 0x05;     // SET_DAREA: sx ex sy ey, 12 bits each
constexpr uint8_t SetFieldOffsets = 0x06;    // SET_DSPXA: top and bottom field, 16 bits each
constexpr uint8_t ChangeColourContrast = 0x07; // CHG_COLCON: a 16-bit size (itself included), then data
constexpr uint8_t SetPalette256 = 0x83;      // 256 x Y, Cr, Cb
constexpr uint8_t SetAlpha256 = 0x84;        // 256 x transparency, 0 opaque
constexpr uint8_t SetDisplayArea8Bit = 0x85; // as 0x05, and the pixels are 8-bit coded
constexpr uint8_t SetFieldOffsets32 = 0x86;  // top and bottom field, 32 bits each
constexpr uint8_t EndOfCommands = 0xFF;      // CMD_END

constexpr uint32_t DvdHeaderSize = 4;   // SPDSZ(16) SP_DCSQTA(16)
constexpr uint32_t HdDvdHeaderSize = 10; // 0x0000 SPDSZ(32) SP_DCSQTA(32)

uint32_t be16(std::span<const uint8_t> d, size_t at) { return uint32_t(d[at]) << 8 | d[at + 1]; }
uint32_t be32(std::span<const uint8_t> d, size_t at) { return be16(d, at) << 16 | be16(d, at + 2); }

// Everything a unit's control sequences set.
struct Controls {
    std::array<uint8_t, 4> colourIndex{0, 1, 2, 3}; // palette entry of codes b, p, e1, e2
    std::array<uint8_t, 4> contrast{0, 15, 15, 15}; // 0-15 of codes b, p, e1, e2
    std::optional<size_t> palette256;               // offset of the 768 palette bytes
    std::optional<size_t> alpha256;                 // offset of the 256 transparency bytes
    std::optional<uint32_t> topField;
    std::optional<uint32_t> bottomField;
    bool area = false;
};

// Reads bits most significant first from a unit: a look at the next 57 bits or more,
// then a step over those that were used. Bits past the end read as zeros, and a step
// past the end is an overrun.
class UnitBits {
public:
    UnitBits(std::span<const uint8_t> unit, size_t from) : data_(unit.data()), size_(unit.size()), bit_(from * 8) {}

    uint64_t peek() const {
        const size_t byte = bit_ >> 3;
        uint64_t word = 0;
        if (byte + 8 <= size_) {
            std::memcpy(&word, data_ + byte, 8);
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
        } else {
            for (size_t i = 0; byte + i < size_ && i < 8; ++i)
                word |= uint64_t(data_[byte + i]) << (56 - 8 * i);
        }
        return word << (bit_ & 7);
    }
    void skip(unsigned count) { bit_ += count; }
    void alignToByte() { bit_ = (bit_ + 7) & ~size_t(7); }
    bool overrun() const { return bit_ > size_ * 8; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t bit_;
};

constexpr int RestOfLine = INT_MAX;

// 2-bit coding: 1, 2, 3 or 4 nibbles n...n cc. 1-3 pixels in one nibble, 4-15 in two,
// 16-63 in three, 64-255 in four; four nibbles below 4 fill the rest of the line. The
// number of nibbles follows from the leading zero bits: fewer than 2, 4, 6, or more.
int runOf2Bit(UnitBits& bits, uint8_t& code) {
    const auto next16 = uint16_t(bits.peek() >> 48);
    const int nibbles = std::min(std::countl_zero(next16) / 2 + 1, 4);
    const uint32_t value = uint32_t(next16) >> (16 - 4 * nibbles);
    bits.skip(unsigned(4 * nibbles));
    code = uint8_t(value & 3);
    return value < 4 ? RestOfLine : int(value >> 2);
}

// 8-bit coding: run flag, colour size flag, colour (2 or 8 bits), then for a run a
// length flag and the length: 0 + 3 bits for 2-9 pixels, 1 + 7 bits for 10-136, and
// 1 + 0000000 for the rest of the line. Without the run flag one pixel.
int runOf8Bit(UnitBits& bits, uint8_t& code) {
    const uint64_t next = bits.peek();
    const bool run = next >> 63;
    const bool wide = (next >> 62) & 1;
    code = uint8_t(wide ? (next >> 54) & 0xFF : (next >> 60) & 3);
    const unsigned used = wide ? 10 : 4;
    if (!run) {
        bits.skip(used);
        return 1;
    }
    const uint64_t length = next << used;
    if (length >> 63) {
        bits.skip(used + 8);
        const int length7 = int((length >> 56) & 0x7F);
        return length7 == 0 ? RestOfLine : length7 + 9;
    }
    bits.skip(used + 4);
    return int((length >> 60) & 7) + 2;
}

// One line of runs, which ends on a byte boundary, closed by a run of length 0, into
// `to`, which has room for width + 1 runs. Returns the end of the runs written, or
// nullptr and the problem. The reader and the runs stay in registers.
template <bool EightBit>
PixelRun* decodeLine(UnitBits& bits, int width, PixelRun* to, const char*& problem) {
    UnitBits local = bits;
    int x = 0;
    while (x < width) {
        uint8_t code = 0;
        int run = EightBit ? runOf8Bit(local, code) : runOf2Bit(local, code);
        if (local.overrun()) {
            problem = "its pixel data runs past the end of the unit";
            return nullptr;
        }
        if (run == RestOfLine) {
            run = width - x;
        } else if (run > width - x) {
            problem = "a run of its pixel data passes the end of a line";
            return nullptr;
        }
        *to++ = {uint16_t(run), code};
        x += run;
    }
    *to++ = {0, 0};
    local.alignToByte();
    bits = local;
    return to;
}

std::string readControls(std::span<const uint8_t> unit, UnitFormat format, DecodedUnit& out, Controls& controls) {
    const bool hd = format == UnitFormat::HdDvd;
    const size_t offsetSize = hd ? 4 : 2;
    const size_t size = unit.size();
    size_t sequence = hd ? be32(unit, 6) : be16(unit, 2);
    bool first = true;
    for (;;) {
        if (sequence < (hd ? HdDvdHeaderSize : DvdHeaderSize) || sequence + 2 + offsetSize > size)
            return "a control sequence lies outside the unit";
        const uint32_t delay = be16(unit, sequence) * SpuTimeUnit;
        const size_t next = hd ? be32(unit, sequence + 2) : be16(unit, sequence + 2);
        if (first)
            out.firstDelay = delay;
        first = false;
        size_t at = sequence + 2 + offsetSize;
        auto take = [&](size_t count) {
            if (count > size - at)
                return false;
            at += count;
            return true;
        };
        bool ended = false;
        while (!ended && at < size) {
            const uint8_t command = unit[at++];
            const size_t parameters = at;
            switch (command) {
            case ForcedStartDisplay:
            case StartDisplay:
                if (!out.shown) {
                    out.shown = true;
                    out.forced = command == ForcedStartDisplay;
                    out.startDelay = delay;
                }
                break;
            case StopDisplay:
                if (out.shown && !out.stopDelay)
                    out.stopDelay = delay;
                break;
            case SetColour:
            case SetContrast: {
                if (!take(2))
                    return "a command runs past the end of the unit";
                auto& values = command == SetColour ? controls.colourIndex : controls.contrast;
                values[3] = unit[parameters] >> 4; // emphasis 2
                values[2] = unit[parameters] & 15; // emphasis 1
                values[1] = unit[parameters + 1] >> 4; // pattern
                values[0] = unit[parameters + 1] & 15; // background
                break;
            }
            case SetDisplayArea:
            case SetDisplayArea8Bit: {
                if (!take(6))
                    return "a command runs past the end of the unit";
                const int sx = int(unit[parameters] << 4 | unit[parameters + 1] >> 4);
                const int ex = int((unit[parameters + 1] & 15) << 8 | unit[parameters + 2]);
                const int sy = int(unit[parameters + 3] << 4 | unit[parameters + 4] >> 4);
                const int ey = int((unit[parameters + 4] & 15) << 8 | unit[parameters + 5]);
                out.x = sx;
                out.y = sy;
                out.width = ex - sx + 1;
                out.height = ey - sy + 1;
                out.eightBit = command == SetDisplayArea8Bit;
                controls.area = true;
                break;
            }
            case SetFieldOffsets:
                if (!take(4))
                    return "a command runs past the end of the unit";
                controls.topField = be16(unit, parameters);
                controls.bottomField = be16(unit, parameters + 2);
                break;
            case SetFieldOffsets32:
                if (!take(8))
                    return "a command runs past the end of the unit";
                controls.topField = be32(unit, parameters);
                controls.bottomField = be32(unit, parameters + 4);
                break;
            case ChangeColourContrast: {
                if (!take(2))
                    return "a command runs past the end of the unit";
                const size_t length = be16(unit, parameters);
                if (length < 2 || !take(length - 2))
                    return "a command runs past the end of the unit";
                break;
            }
            case SetPalette256:
                if (!take(768))
                    return "a command runs past the end of the unit";
                controls.palette256 = parameters;
                break;
            case SetAlpha256:
                if (!take(256))
                    return "a command runs past the end of the unit";
                controls.alpha256 = parameters;
                break;
            case EndOfCommands:
            default: // a command of unknown length ends the sequence
                ended = true;
                break;
            }
        }
        if (next == sequence)
            return "";
        if (next < sequence)
            return "its control sequences loop";
        sequence = next;
    }
}

// The lines of both fields in display order: the top field holds lines 0, 2, 4 ...,
// the bottom field lines 1, 3, 5 ... Each line is written into room made beforehand.
std::string decodeRuns(std::span<const uint8_t> unit, const Controls& controls, DecodedUnit& out) {
    UnitBits fields[2] = {UnitBits(unit, *controls.topField), UnitBits(unit, *controls.bottomField)};
    std::vector<PixelRun>& room = out.runRoom;
    size_t count = 0;
    const char* problem = nullptr;
    for (int line = 0; line < out.height; ++line) {
        const size_t needed = count + size_t(out.width) + 1;
        if (room.size() < needed)
            room.resize(std::max(needed, 2 * room.size()));
        PixelRun* to = room.data() + count;
        PixelRun* end = out.eightBit ? decodeLine<true>(fields[line % 2], out.width, to, problem)
                                     : decodeLine<false>(fields[line % 2], out.width, to, problem);
        if (!end)
            return problem;
        count = size_t(end - room.data());
    }
    out.runCount = count;
    return "";
}

void fillBitmap(DecodedUnit& out) {
    out.pixels.resize(size_t(out.width) * size_t(out.height));
    uint8_t* to = out.pixels.data();
    for (const PixelRun& run : out.runs()) {
        std::memset(to, run.code, run.length);
        to += run.length;
    }
}

std::string decodePicture(std::span<const uint8_t> unit, const DvdPalette& palette, const Controls& controls,
                         UnitDecoding decoding, DecodedUnit& out) {
    if (out.width <= 0 || out.height <= 0)
        return "its display area is empty";
    const uint32_t top = *controls.topField;
    const uint32_t bottom = *controls.bottomField;
    // Every line takes at least one byte, so the lines of a field must fit in the rest of
    // the unit: this bounds the runs and the bitmap by the unit's size before anything
    // is allocated.
    const size_t size = unit.size();
    if (top >= size || bottom >= size || size_t(out.height + 1) / 2 > size - top || size_t(out.height) / 2 > size - bottom)
        return "its pixel data lies outside the unit";
    if (out.eightBit && !controls.palette256)
        return "its 8-bit pixels have no palette";
    std::string problem = decodeRuns(unit, controls, out);
    if (!problem.empty())
        return problem;
    if (decoding == UnitDecoding::Bitmap)
        fillBitmap(out);

    if (out.eightBit) {
        out.colours.resize(256);
        const size_t p = *controls.palette256;
        for (size_t i = 0; i < 256; ++i) {
            SubpictureColour& colour = out.colours[i];
            colour.y = unit[p + 3 * i];
            colour.cr = unit[p + 3 * i + 1];
            colour.cb = unit[p + 3 * i + 2];
            colour.alpha = controls.alpha256 ? uint8_t(255 - unit[*controls.alpha256 + i]) : 255;
        }
    } else {
        // 2-bit codes are 8-bit codes below 4 too, so an 8-bit unit needs no case here.
        out.colours.resize(4);
        for (size_t code = 0; code < 4; ++code) {
            out.colours[code] = palette[controls.colourIndex[code]];
            out.colours[code].alpha = uint8_t(controls.contrast[code] * 17);
        }
    }
    return "";
}

std::string decodeUnit(std::span<const uint8_t> unit, const DvdPalette& palette, UnitDecoding decoding,
                       DecodedUnit& out) {
    out.format = UnitFormatOf(unit);
    const uint32_t headerSize = out.format == UnitFormat::HdDvd ? HdDvdHeaderSize : DvdHeaderSize;
    const uint32_t declared = DeclaredUnitSize(unit);
    if (declared < headerSize || unit.size() < headerSize)
        return "its size is too small";
    if (declared > unit.size())
        return "its size runs past the end of its data";
    unit = unit.first(declared);

    Controls controls;
    std::string problem = readControls(unit, out.format, out, controls);
    if (!problem.empty())
        return problem;
    out.hasPicture = controls.area && controls.topField && controls.bottomField;
    if (decoding == UnitDecoding::Controls || !out.hasPicture)
        return "";
    return decodePicture(unit, palette, controls, decoding, out);
}

} // namespace

UnitFormat UnitFormatOf(std::span<const uint8_t> unit) {
    return unit.size() >= 2 && unit[0] == 0 && unit[1] == 0 ? UnitFormat::HdDvd : UnitFormat::Dvd;
}

uint32_t DeclaredUnitSize(std::span<const uint8_t> unit) {
    if (UnitFormatOf(unit) == UnitFormat::HdDvd)
        return unit.size() >= 6 ? be32(unit, 2) : 0;
    return unit.size() >= 2 ? be16(unit, 0) : 0;
}

std::string DecodeSubpictureUnit(std::span<const uint8_t> unit, const DvdPalette& palette, UnitDecoding decoding,
                                 DecodedUnit& out) {
    // Everything but the room of the vectors.
    std::vector<SubpictureColour> colours = std::move(out.colours);
    std::vector<uint8_t> pixels = std::move(out.pixels);
    std::vector<PixelRun> runRoom = std::move(out.runRoom);
    out = DecodedUnit{};
    out.colours = std::move(colours);
    out.pixels = std::move(pixels);
    out.runRoom = std::move(runRoom);
    out.colours.clear();
    out.pixels.clear();
    return decodeUnit(unit, palette, decoding, out);
}

} // namespace halyard
