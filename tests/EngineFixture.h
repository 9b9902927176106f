#pragma once
// Runs the engine over streams made with the program stream builder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "PsBuilder.h"
#include "PsMuxer.h"
#include "ToolRunner.h"
#include "TestUi.h"
#include "engine/Demux.h"

namespace halyard::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
using TempDir = psb::tools::TempDir;

inline psb::Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return psb::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One engine, its user interface and a folder for its files.
struct EngineRun {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    RecordingUi ui;
    TempDir dir;

    // Writes the bytes as the source NAME and opens it; the engine reads its extension.
    std::string source(const psb::Bytes& data, const std::string& name = "x.EVO") {
        std::string path = dir.file(name);
        psb::writeFile(path, data);
        ui.eEVOfile = path;
        state->SourceStream = std::make_unique<SourceFile>(path);
        return path;
    }

    // A read-and-analyse run, as Read EVO starts it.
    void read(const psb::Bytes& data, const std::string& name = "x.EVO") {
        source(data, name);
        state->EarliestPts = 0xFFFFFFFF;
        demux(*state, ui, ProcessMode::ReadAnalyse);
        state->SourceStream.reset();
    }

    // Ticks every box of a claimed slot (of the last run) and creates its output.
    void tickFound() {
        auto& c = state->Catalogue;
        for (size_t s = 0; s < 2; ++s)
            if (c.VideoType[s] >= 0)
                tick(ui.cbVideo[s], state->VideoOutput[s], "video" + std::to_string(s));
        for (size_t s = 0; s < 16; ++s)
            if (c.AudioType[s] >= 0)
                tick(ui.cbAudio[s], state->AudioOutput[s], "audio" + std::to_string(s));
        for (size_t s = 0; s < 16; ++s)
            if (c.SubpictureType[s] >= 0)
                tick(ui.cbSub[s], state->SubpictureOutput[s], "sub" + std::to_string(s));
    }
    void tick(StreamBox& box, std::unique_ptr<OutputStream>& output, const std::string& name) {
        box.ticked = true;
        output = std::make_unique<OutputStream>(dir.file(name));
    }

    // A demux run over the same source; outputs as ticked before, closed afterwards.
    void write(const psb::Bytes& data, const std::string& name = "x.EVO") {
        source(data, name);
        demux(*state, ui, ProcessMode::Demux);
        state->closeAll();
    }

    // Read, tick every found stream, demux: the usual road.
    void readAndWrite(const psb::Bytes& data, const std::string& name = "x.EVO") {
        read(data, name);
        tickFound();
        write(data, name);
    }

    psb::Bytes output(const std::string& name) const { return ReadAll(dir.file(name)); }
};

// Concatenation of byte strings.
inline psb::Bytes Cat(std::initializer_list<psb::Bytes> parts) {
    psb::Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline psb::Bytes Filled(size_t size, uint8_t seed) {
    psb::Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = uint8_t(seed + i * 7); // no 00 00 01 inside
    return data;
}

} // namespace halyard::test
