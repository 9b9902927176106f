// halyard-bench-pictures [FILE.m2v] [GiB]
//
// Times halyard::CountStartCodes the way the engine calls it: once per pack,
// on the 2,025 payload bytes of a video pack. The data is FILE (an MPEG-2
// elementary stream, up to 64 MiB of it) or, without FILE, 64 MiB of
// pseudo-random bytes laid out like coded MPEG-2 pictures: a picture start
// code every 40,000 bytes (8 Mbit/s at 25 pictures/s) and a slice start code
// every 1,300 bytes (30 slices a picture).
//
// Two figures, each over about GiB gibibytes (default 1):
//   memory: chunks taken in turn across the whole buffer, so the data comes from RAM
//   cache:  chunks of one 256 KiB block read again and again, as the engine
//           scans a block it has just read
// and, for scale, the speed of merely reading the same chunks (an xor of
// 64-bit words) from memory.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysers/PictureCounter.h"

namespace {

constexpr std::size_t kPackSize = 2048;
constexpr std::size_t kPayloadOffset = 23;   // pack header 14 + PES prefix 6 + 3 header bytes
constexpr std::size_t kPayloadSize = 2025;   // 2048 - 23
constexpr std::size_t kBlockSize = 262144;   // the reader's block
constexpr std::size_t kBufferSize = 64u << 20;
constexpr std::size_t kPictureSpacing = 40000;
constexpr std::size_t kSliceSpacing = 1300;
constexpr uint8_t kPictureStartCode = 0x00;
constexpr uint8_t kFirstSliceCode = 0x01;
constexpr uint8_t kLastSliceCode = 0xAF;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

void putStartCode(std::vector<uint8_t>& data, std::size_t at, uint8_t code) {
    data[at] = 0;
    data[at + 1] = 0;
    data[at + 2] = 1;
    data[at + 3] = code;
}

std::vector<uint8_t> syntheticVideo() {
    std::vector<uint8_t> data(kBufferSize);
    uint64_t state = 0x9E3779B97F4A7C15ull;  // xorshift64
    for (uint8_t& byte : data) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<uint8_t>(state >> 24);
    }
    for (std::size_t picture = 0; picture + kPictureSpacing <= data.size(); picture += kPictureSpacing) {
        putStartCode(data, picture, kPictureStartCode);
        uint8_t slice = kFirstSliceCode;
        for (std::size_t at = picture + 8; at + kSliceSpacing < picture + kPictureSpacing; at += kSliceSpacing) {
            putStartCode(data, at, slice);
            slice = slice == kLastSliceCode ? kFirstSliceCode : static_cast<uint8_t>(slice + 1);
        }
    }
    return data;
}

std::vector<uint8_t> readVideo(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot open ") + path);
    std::vector<uint8_t> data(kBufferSize);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(in.gcount()));
    // Whole blocks only.
    data.resize(data.size() / kBlockSize * kBlockSize);
    if (data.empty()) throw std::runtime_error(std::string(path) + " is shorter than one block");
    return data;
}

struct Result {
    double seconds = 0;
    uint64_t bytes = 0;
    uint64_t count = 0;
};

// Counts the payload of every pack of data[begin, end), passes times over.
Result countPacks(const std::vector<uint8_t>& data, std::size_t begin, std::size_t end, uint64_t passes) {
    Result result;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t pass = 0; pass < passes; ++pass) {
        for (std::size_t pack = begin; pack + kPackSize <= end; pack += kPackSize) {
            result.count += static_cast<uint64_t>(
                halyard::CountStartCodes(data.data() + pack + kPayloadOffset, kPayloadSize, kPictureStartCode));
            result.bytes += kPayloadSize;
        }
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

// The same walk as countPacks, reading each chunk as 64-bit words and nothing more.
Result readPacks(const std::vector<uint8_t>& data, uint64_t passes) {
    Result result;
    uint64_t sum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t pass = 0; pass < passes; ++pass) {
        for (std::size_t pack = 0; pack + kPackSize <= data.size(); pack += kPackSize) {
            const uint8_t* chunk = data.data() + pack + kPayloadOffset;
            for (std::size_t at = 0; at + sizeof(uint64_t) <= kPayloadSize; at += sizeof(uint64_t)) {
                uint64_t word;
                std::memcpy(&word, chunk + at, sizeof word);
                sum ^= word;
            }
            result.bytes += kPayloadSize;
        }
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.count = sum & 1;  // keeps the loop
    return result;
}

void report(const char* name, const Result& r, bool codes = true) {
    std::printf("  %-12s %7.3f GB/s  (%.2f GiB in %.3f s", name, r.bytes / r.seconds / 1e9, r.bytes / kGiB, r.seconds);
    if (codes) std::printf(", %llu picture start codes", static_cast<unsigned long long>(r.count));
    std::printf(")\n");
}

}  // namespace

int main(int argc, char** argv) {
    const char* file = nullptr;
    double gib = 1.0;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        const double value = std::strtod(argv[i], &end);
        if (end != argv[i] && *end == '\0' && value > 0)
            gib = value;
        else
            file = argv[i];
    }
    try {
        const std::vector<uint8_t> data = file ? readVideo(file) : syntheticVideo();
        const uint64_t ones = static_cast<uint64_t>(std::count(data.begin(), data.end(), uint8_t{1}));
        std::printf("picture counter: %s, %.1f MiB, one 0x01 byte every %.0f bytes, %zu-byte chunks\n",
                    file ? file : "synthetic MPEG-2-like data", data.size() / 1048576.0,
                    ones ? static_cast<double>(data.size()) / static_cast<double>(ones) : 0.0, kPayloadSize);
        const double wanted = gib * kGiB;
        const double perPass = static_cast<double>(data.size() / kPackSize * kPayloadSize);
        const auto passes = static_cast<uint64_t>(std::max(1.0, wanted / perPass + 0.5));
        countPacks(data, 0, data.size(), 1);  // warm up
        report("memory", countPacks(data, 0, data.size(), passes));
        const double perBlock = static_cast<double>(kBlockSize / kPackSize * kPayloadSize);
        const auto blockPasses = static_cast<uint64_t>(std::max(1.0, wanted / perBlock + 0.5));
        report("cache", countPacks(data, 0, kBlockSize, blockPasses));
        report("memory read", readPacks(data, passes), false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halyard-bench-pictures: %s\n", e.what());
        return 1;
    }
    return 0;
}
