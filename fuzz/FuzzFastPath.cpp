// libFuzzer target: the scanner's fast path against the byte machine. Every input is
// scanned twice, once by the byte machine alone and once with the fast path, from the
// same fresh run state; the two runs must agree on everything they leave: the log, every
// output byte, the run state, the run context and the error, if any. A disagreement
// aborts.
//
// Input: a control byte, as fuzz_demux's (bit 0 demux, else read; bits 1-2 the source
// kind .EVO, .VOB, .AOB; bit 3 details off; bit 4 frame counting off; bit 5: the next
// two bytes, big-endian, are how many source bytes lie in the first block, which is
// filled up to them with bytes that hold no start code, so that the source meets a
// block boundary there), then the source.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "engine/Demuxer.h"
#include "model/Error.h"

namespace {

using halyard::ScanMethod;

class RecordingUi : public halyard::UiModel {
public:
    std::vector<std::string> lines;
    void log(std::string_view line) override { lines.emplace_back(line); }
    void slog(std::string_view, int) override {}
};

// A file in memory, named by its /proc path.
struct MemoryFile {
    int fd = memfd_create("fuzz-fast-path", 0);
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
    void clear() const {
        if (ftruncate(fd, 0) != 0)
            std::abort();
    }
    std::string bytes() const {
        std::string all;
        char chunk[65536];
        for (off_t at = 0;;) {
            const ssize_t n = pread(fd, chunk, sizeof chunk, at);
            if (n <= 0)
                return all;
            all.append(chunk, size_t(n));
            at += n;
        }
    }
};

constexpr size_t Outputs = 2 + 16 + 16;

struct Run {
    RecordingUi ui;
    std::unique_ptr<halyard::RunState> state = std::make_unique<halyard::RunState>();
    halyard::RunContext context;
    std::string error;
    std::vector<std::string> outputs;
};

void scan(Run& run, ScanMethod method, uint8_t control, const std::string& source, std::vector<MemoryFile>& files) {
    static const char* const kinds[] = {"x.EVO", "x.VOB", "x.AOB", "x.evo"};
    halyard::RunState& state = *run.state;
    run.ui.eEVOfile = kinds[(control >> 1) & 3];
    run.ui.cbDetails = (control & 0x08) == 0;
    run.ui.cbCountFr = (control & 0x10) == 0;
    state.EarliestPts = 0xFFFFFFFF;
    const auto mode = (control & 1) ? halyard::ProcessMode::Demux : halyard::ProcessMode::ReadAnalyse;
    if (mode == halyard::ProcessMode::Demux) {
        for (auto& box : run.ui.cbVideo)
            box.ticked = true;
        for (auto& box : run.ui.cbAudio)
            box.ticked = true;
        for (auto& box : run.ui.cbSub)
            box.ticked = true;
        size_t next = 0;
        for (auto& output : state.VideoOutput)
            output = std::make_unique<halyard::OutputStream>(files[next++].path());
        for (auto& output : state.AudioOutput)
            output = std::make_unique<halyard::OutputStream>(files[next++].path());
        for (auto& output : state.SubpictureOutput)
            output = std::make_unique<halyard::OutputStream>(files[next++].path());
    }
    try {
        state.SourceStream = std::make_unique<halyard::SourceFile>(source);
        halyard::Demuxer demuxer(state, run.ui, mode, method);
        try {
            demuxer.run();
        } catch (const halyard::Error& error) {
            run.error = error.what();
        }
        run.context = demuxer.context();
        run.context.RunStartTime = {};
        state.closeAll();
    } catch (const halyard::Error& error) {
        run.error += error.what();
        state.closeAll();
    }
    if (mode == halyard::ProcessMode::Demux)
        for (size_t i = 0; i < Outputs; ++i)
            run.outputs.push_back(files[i].bytes());
}

// Floating-point results compared bit for bit, so that a NaN equals itself.
template <typename T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameState(const halyard::RunState& a, const halyard::RunState& b) {
    return a.Catalogue.VideoType == b.Catalogue.VideoType && a.Catalogue.AudioType == b.Catalogue.AudioType &&
           a.Catalogue.SubpictureType == b.Catalogue.SubpictureType && a.DetailsShown == b.DetailsShown &&
           a.CancelFlag == b.CancelFlag && a.BusyFlag == b.BusyFlag && a.FastCheckStop == b.FastCheckStop &&
           a.EarliestPts == b.EarliestPts && a.FirstVideoPts == b.FirstVideoPts && a.LastVideoPts == b.LastVideoPts &&
           sameBits(a.FileDuration, b.FileDuration) && sameBits(a.TotalDuration, b.TotalDuration) &&
           a.PictureCounter == b.PictureCounter && sameBits(a.SlotFrameRate, b.SlotFrameRate) &&
           sameBits(a.StreamFrameRate, b.StreamFrameRate) && a.TrueFirstPts.Video == b.TrueFirstPts.Video &&
           a.TrueFirstPts.Audio == b.TrueFirstPts.Audio && a.TrueFirstPts.Subpicture == b.TrueFirstPts.Subpicture && a.Tally == b.Tally;
}

[[noreturn]] void disagree(const char* what) {
    std::fprintf(stderr, "fast path and byte machine disagree: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    size_t skip = 1;
    std::string bytes;
    if (control & 0x20) {
        if (size < 3)
            return 0;
        const size_t inFirstBlock = size_t(data[1]) << 8 | data[2];
        skip = 3;
        if (inFirstBlock < size_t(halyard::BlockSize))
            bytes.assign(size_t(halyard::BlockSize) - inFirstBlock, '\xFF');
    }
    bytes.append(reinterpret_cast<const char*>(data + skip), size - skip);

    static MemoryFile source;
    static std::vector<MemoryFile> files(2 * Outputs);
    source.clear();
    if (pwrite(source.fd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size()))
        std::abort();
    for (const MemoryFile& file : files)
        file.clear();
    std::vector<MemoryFile> machineFiles(files.begin(), files.begin() + Outputs);
    std::vector<MemoryFile> fastFiles(files.begin() + Outputs, files.end());

    Run machine;
    Run fast;
    scan(machine, ScanMethod::ByteMachine, control, source.path(), machineFiles);
    scan(fast, ScanMethod::Fast, control, source.path(), fastFiles);
    if (machine.ui.lines != fast.ui.lines)
        disagree("log");
    if (machine.outputs != fast.outputs)
        disagree("outputs");
    if (!sameState(*machine.state, *fast.state))
        disagree("run state");
    if (!(machine.context == fast.context))
        disagree("run context");
    if (machine.error != fast.error)
        disagree("error");
    return 0;
}
