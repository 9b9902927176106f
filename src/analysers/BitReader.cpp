#include "analysers/BitReader.h"

namespace halyard {

BitReader::BitReader(const uint8_t* buffer, int64_t validLength, int64_t position)
    : buffer_(buffer), length_(validLength < 0 ? 0 : validLength), bit_((position - 4) * 8) {}

uint8_t BitReader::byteAt(int64_t index) const {
    return (index >= 0 && index < length_) ? buffer_[index] : 0;
}

uint64_t BitReader::peek64() const {
    int64_t first = bit_ >> 3;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | byteAt(first + i);
    return value;
}

void BitReader::LoadWord() {
    bit_ = ((bit_ >> 3) + 4) * 8;
}

uint32_t BitReader::accumulator() const {
    uint32_t shift = consumed();
    uint32_t next = static_cast<uint32_t>(peek64() >> (32 - shift));
    // The low `consumed` bits have not been filled yet.
    return shift == 0 ? next : (next >> shift) << shift;
}

void BitReader::SkipBits(uint32_t n) {
    bit_ += n;
}

uint32_t BitReader::ReadBits(uint32_t n) {
    if (n == 0)
        return 0;
    if (n > 32)
        n = 32;
    uint64_t window = peek64() << consumed();
    uint32_t value = static_cast<uint32_t>(window >> (64 - n));
    if (bit_ + n > length_ * 8)
        overrun_ = true;
    bit_ += n;
    return value;
}

int32_t BitReader::ReadUE() {
    uint32_t zeros = 0;
    while (ReadBits(1) == 0) {
        if (++zeros == 32) {
            overrun_ = true;
            return 0;
        }
    }
    if (zeros == 0)
        return 0;
    uint64_t value = static_cast<uint64_t>(ReadBits(zeros)) + (uint64_t{1} << zeros) - 1;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t BitReader::ReadSE() {
    int64_t k = static_cast<uint32_t>(ReadUE());
    int64_t m = (k + 1) / 2;
    return static_cast<int32_t>((k & 1) ? m : -m);
}

void BitReader::FindStartCode(uint32_t code, int64_t limit) {
    FindStartCode(code, code, limit);
}

void BitReader::FindStartCode(uint32_t code, uint32_t code2, int64_t limit) {
    while (position() < limit) {
        uint32_t window = accumulator();
        if (window == code || window == code2)
            break;
        SkipBits(8);
    }
    SkipBits(32);
}

} // namespace halyard
