#include "SubpictureBuilder.h"

#include <stdexcept>

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

    const std::size_t secondSequence = firstSequence + 4 + start.size();
    const std::size_t total = secondSequence + 4 + 2;
    if (total > 0xFFFF) throw std::length_error("SubpictureUnit: over 65535 bytes");

    Bytes out;
    out.reserve(total);
    appendBe16(out, total);           // SPDSZ
    appendBe16(out, firstSequence);   // SP_DCSQTA
    out.insert(out.end(), pixels.begin(), pixels.end());
    appendBe16(out, 0);               // SP_DCSQ_STM: at the PTS
    appendBe16(out, secondSequence);  // SP_NXT_DCSQ_SA
    out.insert(out.end(), start.begin(), start.end());
    appendBe16(out, (duration_ + kSpuTimeUnit / 2) / kSpuTimeUnit);  // stop delay
    appendBe16(out, secondSequence);  // last sequence points at itself
    out.push_back(spucmd::kStopDisplay);
    out.push_back(spucmd::kEnd);
    return out;
}

}  // namespace psb
