// libFuzzer target: the engine over arbitrary bytes, in both modes and for every kind
// of source. The first input byte picks the mode, the source kind and the options.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "engine/Demux.h"
#include "model/Error.h"

namespace {

class SilentUi : public halyard::UiModel {
public:
    void log(std::string_view) override {}
    void slog(std::string_view, int) override {}
};

std::string sourceFile(const uint8_t* data, size_t size) {
    static int fd = -1;
    if (fd < 0)
        fd = memfd_create("fuzz-source", 0);
    ftruncate(fd, 0);
    pwrite(fd, data, size, 0);
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    static auto state = std::make_unique<halyard::RunState>();
    SilentUi ui;
    static const char* const kinds[] = {"x.EVO", "x.VOB", "x.AOB", "x.evo"};
    ui.eEVOfile = kinds[(control >> 1) & 3];
    ui.cbDetails = (control & 0x08) == 0;
    ui.cbCountFr = (control & 0x10) == 0;
    const auto mode = (control & 1) ? halyard::ProcessMode::Demux : halyard::ProcessMode::ReadAnalyse;
    if (mode == halyard::ProcessMode::Demux) {
        // Outside the try: a harness that cannot make its outputs must not pass quietly.
        for (auto& box : ui.cbVideo)
            box.ticked = true;
        for (auto& box : ui.cbAudio)
            box.ticked = true;
        for (auto& box : ui.cbSub)
            box.ticked = true;
        for (auto& output : state->VideoOutput)
            output = std::make_unique<halyard::OutputStream>("/dev/null");
        for (auto& output : state->AudioOutput)
            output = std::make_unique<halyard::OutputStream>("/dev/null");
        for (auto& output : state->SubpictureOutput)
            output = std::make_unique<halyard::OutputStream>("/dev/null");
    }
    try {
        state->SourceStream = std::make_unique<halyard::SourceFile>(sourceFile(data + 1, size - 1));
        halyard::demux(*state, ui, mode);
        state->closeAll();
    } catch (const halyard::Error&) {
        state->closeAll();
    }
    return 0;
}
