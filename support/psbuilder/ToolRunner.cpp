#include "ToolRunner.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "model/platform/Process.h"

namespace psb::tools {

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

bool haveProgram(const std::string& program) { return !halyard::platform::FindProgram(program).empty(); }

int run(const std::string& command) { return halyard::platform::SystemExitStatus(std::system(command.c_str())); }

std::string capture(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run: " + command);
    std::string out;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    const int raw = pclose(pipe);
    if (status) *status = halyard::platform::SystemExitStatus(raw);
    return out;
}

ProbedStreams probeStreams(const std::string& path, const std::string& extraArguments) {
    int status = 0;
    const std::string text = capture("ffprobe -v error -count_packets " + extraArguments +
                                         " -show_entries stream -of flat " + shellQuote(path),
                                     &status);
    ProbedStreams result;
    if (status != 0) return result;
    // Lines: streams.stream.<n>.<key>=<value>
    std::map<std::string, std::map<std::string, std::string>> byIndex;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::string prefix = "streams.stream.";
        const std::size_t eq = line.find('=');
        if (line.rfind(prefix, 0) != 0 || eq == std::string::npos) continue;
        const std::size_t dot = line.find('.', prefix.size());
        if (dot == std::string::npos || dot > eq) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        byIndex[line.substr(prefix.size(), dot - prefix.size())][line.substr(dot + 1, eq - dot - 1)] = value;
    }
    for (auto& [index, entries] : byIndex) result[entries["id"]] = entries;
    return result;
}

bool haveFfmpeg() {
    static const bool found = haveProgram("ffmpeg") && haveProgram("ffprobe");
    return found;
}

std::string ffmpegCommand(const std::string& arguments) {
    return "ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments;
}

std::string sineInput(int sampleRate, const std::string& duration) {
    return "-f lavfi -i sine=frequency=440:duration=" + duration + ":sample_rate=" + std::to_string(sampleRate);
}

std::string ffprobeJson(const std::string& path, const std::string& extraArguments) {
    int status = 0;
    std::string json =
        capture("ffprobe -v error -show_streams " + extraArguments + " -of json " + shellQuote(path), &status);
    return status == 0 ? json : std::string();
}

std::string jsonField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const std::size_t keyAt = json.find(key);
    if (keyAt == std::string::npos) return {};
    const std::size_t at = json.find_first_not_of(" \t\r\n", keyAt + key.size());
    if (at == std::string::npos) return {};
    if (json[at] == '"') {
        const std::size_t close = json.find('"', at + 1);
        return close == std::string::npos ? std::string() : json.substr(at + 1, close - at - 1);
    }
    // A number, true/false or null: up to the next separator.
    return json.substr(at, json.find_first_of(",}] \t\r\n", at) - at);
}

std::string encodeAndProbe(const std::string& arguments, const std::string& output,
                           const std::string& probeArguments) {
    if (run(ffmpegCommand(arguments + " " + shellQuote(output))) != 0) return {};
    return ffprobeJson(output, probeArguments);
}

double ratioValue(const std::string& text) {
    const std::size_t slash = text.find('/');
    const double numerator = std::stod(text.substr(0, slash));
    return slash == std::string::npos ? numerator : numerator / std::stod(text.substr(slash + 1));
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<uint8_t> readHead(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(limit);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(limit));
    bytes.resize(std::size_t(in.gcount()));
    return bytes;
}

TempDir::TempDir(const std::string& prefix) {
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937_64 random{std::random_device{}()};
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + "-";
        for (int i = 0; i < 8; ++i) name += Letters[random() % (sizeof Letters - 1)];
        std::error_code error;
        if (std::filesystem::create_directory(folder / name, error)) {
            path_ = folder / name;
            return;
        }
        if (error) throw std::system_error(error, "cannot create a folder in " + folder.string());
    }
    throw std::runtime_error("cannot create a fresh folder in " + folder.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace psb::tools
