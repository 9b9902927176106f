#pragma once
#include <cstdint>

namespace halyard {

// Most-significant-bit-first reader over the valid bytes of the current block.
//
// The reader keeps the model of a 32-bit accumulator over a byte position: after
// LoadWord the accumulator holds the four bytes before position(); each skipped bit
// shifts it left and bytes are added as room appears. Internally it is a bit index,
// from which the accumulator is formed on demand. Reads past the valid bytes yield
// zero bits, and a ReadBits that returns any of them sets overrun(); nothing outside the buffer is ever touched.
class BitReader {
public:
    BitReader(const uint8_t* buffer, int64_t validLength, int64_t position);

    // accumulator := the 4 bytes at position(), big-endian; position() += 4.
    void LoadWord();
    void SkipBits(uint32_t n);
    // The next n bits (1 to 32) as an unsigned number, first bit most significant.
    uint32_t ReadBits(uint32_t n);
    // ue(v) and se(v) of ISO/IEC 14496-10. A code with more than 31 leading zero
    // bits is malformed: its 32 zero bits are consumed, 0 is returned and
    // overrun() is set.
    int32_t ReadUE();
    int32_t ReadSE();
    // Slides the window byte by byte until the accumulator equals code (or code2)
    // or position() reaches limit, then skips the 32 bits of the window.
    void FindStartCode(uint32_t code, int64_t limit);
    void FindStartCode(uint32_t code, uint32_t code2, int64_t limit);

    // The 32-bit window: the next 32 - consumed() unread bits, then zero bits.
    uint32_t accumulator() const;
    // Index of the next byte to be added to the accumulator.
    int64_t position() const { return (bit_ >> 3) + 4; }
    uint32_t consumed() const { return static_cast<uint32_t>(bit_ & 7); }
    // Absolute index of the next unread bit.
    int64_t bitPosition() const { return bit_; }
    bool overrun() const { return overrun_; }

private:
    uint8_t byteAt(int64_t index) const;
    uint64_t peek64() const; // 64 bits starting at the byte holding the read point

    const uint8_t* buffer_;
    int64_t length_;
    int64_t bit_;
    bool overrun_ = false;
};

} // namespace halyard
