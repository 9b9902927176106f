#include "rebuild/Rebuild.h"

#include <algorithm>
#include <cstdio>

#include "analysers/NumberFormat.h"
#include "engine/Progress.h"
#include "engine/StreamIds.h"
#include "jobs/Paths.h"
#include "jobs/StreamNames.h"
#include "model/Error.h"
#include "model/platform/Files.h"
#include "model/platform/SystemError.h"
#include "rebuild/PackReader.h"

namespace halyard {

namespace {
constexpr int64_t Mebibyte = 1024 * 1024;
constexpr const char* RebuiltExtension = ".rebuilt.EVO";
constexpr const char* PartialExtension = ".partial";

// "Dolby Digital substream 0x80".
std::string idText(uint8_t id) { return CodecOfId(id)->name + (" " + StreamIdText(id)); }

std::string boxOf(uint8_t id) {
    const StreamCodec& codec = *CodecOfId(id);
    const int slot = SlotOfId(id);
    switch (codec.kind) {
    case StreamKind::Video: return VideoBoxName(slot);
    case StreamKind::Audio: return AudioBoxName(slot);
    default: return SubpictureBoxName(slot);
    }
}

std::string plural(uint64_t count, const char* word) {
    return Dec(int64_t(count)) + " " + word + (count == 1 ? "" : "s");
}
} // namespace

std::shared_ptr<EvoRebuild> InstallRebuildJob(Jobs& jobs, RunState& state, UiModel& ui) {
    auto rebuild = std::make_shared<EvoRebuild>(jobs, state, ui);
    jobs.RebuildJob = [rebuild] { rebuild->bRebuildClick(); };
    return rebuild;
}

EvoRebuild::EvoRebuild(Jobs& jobs, RunState& state, UiModel& ui) : jobs_(jobs), state_(state), ui_(ui) {}

void EvoRebuild::bRebuildClick() {
    try {
        run();
    } catch (...) {
        finishAfterFailure();
        throw;
    }
}

void EvoRebuild::run() {
    // 1-2: buttons, output folder, a fresh id map.
    ui_.bDemux.enabled = ui_.bRebuild.enabled = false;
    ui_.currentPage = StatusPage;
    ui_.controlsChanged();
    const std::string folder = jobs_.outputFolder();
    state_.BusyFlag = true;
    result_ = RebuildResult{};
    packs_.emplace(RebuildSelection::From(state_.Catalogue, ui_), state_.FirstVideoPts, state_.LastVideoPts);
    streamsWithoutSlotReported_ = 0;

    // 3-4: names; the new ids before anything is opened.
    bool hasSecondFile = false;
    const std::string second = jobs_.secondFileAndBaseName(hasSecondFile);
    const std::string outputPath = OutputPrefix(folder, jobs_.Paths.OutputBaseName) + RebuiltExtension;
    const std::string partialPath = outputPath + PartialExtension;
    std::vector<std::string> sources{ui_.eEVOfile};
    if (ui_.cbContinue && hasSecondFile)
        sources.push_back(second);
    plan(sources);
    // No output may be a file the job could read: the second feature file and the
    // playlist included, whether or not this run reads them.
    const std::vector<std::string> inputs = jobs_.inputFiles();

    // 5-7: open the source, create the output under its passing name.
    ui_.log("Opening file [b]" + jobs_.Paths.SourceFileName + "[/b]");
    ui_.slog("Opening", 0);
    jobs_.openSource(ui_.eEVOfile);
    ui_.log("File size: " + std::to_string(state_.SourceStream->size() / Mebibyte) + " Mbytes.");
    RefuseSourceAsOutput(outputPath, inputs);
    output_ = std::move(OpenOutputs({partialPath}, inputs).front());
    writer_.emplace(*output_);
    ui_.log("Creating " + outputPath);
    ui_.log("Rebuilding...");
    ui_.slog("Rebuilding " + FileNamePart(ui_.eEVOfile), 0);

    // 8-9: the source, then the second feature file into the same output.
    file_ = 0;
    lastFile_ = sources.size() == 1;
    Rebuild();
    if (ui_.cbContinue && !state_.CancelFlag && hasSecondFile) {
        jobs_.openSource(second);
        const std::string name = FileNamePart(second);
        ui_.log("Continue on [b]" + name + "[/b]");
        ui_.log("Rebuilding...");
        ui_.slog("Rebuilding " + name, 0);
        file_ = 1;
        lastFile_ = true;
        Rebuild();
    }

    // 10: close; the output is checked before it takes its name.
    state_.SourceStream.reset();
    std::unique_ptr<OutputStream> output = std::move(output_);
    output->close();
    if (!state_.CancelFlag && writer_->unfollowedAddresses() > 0)
        ui_.log("[re]Set " + plural(writer_->unfollowedAddresses(), "synchronisation address") +
                " to none: their packs lie further than 16 MiB away or past the end of the file[/re]");
    writer_.reset();
    if (!state_.CancelFlag)
        check(partialPath, outputPath, inputs);
    if (state_.CancelFlag)
        ui_.log("The rebuilt file is incomplete: it is kept as " + partialPath);

    // 11: report, give the buttons back.
    ui_.log("Done.");
    ui_.log("");
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    ui_.bRebuild.enabled = ui_.bDemux.enabled = true;
    ui_.controlsChanged();
    state_.BusyFlag = false;
}

// The new ids of the kept streams that Read EVO found in the files. Refused when a kind
// has more kept streams than slots: they would share slots, and a demux of the rebuilt
// file would mix them.
void EvoRebuild::plan(const std::vector<std::string>& sources) {
    maps_.assign(sources.size(), nullptr);
    for (size_t file = 0; file < sources.size(); ++file)
        for (const SourceStreamMap& map : state_.SourceMaps)
            if (map.Path == sources[file] && !maps_[file])
                maps_[file] = &map;
    const std::vector<PackRebuilder::PlannedStream> crowded = packs_->plan(maps_);
    if (crowded.empty())
        return;
    const StreamKind kind = CodecOfId(crowded.front().id)->kind;
    std::string streams;
    for (const PackRebuilder::PlannedStream& stream : crowded) {
        std::string files;
        for (size_t file : stream.files)
            files += (files.empty() ? "" : " and ") + FileNamePart(sources[file]);
        streams += (streams.empty() ? "" : ", ") + idText(stream.id) + " (" + boxOf(stream.id) + ", " + files + ")";
    }
    const std::string kindName = StreamKindName(kind);
    throw Error("Cannot rebuild: the kept " + kindName + " streams need more " + kindName +
                " slots than a program stream has, so a demux of it would mix them: " + streams +
                ". Untick some of them");
}

void EvoRebuild::check(const std::string& partial, const std::string& path, const std::vector<std::string>& sources) {
    ui_.log("Checking...");
    ui_.slog("Checking " + FileNamePart(partial), 0);
    ui_.bCancel.enabled = true;
    ui_.controlsChanged();
    std::vector<RebuiltStream> streams = keptStreams();
    const bool checked = CheckRebuiltFile(partial, streams, state_, ui_, partial);
    ui_.bCancel.enabled = false;
    ui_.controlsChanged();
    if (!checked)
        return;
    // The name may have become a source's (a link made meanwhile): refused, source untouched.
    RefuseSourceAsOutput(path, sources);
    try {
        platform::RenameReplacing(partial, path);
    } catch (const platform::SystemError& error) {
        throw Error("Cannot create file \"" + path + "\". " + error.what());
    }
    result_.path = path;
    result_.streams = std::move(streams);
}

std::vector<RebuiltStream> EvoRebuild::keptStreams() const {
    std::vector<RebuiltStream> streams;
    const RebuildIdMap& ids = packs_->ids();
    for (int id = 0; id < 256; ++id) {
        if (!ids.assigned(uint8_t(id)))
            continue;
        RebuiltStream stream;
        stream.sourceId = uint8_t(id);
        stream.newId = ids[uint8_t(id)];
        stream.kept = packs_->keptCounts()[stream.newId];
        streams.push_back(stream);
    }
    std::sort(streams.begin(), streams.end(), [](const RebuiltStream& a, const RebuiltStream& b) {
        const auto kindA = CodecOfId(a.newId)->kind;
        const auto kindB = CodecOfId(b.newId)->kind;
        return kindA != kindB ? kindA < kindB : a.newId < b.newId;
    });
    return streams;
}

// Both files closed (a failure to close is not the one reported), and the window idle:
// Cancel off, Demux and Rebuild as the boxes say, no job busy.
void EvoRebuild::finishAfterFailure() {
    state_.SourceStream.reset();
    writer_.reset();
    if (output_) {
        try {
            output_->close();
        } catch (const Error&) {
            // the first failure is the one reported
        }
        output_.reset();
    }
    state_.BusyFlag = false;
    ui_.bCancel.enabled = false;
    ui_.slog("Ready", 0);
    ui_.slog("", 1);
    jobs_.cbVideoClick();
}

void EvoRebuild::warnAboutStreamsWithoutSlot(const std::string& name) {
    const std::vector<uint8_t>& streams = packs_->withoutSlot();
    for (; streamsWithoutSlotReported_ < streams.size(); ++streamsWithoutSlotReported_) {
        const uint8_t id = streams[streamsWithoutSlotReported_];
        ui_.log("[re]No " + std::string(StreamKindName(CodecOfId(id)->kind)) + " slot is left for " + idText(id) +
                " of " + name + ", which Read EVO did not find: its packs are left out[/re]");
    }
}

void EvoRebuild::Rebuild() {
    ui_.bCancel.enabled = true;
    ui_.controlsChanged();
    state_.CancelFlag = false;
    startTime_ = std::chrono::steady_clock::now();

    SourceFile& source = *state_.SourceStream;
    const int64_t size = source.size();
    const std::string name = FileNamePart(source.path());
    packs_->beginFile(file_ < maps_.size() ? maps_[file_] : nullptr);
    writer_->beginFile();

    // Each pack as the reader finds it; the packs kept in a row in its window go out
    // together, until a navigation pack waits for its targets.
    PackReader reader(source);
    int64_t shown = source.position();
    bool stopped = false;
    // The last piece of a file, shorter than a pack, is written only at the end of the
    // output: in the middle it would shift every pack after it, and the engine would read
    // its cut packet on into the next file.
    int64_t cutPiece = -1;
    size_t cutLength = 0;
    // The packs are read where the source shows them; one that is rewritten is copied
    // into `scratch` first. The others stay where they are until the window moves on, and
    // go out in runs.
    std::array<uint8_t, PackSize> scratch;
    while (!stopped && reader.fill()) {
        PackReader::Pack pack;
        while (reader.next(pack)) {
            bool navigation = false;
            PackFate fate = PackFate::Dropped;
            const uint8_t* bytes = pack.data;
            if (pack.length == PackSize || lastFile_) {
                fate = packs_->rebuildPack(bytes, pack.length, scratch.data(), navigation);
            } else {
                cutPiece = pack.end - int64_t(pack.length);
                cutLength = pack.length;
            }
            writer_->pack(bytes, pack.length, fate, navigation, pack.inWindow && bytes == pack.data);
            if (pack.end / ProgressInterval > shown / ProgressInterval) {
                shown = pack.end;
                showProgress(pack.end, size, name);
            }
            if (state_.CancelFlag) {
                stopped = true;
                break;
            }
        }
        writer_->endOfWindow();
    }
    writer_->endOfFile();

    const uint64_t leftOut = reader.skippedBytes() + cutLength;
    const int64_t firstLeftOut = reader.skippedBytes() > 0 ? reader.firstSkipped() : cutPiece;
    if (leftOut > 0)
        ui_.log("[re]Left out " + plural(leftOut, "byte") + " of " + name +
                " outside whole packs, the first at offset " + Dec(firstLeftOut) + "[/re]");
    warnAboutStreamsWithoutSlot(name);
    ui_.bCancel.enabled = false;
    ui_.controlsChanged();
}

void EvoRebuild::showProgress(int64_t position, int64_t size, const std::string& name) {
    ui_.slog("Rebuilding " + name + " " + ProgressText(startTime_, position, size), 1);
    ui_.progress(position, size);
    ui_.pumpEvents();
}

} // namespace halyard
