#include "BitWriter.h"

#include <stdexcept>

namespace psb {

BitWriter& BitWriter::put(uint64_t value, unsigned bits) {
    if (bits > 64) throw std::invalid_argument("BitWriter::put: more than 64 bits");
    for (unsigned i = bits; i-- > 0;) {
        const unsigned bitInByte = bitCount_ % 8;
        if (bitInByte == 0) data_.push_back(0);
        if ((value >> i) & 1) data_.back() |= static_cast<uint8_t>(0x80u >> bitInByte);
        ++bitCount_;
    }
    return *this;
}

BitWriter& BitWriter::alignZero() {
    while (!aligned()) put(0, 1);
    return *this;
}

BitWriter& BitWriter::alignOneThenZero() {
    put(1, 1);
    return alignZero();
}

BitWriter& BitWriter::bytes(const Bytes& data) {
    if (aligned()) {
        data_.insert(data_.end(), data.begin(), data.end());
        bitCount_ += data.size() * 8;
    } else {
        for (uint8_t b : data) put(b, 8);
    }
    return *this;
}

}  // namespace psb
