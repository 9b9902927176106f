#include "model/OutputStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "model/Error.h"
#include "model/platform/Console.h"
#include "model/platform/SystemError.h"

namespace halyard {

namespace {

using platform::FileIdentity;
using platform::NativeFile;
using platform::SystemError;

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    throw Error("Cannot create file \"" + path + "\". " + reason);
}

// One output on its way to being opened.
struct PendingOutput {
    std::string path;
    NativeFile file;
    bool created = false; // this call made the file
    bool regular = false;
    bool holdsData = false; // a regular file that is not empty
    FileIdentity id{};
};

// Opens path for writing without truncating it; notes whether the file was created
// here.
void openWithoutTruncating(PendingOutput& output) {
    try {
        output.file = NativeFile::openToWrite(output.path, output.created);
        const platform::FileStatus status = output.file.status();
        output.id = status.identity;
        output.regular = status.kind == platform::FileKind::Regular;
        output.holdsData = output.regular && status.size > 0;
    } catch (const SystemError& error) {
        refuse(output.path, error.what());
    }
}

void lockExclusively(PendingOutput& output) {
    bool locked = false;
    try {
        locked = output.file.tryLock();
    } catch (const SystemError& error) {
        refuse(output.path, error.what());
    }
    if (!locked)
        refuse(output.path, "It is being written by another process");
}

// Closes what was opened and removes the files that were created.
void abandon(std::vector<PendingOutput>& outputs) {
    for (PendingOutput& output : outputs) {
        output.file = NativeFile();
        if (output.created)
            platform::RemoveFile(output.path);
    }
}

struct SourceId {
    std::string path;
    FileIdentity id;
};

std::vector<SourceId> idsOfSources(const std::vector<std::string>& sources) {
    std::vector<SourceId> ids;
    for (const std::string& source : sources)
        if (const std::optional<platform::FileStatus> status = platform::StatusOf(source))
            ids.push_back({source, status->identity});
    return ids;
}

void refuseSource(const std::string& path, const FileIdentity& id, const std::vector<SourceId>& sources) {
    for (const SourceId& source : sources)
        if (source.id == id)
            refuse(path, "It is the source file \"" + source.path + "\"");
}

} // namespace

void RefuseSourceAsOutput(const std::string& path, const std::vector<std::string>& sources) {
    if (const std::optional<platform::FileStatus> status = platform::StatusOf(path))
        refuseSource(path, status->identity, idsOfSources(sources));
}

std::vector<std::unique_ptr<OutputStream>> OpenOutputs(const std::vector<std::string>& paths,
                                                       const std::vector<std::string>& sources) {
    platform::IgnoreFileSizeSignal();
    const std::vector<SourceId> sourceIds = idsOfSources(sources);
    std::vector<PendingOutput> pending;
    pending.reserve(paths.size());
    try {
        for (const std::string& path : paths) {
            // A source is refused before it is opened at all: one that cannot be written
            // (a read-only disc) would otherwise give a less telling reason.
            if (const std::optional<platform::FileStatus> status = platform::StatusOf(path))
                refuseSource(path, status->identity, sourceIds);
            PendingOutput& output = pending.emplace_back();
            output.path = path;
            openWithoutTruncating(output);
            refuseSource(path, output.id, sourceIds); // the file may have changed since the stat
            if (!output.regular)
                continue; // a device (the null device) or a FIFO holds nothing to lose
            for (size_t earlier = 0; earlier + 1 < pending.size(); ++earlier)
                if (pending[earlier].regular && pending[earlier].id == output.id)
                    refuse(path, "It is the same file as \"" + pending[earlier].path + "\"");
            lockExclusively(output);
        }
        // Only a file that holds data is truncated: ext4 (auto_da_alloc) writes back a
        // file truncated to empty when it is closed, which a new or empty file need not wait for.
        for (PendingOutput& output : pending) {
            try {
                if (output.holdsData)
                    output.file.truncate(0);
            } catch (const SystemError& error) {
                refuse(output.path, error.what());
            }
        }
    } catch (...) {
        abandon(pending);
        throw;
    }

    std::vector<std::unique_ptr<OutputStream>> outputs;
    outputs.reserve(pending.size());
    for (PendingOutput& output : pending)
        outputs.emplace_back(new OutputStream(output.path, std::move(output.file)));
    return outputs;
}

OutputStream::OutputStream(const std::string& path, NativeFile file)
    : path_(path), file_(std::move(file)), buffer_(std::make_unique_for_overwrite<uint8_t[]>(BufferSize)) {}

OutputStream::OutputStream(const std::string& path) : path_(path) {
    std::vector<std::unique_ptr<OutputStream>> opened = OpenOutputs({path}, {});
    file_ = std::move(opened.front()->file_);
    buffer_ = std::move(opened.front()->buffer_);
}

OutputStream::~OutputStream() {
    if (file_.isOpen()) {
        try {
            flush();
        } catch (const Error&) {
            // The owner closes explicitly to learn of this; a destructor cannot report it.
        }
    }
}

void OutputStream::throwWriteError(const std::string& reason) const {
    throw Error("Stream write error \"" + path_ + "\". " + reason);
}

void OutputStream::write(const uint8_t* data, size_t count) {
    if (!file_.isOpen())
        throwWriteError(platform::ErrorText(EBADF));
    if (count > BufferSize - used_) {
        flush();
        if (count >= BufferSize) {
            writeThrough(data, count);
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, data, count);
    used_ += count;
}

void OutputStream::flush() {
    if (used_ == 0)
        return;
    size_t pending = used_;
    used_ = 0; // what fails to reach the file is not offered again
    writeThrough(buffer_.get(), pending);
}

void OutputStream::writeThrough(const uint8_t* data, size_t count) {
    while (count > 0) {
        size_t n = 0;
        try {
            n = file_.writeSome(data, count);
        } catch (const SystemError& error) {
            if (error.code() == EFAULT && data != buffer_.get()) {
                // The bytes were a mapped source's, and some are gone from its file: the
                // kernel will not read them, but a copy here does, as zero bytes, and the
                // source reports the cut (MappedWindow) when its reader confirms them.
                copyThrough(data, count);
                return;
            }
            throwWriteError(error.what());
        }
        data += n;
        count -= n;
        written_ += n;
    }
}

void OutputStream::copyThrough(const uint8_t* data, size_t count) {
    while (count > 0) {
        const size_t piece = std::min(count, BufferSize);
        std::memcpy(buffer_.get(), data, piece);
        writeThrough(buffer_.get(), piece);
        data += piece;
        count -= piece;
    }
}

void OutputStream::close() {
    if (!file_.isOpen())
        return;
    try {
        flush();
    } catch (...) {
        file_ = NativeFile();
        throw;
    }
    try {
        file_.close();
    } catch (const SystemError& error) {
        throwWriteError(error.what());
    }
}

} // namespace halyard
