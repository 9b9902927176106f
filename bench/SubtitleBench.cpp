// halyard-bench-subtitles [FOLDER]
//
// Times the conversion of two hours of captions from "SP" records to PGS, as
// `demux --pgs` and `halyard-cli subtitles` do it: a DVD stream (2-bit units of 720x480
// captions, one every 4 seconds, shown for 3) and an HD DVD stream (8-bit units of
// 1920x1080 captions, as often). Best of five runs each, the files in the page cache; the
// processor time beside the wall time, since the two part on a machine that is busy with
// other work. With FOLDER the records are written there and kept (dvd.sup, hd.sup), for
// `halyard-cli subtitles` under a profiler.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "PsBuilder.h"
#include "SubpictureBuilder.h"
#include "ToolRunner.h"
#include "subtitles/PgsConversion.h"

namespace {

constexpr uint64_t kClock = 90000;
constexpr uint64_t kTwoHours = 2 * 3600 * kClock;
constexpr uint64_t kInterval = 4 * kClock;

// A caption as subtitles look: mostly transparent, two lines of letter-like strokes
// with an outline.
psb::Bitmap8 caption8(int width, int height, int k) {
    psb::Bitmap8 b;
    b.width = width;
    b.height = height;
    b.pixels.assign(static_cast<std::size_t>(width * height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int line = y < height / 2 ? y : y - height / 2;
            const bool ink = line > 8 && line < height / 2 - 8 && ((x + 3 * k) / 6) % 3 != 0 && ((x * 7 + line) / 40) % 5 != 0;
            const bool edge = line > 6 && line < height / 2 - 6 && ((x + 3 * k + 1) / 6) % 3 != 0;
            b.pixels[static_cast<std::size_t>(y * width + x)] = ink ? 1 : edge ? 2 : 0;
        }
    return b;
}

psb::Bytes records(bool hd) {
    psb::Bytes file;
    int k = 0;
    for (uint64_t pts = kClock; pts < kTwoHours; pts += kInterval, ++k) {
        const psb::Bytes unit =
            hd ? psb::HdSubpictureUnit().bitmap(caption8(900 + 20 * (k % 30), 110, k)).position(400, 900).duration(3 * kClock).build()
               : psb::SubpictureUnit().bitmap(psb::Bitmap::testPattern(400 + 8 * (k % 30), 60)).position(100, 400).duration(3 * kClock).build();
        const uint32_t p = static_cast<uint32_t>(pts);
        const psb::Bytes header{'S', 'P', uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24), 0, 0, 0, 0};
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), unit.begin(), unit.end());
    }
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    psb::tools::TempDir dir("halyard-bench-subtitles");
    for (bool hd : {false, true}) {
        const std::string name = hd ? "hd.sup" : "dvd.sup";
        const std::string input = argc > 1 ? std::string(argv[1]) + "/" + name : dir.file(name);
        psb::writeFile(input, records(hd));
        halyard::PgsConversion conversion;
        conversion.input = input;
        conversion.output = dir.file("out.sup");
        double best = 1e9, bestCpu = 1e9;
        halyard::PgsConversionResult result;
        for (int run = 0; run < 5; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const std::clock_t startCpu = std::clock();
            result = halyard::ConvertSupToPgs(conversion, nullptr);
            bestCpu = std::min(bestCpu, double(std::clock() - startCpu) / CLOCKS_PER_SEC);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::printf("Subtitles, two hours of %s captions to PGS: %zu captions, %.1f MB of SP records, %.1f MB of PGS: "
                    "%.3f s (processor %.3f s)\n",
                    hd ? "HD DVD 8-bit" : "DVD 2-bit", result.captions, double(psb::readFile(input).size()) / 1e6,
                    double(psb::readFile(conversion.output).size()) / 1e6, best, bestCpu);
    }
}
