// The bit reader over a block: values at any alignment, exp-Golomb codes, the bounds.
#include <gtest/gtest.h>

#include <random>

#include "BitWriter.h"
#include "analysers/BitReader.h"
#include "analysers/NumberFormat.h"

namespace halyard {
namespace {

BitReader startAt(const std::vector<uint8_t>& bytes, int64_t at = 0) {
    BitReader reader(bytes.data(), int64_t(bytes.size()), at);
    reader.LoadWord();
    return reader;
}

TEST(BitReader, LoadWordSkipAndReadPositions) {
    std::vector<uint8_t> bytes = {0xAA, 0x00, 0x00, 0x01, 0x0F, 0x12, 0x34, 0x56, 0x78, 0x9A};
    BitReader reader = startAt(bytes, 1);
    EXPECT_EQ(reader.accumulator(), 0x0000010Fu);
    EXPECT_EQ(reader.position(), 5);
    reader.SkipBits(0);
    EXPECT_EQ(reader.accumulator(), 0x0000010Fu);
    reader.SkipBits(8);
    EXPECT_EQ(reader.accumulator(), 0x00010F12u);
    EXPECT_EQ(reader.position(), 6);

    BitReader fresh = startAt(bytes, 0);
    fresh.ReadBits(3);
    fresh.ReadBits(13);
    fresh.ReadBits(16);
    EXPECT_EQ(fresh.bitPosition(), 4 * 8);

    // 32 bits read 5 bits into the window take bits that follow the accumulator.
    BitReader odd = startAt(bytes, 4);
    odd.SkipBits(5);
    const uint64_t all = 0x0F123456789AULL; // bytes 4..9
    EXPECT_EQ(odd.ReadBits(32), uint32_t(all >> (48 - 5 - 32)));
    // The accumulator keeps zero bits where bytes have not been added yet.
    BitReader partial = startAt(bytes, 4);
    partial.SkipBits(3);
    EXPECT_EQ(partial.accumulator(), (0x0F123456u << 3));
}

std::vector<uint8_t> bitsOf(const std::string& bits) {
    psb::BitWriter writer;
    for (char bit : bits)
        writer.put(bit == '1', 1);
    writer.put(0xFFFFFFFF, 32); // what follows
    return writer.data();
}

TEST(BitReader, ExpGolombCodes) {
    const std::pair<const char*, int32_t> ue[] = {{"1", 0}, {"010", 1}, {"011", 2}, {"00100", 3}, {"0001000", 7}};
    for (auto [bits, value] : ue) {
        auto bytes = bitsOf(bits);
        BitReader reader = startAt(bytes);
        EXPECT_EQ(reader.ReadUE(), value) << bits;
        EXPECT_EQ(reader.bitPosition(), int64_t(std::string(bits).size())) << bits;
    }
    const std::pair<const char*, int32_t> se[] = {{"1", 0}, {"010", 1}, {"011", -1}, {"00100", 2}, {"00101", -2}};
    for (auto [bits, value] : se) {
        auto bytes = bitsOf(bits);
        BitReader reader = startAt(bytes);
        EXPECT_EQ(reader.ReadSE(), value) << bits;
    }
}

TEST(BitReader, NeverReadsPastTheValidBytes) {
    // Zeros past the end: ReadUE gives up after 32 zero bits instead of running on.
    std::vector<uint8_t> bytes(8, 0);
    BitReader reader = startAt(bytes, 6);
    EXPECT_EQ(reader.ReadBits(16), 0u);
    EXPECT_FALSE(reader.overrun());
    EXPECT_EQ(reader.ReadUE(), 0);
    EXPECT_TRUE(reader.overrun());
    EXPECT_EQ(reader.ReadBits(32), 0u);

    std::vector<uint8_t> ones = {0xFF, 0xFF};
    BitReader tail = startAt(ones, 0);
    EXPECT_EQ(tail.ReadBits(20), 0xFFFF0u);
    EXPECT_TRUE(tail.overrun());

    // A start code search that never meets its code stops at the limit.
    std::vector<uint8_t> data(100, 0x11);
    BitReader search = startAt(data, 10);
    search.FindStartCode(0x0000010F, 50);
    EXPECT_EQ(search.position(), 50 + 4);
}

TEST(BitReader, RandomFieldsReadBackAtEveryAlignment) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 200; ++round) {
        psb::BitWriter writer;
        std::vector<std::pair<uint32_t, unsigned>> fields;
        std::vector<int32_t> codes;
        for (int i = 0; i < 40; ++i) {
            unsigned width = 1 + random() % 32;
            uint32_t value = uint32_t(random()) & (width == 32 ? 0xFFFFFFFFu : ((1u << width) - 1));
            fields.emplace_back(value, width);
            writer.put(value, width);
            // ue(v) of a random value
            uint32_t code = random() % 100000;
            uint64_t plus = uint64_t(code) + 1;
            unsigned bits = 0;
            while ((plus >> bits) > 1)
                ++bits;
            writer.put(0, bits).put(plus, bits + 1);
            codes.push_back(int32_t(code));
        }
        const auto bytes = writer.data();
        BitReader reader = startAt(bytes);
        for (size_t i = 0; i < fields.size(); ++i) {
            ASSERT_EQ(reader.ReadBits(fields[i].second), fields[i].first) << "field " << i;
            ASSERT_EQ(reader.ReadUE(), codes[i]) << "code " << i;
        }
        EXPECT_FALSE(reader.overrun());
    }
}

TEST(NumberFormat, DecimalHexAndFractions) {
    EXPECT_EQ(Hex(0xBDD8, 8), "0000BDD8");
    EXPECT_EQ(Hex(0x5, 2), "05");
    EXPECT_EQ(Hex(0x1ABCDEF, 4), "1ABCDEF");
    EXPECT_EQ(Fraction(23.976023976023978), "23.976023976024");
    EXPECT_EQ(Fraction(25), "25");
    EXPECT_EQ(Fraction(44.1, ','), "44,1");
    EXPECT_EQ(Thousandths(24.08239965), "24.082");
    EXPECT_EQ(Thousandths(-24.28394), "-24.284");
}

} // namespace
} // namespace halyard
