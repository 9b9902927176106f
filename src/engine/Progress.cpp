// Progress display, window refresh and the polls of the block loop.
#include "engine/Demuxer.h"
#include "engine/TimeFormat.h"

namespace halyard {

namespace {
constexpr int64_t ProgressInterval = 4 * 1024 * 1024;
constexpr int64_t RefreshInterval = 64 * 1024 * 1024;
constexpr int64_t Mebibyte = 1024 * 1024;
constexpr double SecondsPerDay = 86400.0;
} // namespace

// B2-B5: what follows each block read, by the new file position.
void Demuxer::afterRead(int64_t position) {
    if (position % ProgressInterval == 0)
        showProgress(position);
    if (mode_ == ProcessMode::ReadAnalyse && ui_.cbFastCheck && int64_t(ui_.ieFastSize) * Mebibyte < position)
        state_.FastCheckStop = true;
    if (position % RefreshInterval == 0)
        ui_.refresh();
    if (mode_ == ProcessMode::ReadAnalyse && position == BlockSize)
        probeSystemHeader();
}

void Demuxer::showProgress(int64_t position) {
    const int64_t size = state_.SourceStream->size();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - c_.RunStartTime).count() / SecondsPerDay;
    const double total = elapsed * double(size) / double(position);
    const double remaining = total - elapsed + 1.0 / SecondsPerDay;
    ui_.slog(std::to_string(position / Mebibyte) + "/" + std::to_string(size / Mebibyte) +
                 " Mbytes, Remaining time: " + FormatHms(remaining),
             1);
    ui_.progress(position, size);
    ui_.pumpEvents();
}

} // namespace halyard
