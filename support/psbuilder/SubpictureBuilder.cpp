#include "SubpictureBuilder.h"

#include <stdexcept>
#include <string>

#include "PsBuilder.h"

namespace psb {

namespace {

constexpr std::size_t kUnitHeaderSize = 4;  // SPDSZ, SP_DCSQTA
constexpr int kMaxCodedRun = 255;

void appendRun(BitWriter& w, int length, uint8_t code, bool toLineEnd) {
    if (toLineEnd) {
        w.put(0, 14).put(code, 2);
    } else if (length < 4) {
        w.put(static_cast<uint64_t>(length), 2).put(code, 2);
    } else if (length < 16) {
        w.put(0, 2).put(static_cast<uint64_t>(length), 4).put(code, 2);
    } else if (length < 64) {
        w.put(0, 4).put(static_cast<uint64_t>(length), 6).put(code, 2);
    } else {
        w.put(0, 6).put(static_cast<uint64_t>(length), 8).put(code, 2);
    }
}

void appendBe16(Bytes& out, uint64_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

Bitmap Bitmap::testPattern(int width, int height) {
    Bitmap b;
    b.width = width;
    b.height = height;
    b.pixels.assign(static_cast<std::size_t>(width * height), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t code = 0;
            const bool border = y == 0 || y == height - 1 || x == 0 || x == width - 1;
            if (border) code = 2;
            else if (y >= 2 && y < height - 2 && x >= 2 && x < width - 2)
                code = ((x / 7 + y / 3) % 3 == 0) ? 3 : 1;
            b.pixels[static_cast<std::size_t>(y * width + x)] = code;
        }
    }
    return b;
}

Bytes encodeRleLine(const Bitmap& bitmap, int y) {
    BitWriter w;
    int x = 0;
    while (x < bitmap.width) {
        const uint8_t code = bitmap.at(x, y);
        int run = 1;
        while (x + run < bitmap.width && bitmap.at(x + run, y) == code) ++run;
        const bool toLineEnd = x + run == bitmap.width && run > 3;
        if (!toLineEnd && run > kMaxCodedRun) run = kMaxCodedRun;
        appendRun(w, run, code, toLineEnd);
        x += run;
    }
    w.alignZero();
    return w.data();
}

SubpictureUnit& SubpictureUnit::bitmap(Bitmap value) { bitmap_ = std::move(value); return *this; }
SubpictureUnit& SubpictureUnit::position(int x, int y) { x_ = x; y_ = y; return *this; }
SubpictureUnit& SubpictureUnit::duration(uint64_t ticks) { duration_ = ticks; return *this; }
SubpictureUnit& SubpictureUnit::forced(bool value) { forced_ = value; return *this; }
SubpictureUnit& SubpictureUnit::noStop() { stop_ = false; return *this; }
SubpictureUnit& SubpictureUnit::startDelay(uint64_t ticks) { startDelay_ = ticks; return *this; }

SubpictureUnit& SubpictureUnit::colors(uint8_t e2, uint8_t e1, uint8_t p, uint8_t b) {
    colors_[0] = e2; colors_[1] = e1; colors_[2] = p; colors_[3] = b;
    return *this;
}

SubpictureUnit& SubpictureUnit::contrast(uint8_t e2, uint8_t e1, uint8_t p, uint8_t b) {
    contrast_[0] = e2; contrast_[1] = e1; contrast_[2] = p; contrast_[3] = b;
    return *this;
}

Bytes SubpictureUnit::build() const {
    if (bitmap_.width <= 0 || bitmap_.height <= 0) throw std::invalid_argument("SubpictureUnit: empty bitmap");
    Bytes pixels;
    for (int field = 0; field < 2; ++field) {
        for (int y = field; y < bitmap_.height; y += 2) {
            const Bytes line = encodeRleLine(bitmap_, y);
            pixels.insert(pixels.end(), line.begin(), line.end());
        }
    }
    std::size_t topSize = 0;
    for (int y = 0; y < bitmap_.height; y += 2) topSize += encodeRleLine(bitmap_, y).size();
    const std::size_t topOffset = kUnitHeaderSize;
    const std::size_t bottomOffset = topOffset + topSize;
    const std::size_t firstSequence = kUnitHeaderSize + pixels.size();

    // First sequence, at once: colours, contrast, area, field addresses, start.
    Bytes start;
    start.push_back(spucmd::kSetColor);
    start.push_back(static_cast<uint8_t>((colors_[0] << 4) | (colors_[1] & 0x0F)));
    start.push_back(static_cast<uint8_t>((colors_[2] << 4) | (colors_[3] & 0x0F)));
    start.push_back(spucmd::kSetContrast);
    start.push_back(static_cast<uint8_t>((contrast_[0] << 4) | (contrast_[1] & 0x0F)));
    start.push_back(static_cast<uint8_t>((contrast_[2] << 4) | (contrast_[3] & 0x0F)));
    BitWriter area;
    area.put(spucmd::kSetDisplayArea, 8);
    area.put(static_cast<uint64_t>(x_), 12).put(static_cast<uint64_t>(x_ + bitmap_.width - 1), 12);
    area.put(static_cast<uint64_t>(y_), 12).put(static_cast<uint64_t>(y_ + bitmap_.height - 1), 12);
    start.insert(start.end(), area.data().begin(), area.data().end());
    start.push_back(spucmd::kSetPixelAddresses);
    appendBe16(start, topOffset);
    appendBe16(start, bottomOffset);
    start.push_back(forced_ ? spucmd::kForcedStartDisplay : spucmd::kStartDisplay);
    start.push_back(spucmd::kEnd);

    const std::size_t secondSequence = stop_ ? firstSequence + 4 + start.size() : firstSequence;
    const std::size_t total = stop_ ? secondSequence + 4 + 2 : firstSequence + 4 + start.size();
    if (total > 0xFFFF) throw std::length_error("SubpictureUnit: over 65535 bytes");

    Bytes out;
    out.reserve(total);
    appendBe16(out, total);           // SPDSZ
    appendBe16(out, firstSequence);   // SP_DCSQTA
    out.insert(out.end(), pixels.begin(), pixels.end());
    appendBe16(out, (startDelay_ + kSpuTimeUnit / 2) / kSpuTimeUnit);  // SP_DCSQ_STM
    appendBe16(out, secondSequence);  // SP_NXT_DCSQ_SA
    out.insert(out.end(), start.begin(), start.end());
    if (!stop_) return out;
    appendBe16(out, (duration_ + kSpuTimeUnit / 2) / kSpuTimeUnit);  // stop delay
    appendBe16(out, secondSequence);  // last sequence points at itself
    out.push_back(spucmd::kStopDisplay);
    out.push_back(spucmd::kEnd);
    return out;
}

namespace {

void appendBe32(Bytes& out, uint64_t value) {
    appendBe16(out, value >> 16);
    appendBe16(out, value & 0xFFFF);
}

void appendRun8(BitWriter& w, int length, uint8_t colour, bool toLineEnd) {
    const bool wide = colour >= 4;
    auto putColour = [&] { w.flag(wide).put(colour, wide ? 8 : 2); };
    if (length == 1 && !toLineEnd) {
        w.put(0, 1);
        putColour();
        return;
    }
    w.put(1, 1);
    putColour();
    if (toLineEnd) {
        w.put(1, 1).put(0, 7);
    } else if (length <= 9) {
        w.put(0, 1).put(static_cast<uint64_t>(length - 2), 3);
    } else {
        w.put(1, 1).put(static_cast<uint64_t>(length - 9), 7);
    }
}

}  // namespace

Bitmap8 Bitmap8::testPattern(int width, int height) {
    Bitmap8 b;
    b.width = width;
    b.height = height;
    b.pixels.assign(static_cast<std::size_t>(width * height), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t entry = 0;
            if (y == 0 || y == height - 1 || x == 0 || x == width - 1) entry = 200;
            else if (y >= 3 && y < height - 3 && x >= 3 && x < width - 3)
                entry = static_cast<uint8_t>(((x / 11) + (y / 5)) % 6 == 0 ? 1 + (x / 23) % 3 : 10 + (x * 7 + y) % 140 / 20);
            b.pixels[static_cast<std::size_t>(y * width + x)] = entry;
        }
    }
    return b;
}

Bytes encodeRleLine8(const Bitmap8& bitmap, int y) {
    BitWriter w;
    int x = 0;
    while (x < bitmap.width) {
        const uint8_t colour = bitmap.at(x, y);
        int run = 1;
        while (x + run < bitmap.width && bitmap.at(x + run, y) == colour) ++run;
        const bool toLineEnd = x + run == bitmap.width && run > 1;
        if (!toLineEnd && run > 136) run = 136;
        appendRun8(w, run, colour, toLineEnd);
        x += run;
    }
    w.alignZero();
    return w.data();
}

HdSubpictureUnit::HdSubpictureUnit() {
    // Entry 0 transparent; the others a spread of colours, opaque.
    for (int i = 1; i < 256; ++i) {
        palette_[static_cast<std::size_t>(i)] = {static_cast<uint8_t>(16 + (i * 37) % 220),
                                                 static_cast<uint8_t>(64 + (i * 53) % 128),
                                                 static_cast<uint8_t>(64 + (i * 91) % 128)};
        alpha_[static_cast<std::size_t>(i)] = 255;
    }
}

HdSubpictureUnit& HdSubpictureUnit::bitmap(Bitmap8 value) { bitmap_ = std::move(value); return *this; }
HdSubpictureUnit& HdSubpictureUnit::position(int x, int y) { x_ = x; y_ = y; return *this; }
HdSubpictureUnit& HdSubpictureUnit::duration(uint64_t ticks) { duration_ = ticks; return *this; }
HdSubpictureUnit& HdSubpictureUnit::forced(bool value) { forced_ = value; return *this; }
HdSubpictureUnit& HdSubpictureUnit::colour(uint8_t entry, YCrCb value, uint8_t alpha) {
    palette_[entry] = value;
    alpha_[entry] = alpha;
    return *this;
}

Bytes HdSubpictureUnit::build() const {
    if (bitmap_.width <= 0 || bitmap_.height <= 0) throw std::invalid_argument("HdSubpictureUnit: empty bitmap");
    constexpr std::size_t kHeaderSize = 10;
    Bytes top, bottom;
    for (int y = 0; y < bitmap_.height; ++y) {
        const Bytes line = encodeRleLine8(bitmap_, y);
        Bytes& field = y % 2 == 0 ? top : bottom;
        field.insert(field.end(), line.begin(), line.end());
    }
    const std::size_t firstSequence = kHeaderSize + top.size() + bottom.size();

    Bytes start;
    start.push_back(0x83);
    for (const YCrCb& c : palette_) start.insert(start.end(), {c.y, c.cr, c.cb});
    start.push_back(0x84);
    for (uint8_t a : alpha_) start.push_back(static_cast<uint8_t>(255 - a));
    BitWriter area;
    area.put(0x85, 8);
    area.put(static_cast<uint64_t>(x_), 12).put(static_cast<uint64_t>(x_ + bitmap_.width - 1), 12);
    area.put(static_cast<uint64_t>(y_), 12).put(static_cast<uint64_t>(y_ + bitmap_.height - 1), 12);
    start.insert(start.end(), area.data().begin(), area.data().end());
    start.push_back(0x86);
    appendBe32(start, kHeaderSize);
    appendBe32(start, kHeaderSize + top.size());
    start.push_back(forced_ ? spucmd::kForcedStartDisplay : spucmd::kStartDisplay);
    start.push_back(spucmd::kEnd);

    const std::size_t secondSequence = firstSequence + 6 + start.size();
    const std::size_t total = secondSequence + 6 + 2;
    Bytes out;
    out.reserve(total);
    appendBe16(out, 0);
    appendBe32(out, total);
    appendBe32(out, firstSequence);
    out.insert(out.end(), top.begin(), top.end());
    out.insert(out.end(), bottom.begin(), bottom.end());
    appendBe16(out, 0);
    appendBe32(out, secondSequence);
    out.insert(out.end(), start.begin(), start.end());
    appendBe16(out, (duration_ + kSpuTimeUnit / 2) / kSpuTimeUnit);
    appendBe32(out, secondSequence);
    out.push_back(spucmd::kStopDisplay);
    out.push_back(spucmd::kEnd);
    return out;
}

Bytes dvdIfo(const std::array<YCrCb, 16>& palette, bool videoManager) {
    Bytes ifo(3 * 2048, 0);
    const std::string id = videoManager ? "DVDVIDEO-VMG" : "DVDVIDEO-VTS";
    std::copy(id.begin(), id.end(), ifo.begin());
    std::size_t pgc = 0;
    if (videoManager) {
        pgc = 0x400;
        putBe32(ifo, 0x84, static_cast<uint32_t>(pgc));
    } else {
        const std::size_t table = 2048;  // sector 1
        putBe32(ifo, 0xCC, 1);
        putBe16(ifo, table, 1);                        // one program chain
        putBe32(ifo, table + 4, 16 + 0xEC - 1);        // last byte of the table
        putBe32(ifo, table + 8, 0x81000000);           // entry PGC, title 1
        putBe32(ifo, table + 12, 16);                  // its offset in the table
        pgc = table + 16;
    }
    for (std::size_t i = 0; i < palette.size(); ++i) {
        ifo[pgc + 0xA4 + 4 * i + 1] = palette[i].y;
        ifo[pgc + 0xA4 + 4 * i + 2] = palette[i].cr;
        ifo[pgc + 0xA4 + 4 * i + 3] = palette[i].cb;
    }
    return ifo;
}

}  // namespace psb
