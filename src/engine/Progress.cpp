// Progress display, window refresh and the polls of the block loop.
#include "engine/Progress.h"

#include "engine/Demuxer.h"
#include "engine/TimeFormat.h"

namespace halyard {

namespace {
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

std::string ProgressText(std::chrono::steady_clock::time_point start, int64_t position, int64_t size) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / SecondsPerDay;
    const double total = elapsed * double(size) / double(position);
    const double remaining = total - elapsed + 1.0 / SecondsPerDay;
    return std::to_string(position / Mebibyte) + "/" + std::to_string(size / Mebibyte) +
           " Mbytes, Remaining time: " + FormatHms(remaining);
}

void Demuxer::showProgress(int64_t position) {
    const int64_t size = state_.SourceStream->size();
    ui_.slog(ProgressText(c_.RunStartTime, position, size), 1);
    ui_.progress(position, size);
    ui_.pumpEvents();
}

} // namespace halyard
