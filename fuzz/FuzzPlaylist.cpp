// libFuzzer target: the playlist reader over arbitrary bytes. The first input byte
// picks the source whose title is looked for and where the bytes are split in two.
// The scanner must give the same lines for the split input as for the whole one;
// then the whole Read XPL job runs over the bytes as a file.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "jobs/Jobs.h"
#include "model/Error.h"
#include "playlist/ReadXpl.h"
#include "playlist/TagScanner.h"

namespace {

class SilentUi : public halyard::UiModel {
public:
    void log(std::string_view) override {}
    void slog(std::string_view, int) override {}
};

std::string playlistFile(const uint8_t* data, size_t size) {
    static int fd = -1;
    if (fd < 0)
        fd = memfd_create("fuzz-playlist", 0);
    ftruncate(fd, 0);
    pwrite(fd, data, size, 0);
    return "/proc/self/fd/" + std::to_string(fd);
}

// The lines of the bytes scanned in two calls split at `split`; false on a failure.
bool scanLines(const uint8_t* data, size_t size, size_t split, std::vector<std::string>& memo) {
    halyard::AttributeTables tables;
    halyard::PlaylistValues values;
    halyard::TagScanner scanner(memo, tables, values);
    try {
        scanner.scan(data, split);
        scanner.scan(data + split, size - split);
    } catch (const halyard::Error&) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    ++data;
    --size;

    std::vector<std::string> whole, split;
    const bool wholeOk = scanLines(data, size, size, whole);
    const bool splitOk = scanLines(data, size, size ? (control * 7919u) % size : 0, split);
    if (wholeOk != splitOk || whole != split)
        std::abort();

    static auto state = std::make_unique<halyard::RunState>();
    static const char* const sources[] = {"", "/d/HVDVD_TS/FEATURE_1.EVO", "MOVIE_1.EVO", "A.EVO",
                                          "Title.EVO", "x", "/d/HVDVD_TS/FEATURE_2.EVO", "EDGE.EVO"};
    SilentUi ui;
    halyard::Jobs jobs(*state, ui);
    halyard::XplReader reader(jobs, *state, ui);
    ui.eEVOfile = sources[control & 7];
    ui.eXPLfile = playlistFile(data, size);
    jobs.XPLadj();
    try {
        reader.bReadXPLClick();
    } catch (const halyard::Error&) {
    }
    if (state->SourceStream || !ui.mXPLVisible || !ui.bReadXPL.enabled)
        std::abort();
    return 0;
}
