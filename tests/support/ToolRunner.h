// Running external tools (ffmpeg, ffprobe) from tests and generators.
#pragma once

#include <filesystem>
#include <map>
#include <string>

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
