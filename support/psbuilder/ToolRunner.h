// Running external tools (ffmpeg, ffprobe) from tests and generators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace psb::tools {

// Single-quotes `text` for /bin/sh.
std::string shellQuote(const std::string& text);
// True when `program` is found on PATH.
bool haveProgram(const std::string& program);
// Runs `command` with /bin/sh; returns its exit status (-1 if it did not exit normally).
int run(const std::string& command);
// Runs `command` and returns its standard output; `status` gets the exit status.
std::string capture(const std::string& command, int* status = nullptr);

// ffprobe's view of a file's streams, keyed by stream id as ffprobe writes it
// ("0x1e0", "0x80", "0xfd55"); each value maps entry names (codec_name,
// width, height, channels, sample_rate, nb_read_packets ...) to their text
// without quotes. Packets are counted. Empty when ffprobe fails.
using ProbedStreams = std::map<std::string, std::map<std::string, std::string>>;
ProbedStreams probeStreams(const std::string& path, const std::string& extraArguments = "");

// True when both ffmpeg and ffprobe are on PATH; looked up once.
bool haveFfmpeg();
// An ffmpeg command line that is quiet but for errors, leaves stdin alone and
// overwrites its output; `arguments` follow these options.
std::string ffmpegCommand(const std::string& arguments);
// `-f lavfi -i sine=...`: a 440 Hz tone at `sampleRate` lasting `duration` (ffmpeg's syntax, "0.2").
std::string sineInput(int sampleRate, const std::string& duration);
// ffprobe's JSON for `path` with -show_streams and `extraArguments`
// (-show_entries packet=size ...). Empty when ffprobe fails.
std::string ffprobeJson(const std::string& path, const std::string& extraArguments = "");
// The value of the first `"name": value` in JSON text, without its quotes;
// empty when there is none.
std::string jsonField(const std::string& json, const std::string& name);
// Runs ffmpegCommand(arguments) with `output` appended, then ffprobeJson(output,
// probeArguments). Empty when either fails; both write their errors to stderr.
std::string encodeAndProbe(const std::string& arguments, const std::string& output,
                           const std::string& probeArguments = "");
// A ratio as ffprobe writes rates ("30000/1001", "25/1", "25") as a number.
double ratioValue(const std::string& text);

// A file's content, byte for byte; empty when it cannot be read.
std::string readText(const std::string& path);
// A text's lines, without their line feeds.
std::vector<std::string> splitLines(const std::string& text);
// The first `limit` bytes of a file (fewer if it is shorter).
std::vector<uint8_t> readHead(const std::string& path, std::size_t limit);

// A fresh directory under the system temp folder, removed with its content
// when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "psb");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace psb::tools
