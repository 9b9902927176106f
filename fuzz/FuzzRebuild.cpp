// libFuzzer target: Read EVO and Rebuild over arbitrary bytes as an .EVO source (and,
// split in two, as a first and a second feature file), with the boxes the first input
// byte leaves ticked. A run may fail with an error, its check included. A run that
// passes must hold what it promises: a file of whole packs in which the engine finds
// each kept stream as Rebuild counted it, and a check that fails once a pack whose
// packets the engine sees is lost from that file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/Demux.h"
#include "engine/StreamIds.h"
#include "jobs/Jobs.h"
#include "model/Error.h"
#include "rebuild/Rebuild.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr size_t PackSize = 2048;

class SilentUi : public halyard::UiModel {
public:
    void log(std::string_view) override {}
    void slog(std::string_view, int) override {}
};

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_rebuild: %s\n", what);
        std::abort();
    }
}

// The run's folder for the source and the rebuilt file, removed when the process ends.
// (Never destroyed, so that the exit handler still finds it.)
const fs::path& folder() {
    static const fs::path* path = [] {
        std::string name = (fs::temp_directory_path() / "fuzz-rebuild-XXXXXX").string();
        require(::mkdtemp(name.data()) != nullptr, "no temporary folder");
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(folder(), ignored);
        });
        return new fs::path(name);
    }();
    return *path;
}

void writeFile(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    require(bool(out), "cannot write a file");
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the engine finds of each stream in a file: a read run, as the check makes it.
halyard::StreamTally engineTally(const fs::path& path) {
    auto state = std::make_unique<halyard::RunState>();
    SilentUi ui;
    ui.eEVOfile = path.string();
    ui.cbFastCheck = ui.cbCountFr = ui.cbDetails = false;
    state->SourceStream = std::make_unique<halyard::SourceFile>(path.string());
    halyard::demux(*state, ui, halyard::ProcessMode::ReadAnalyse);
    return state->Tally;
}

bool sameCounts(const halyard::StreamCount& a, const halyard::StreamCount& b) {
    return a.Packets == b.Packets && a.PayloadBytes == b.PayloadBytes;
}

// The promises of a run that passed its check.
void checkPassedRun(const halyard::RebuildResult& result, uint8_t choice) {
    require(fs::exists(result.path) && !fs::exists(result.path + ".partial"), "a passed run keeps its .partial");
    const Bytes file = readFile(result.path);
    static constexpr uint8_t PackStart[] = {0x00, 0x00, 0x01, 0xBA};
    for (size_t at = 0; at < file.size(); at += PackSize)
        require(file.size() - at >= 4 && std::equal(PackStart, PackStart + 4, file.begin() + long(at)),
                "the rebuilt file holds something other than packs");
    const halyard::StreamTally found = engineTally(result.path);
    for (const halyard::RebuiltStream& stream : result.streams)
        require(sameCounts(found.Streams[stream.newId], stream.kept), "the check passed other counts than kept");

    // Lose one pack on the way: the one the input chooses among those whose loss changes
    // what the engine finds of a kept stream. The check must see it.
    const size_t packs = (file.size() + PackSize - 1) / PackSize;
    for (size_t tried = 0; tried < packs && tried < 8; ++tried) {
        const size_t lost = (choice + tried * 37) % packs;
        Bytes damaged(file.begin(), file.begin() + long(lost * PackSize));
        damaged.insert(damaged.end(), file.begin() + long(std::min(file.size(), (lost + 1) * PackSize)), file.end());
        const fs::path path = folder() / "damaged.EVO";
        writeFile(path, damaged.data(), damaged.size());
        const halyard::StreamTally after = engineTally(path);
        bool visible = false;
        for (const halyard::RebuiltStream& stream : result.streams)
            visible = visible || !sameCounts(after.Streams[stream.newId], found.Streams[stream.newId]);
        if (!visible)
            continue;
        auto state = std::make_unique<halyard::RunState>();
        SilentUi ui;
        std::vector<halyard::RebuiltStream> streams = result.streams;
        bool failed = false;
        try {
            halyard::CheckRebuiltFile(path.string(), streams, *state, ui, path.string());
        } catch (const halyard::Error&) {
            failed = true;
        }
        require(failed, "the check passed a file that lost a pack");
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    ++data;
    --size;
    for (const auto& entry : fs::directory_iterator(folder()))
        fs::remove(entry.path());

    // Bit 4: two feature files, the input split in the middle.
    const bool joined = control & 0x10;
    const fs::path first = folder() / (joined ? "FEATURE_1.EVO" : "SOURCE.EVO");
    const size_t split = joined ? size / 2 : size;
    writeFile(first, data, split);
    if (joined)
        writeFile(folder() / "FEATURE_2.EVO", data + split, size - split);

    auto state = std::make_unique<halyard::RunState>();
    SilentUi ui;
    halyard::Jobs jobs(*state, ui);
    const std::shared_ptr<halyard::EvoRebuild> rebuild = halyard::InstallRebuildJob(jobs, *state, ui);
    ui.eEVOfile = first.string();
    ui.cbContinue = joined;
    ui.cbFastCheck = false;
    ui.cbDetails = control & 0x20;
    ui.cbCountFr = false;
    jobs.EVOadj();
    try {
        jobs.bReadEVOClick();
        // Bits 0-3 untick the video boxes, the even and the odd audio boxes, the subpictures.
        for (size_t slot = 0; slot < 2; ++slot)
            ui.cbVideo[slot].ticked = ui.cbVideo[slot].ticked && !(control & 0x01);
        for (size_t slot = 0; slot < 16; ++slot) {
            ui.cbAudio[slot].ticked = ui.cbAudio[slot].ticked && !(control & (slot % 2 ? 0x04 : 0x02));
            ui.cbSub[slot].ticked = ui.cbSub[slot].ticked && !(control & 0x08);
        }
        jobs.bRebuildClick();
    } catch (const halyard::Error&) {
        return 0; // a refused or failed run, the check's failure among them
    }
    checkPassedRun(rebuild->result(), control);
    return 0;
}
