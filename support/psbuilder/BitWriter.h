// Most-significant-bit-first bit writer for building headers field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace psb {

using Bytes = std::vector<uint8_t>;

class BitWriter {
public:
    // Appends the low `bits` bits of `value`, most significant first (bits <= 64).
    BitWriter& put(uint64_t value, unsigned bits);
    BitWriter& flag(bool value) { return put(value ? 1 : 0, 1); }
    BitWriter& marker() { return put(1, 1); }
    // Appends zero bits up to the next byte boundary.
    BitWriter& alignZero();
    // Appends a one bit and then zero bits up to the next byte boundary
    // (the flushing pattern of VC-1 headers).
    BitWriter& alignOneThenZero();
    BitWriter& bytes(const Bytes& data);

    bool aligned() const { return bitCount_ % 8 == 0; }
    std::size_t bitCount() const { return bitCount_; }
    // The bytes written so far; a partial last byte is padded with zero bits.
    const Bytes& data() const { return data_; }

private:
    Bytes data_;
    std::size_t bitCount_ = 0;
};

}  // namespace psb
