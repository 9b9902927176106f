#include "model/LpcmWavOutput.h"

#include <algorithm>
#include <cstring>

#include "model/Error.h"
#include "model/platform/SystemError.h"

namespace halyard {

namespace {
constexpr size_t ConvertedBytes = 64 * 1024;
constexpr uint64_t RiffLimit = 0xFFFFFFFF;
constexpr uint32_t Ds64BodyBytes = 28; // RIFF size, data size, sample count (64 bits each), table length (32)
constexpr uint16_t FormatPcm = 0x0001;
constexpr uint16_t FormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00AA00389B71.
constexpr uint8_t PcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// What the codes of the LPCM header stand for.
constexpr int QuantizationBits[4] = {16, 20, 24, 0};
constexpr int SamplingRates[4] = {48000, 96000, 192000, 0};

void put16(std::string& out, uint32_t value) {
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
void put64(std::string& out, uint64_t value) {
    put32(out, uint32_t(value));
    put32(out, uint32_t(value >> 32));
}

uint32_t channelMask(int channels) {
    switch (channels) {
    case 1: return 0x4; // front centre
    case 2: return 0x3; // front left, front right
    default: return 0;  // the header does not say which speakers the channels feed
    }
}

[[noreturn]] void cannotWrite(const std::string& path, const char* why) {
    throw Error("Cannot write \"" + path + "\" as WAV: " + why);
}
} // namespace

LpcmFormat LpcmFormat::FromHeaderByte(uint8_t byte) {
    return LpcmFormat{QuantizationBits[byte >> 6], SamplingRates[(byte >> 4) & 0x03], (byte & 0x07) + 1};
}

size_t LpcmFormat::groupBytes() const {
    const size_t n = size_t(channels);
    switch (bitsPerSample) {
    case 16: return 2 * n;
    case 20: return 5 * n; // 2 frames of 2.5 bytes per sample
    case 24: return 6 * n; // 2 frames of 3 bytes per sample
    default: return 0;
    }
}

size_t LpcmFormat::wavGroupBytes() const {
    return bitsPerSample == 16 ? 2 * size_t(channels) : 6 * size_t(channels);
}

size_t LpcmFormat::wavBlockAlign() const {
    return size_t(channels) * (bitsPerSample == 16 ? 2 : 3);
}

std::string WavHeader(const LpcmFormat& format, uint64_t dataBytes) {
    const int containerBits = format.bitsPerSample == 16 ? 16 : 24;
    const bool extensible = format.channels > 2 || format.bitsPerSample > 16;
    const uint32_t fmtBytes = extensible ? 40 : 16;
    const uint64_t headerBytes = 12 + 8 + Ds64BodyBytes + 8 + fmtBytes + 8;
    // Whole groups always make an even number of bytes, so the data chunk needs no pad byte.
    const uint64_t fileBytes = headerBytes + dataBytes;
    const uint64_t riffBytes = fileBytes - 8;
    const bool rf64 = riffBytes > RiffLimit;
    const uint32_t blockAlign = uint32_t(format.wavBlockAlign());

    std::string out;
    out.reserve(size_t(headerBytes));
    out += rf64 ? "RF64" : "RIFF";
    put32(out, rf64 ? uint32_t(RiffLimit) : uint32_t(riffBytes));
    out += "WAVE";
    out += rf64 ? "ds64" : "JUNK";
    put32(out, Ds64BodyBytes);
    if (rf64) {
        put64(out, riffBytes);
        put64(out, dataBytes);
        put64(out, blockAlign ? dataBytes / blockAlign : 0);
        put32(out, 0); // no table entries
    } else {
        out.append(Ds64BodyBytes, '\0');
    }
    out += "fmt ";
    put32(out, fmtBytes);
    put16(out, extensible ? FormatExtensible : FormatPcm);
    put16(out, uint32_t(format.channels));
    put32(out, uint32_t(format.sampleRate));
    put32(out, uint32_t(format.sampleRate) * blockAlign);
    put16(out, blockAlign);
    put16(out, uint32_t(containerBits));
    if (extensible) {
        put16(out, 22); // bytes of extension that follow
        put16(out, uint32_t(format.bitsPerSample)); // valid bits per sample
        put32(out, channelMask(format.channels));
        out.append(reinterpret_cast<const char*>(PcmSubFormat), sizeof PcmSubFormat);
    }
    out += "data";
    put32(out, rf64 ? uint32_t(RiffLimit) : uint32_t(dataBytes));
    return out;
}

LpcmWavOutput::LpcmWavOutput(std::unique_ptr<OutputStream> output)
    : output_(std::move(output)), path_(output_->path()) {}

LpcmWavOutput::~LpcmWavOutput() = default;

void LpcmWavOutput::start(uint8_t formatByte) {
    format_ = LpcmFormat::FromHeaderByte(formatByte);
    if (!format_.valid())
        cannotWrite(path(), "reserved LPCM quantization or sampling code");
    formatByte_ = formatByte;
    groupBytes_ = format_.groupBytes();
    wavGroupBytes_ = format_.wavGroupBytes();
    converted_ = std::make_unique<uint8_t[]>(ConvertedBytes);
    const std::string header = WavHeader(format_, 0); // the sizes follow at close
    output_->write(reinterpret_cast<const uint8_t*>(header.data()), header.size());
    started_ = true;
}

void LpcmWavOutput::write(const std::array<uint8_t, 3>& header, const uint8_t* data, size_t count) {
    // Byte 6 without its reserved bit: quantization, sampling frequency, channels.
    const uint8_t formatByte = header[1] & 0xF7;
    if (!started_)
        start(formatByte);
    else if (formatByte != formatByte_)
        cannotWrite(path(), "the LPCM format changes within the stream");

    if (pendingBytes_ > 0) {
        const size_t take = std::min(count, groupBytes_ - pendingBytes_);
        std::memcpy(pending_.data() + pendingBytes_, data, take);
        pendingBytes_ += take;
        data += take;
        count -= take;
        if (pendingBytes_ < groupBytes_)
            return;
        convert(pending_.data(), 1);
        pendingBytes_ = 0;
    }
    const size_t groupsPerBatch = ConvertedBytes / wavGroupBytes_;
    while (count >= groupBytes_) {
        const size_t groups = std::min(count / groupBytes_, groupsPerBatch);
        convert(data, groups);
        data += groups * groupBytes_;
        count -= groups * groupBytes_;
    }
    std::memcpy(pending_.data(), data, count);
    pendingBytes_ = count;
}

// Whole groups into converted_, then onto the file.
void LpcmWavOutput::convert(const uint8_t* in, size_t groupCount) {
    uint8_t* out = converted_.get();
    if (format_.bitsPerSample == 16) {
        // Frames of big-endian samples: every pair of bytes swapped.
        const size_t bytes = groupCount * groupBytes_;
        for (size_t i = 0; i < bytes; i += 2) {
            out[i] = in[i + 1];
            out[i + 1] = in[i];
        }
        out += bytes;
    } else {
        const bool twenty = format_.bitsPerSample == 20;
        const size_t samples = 2 * size_t(format_.channels);
        for (size_t g = 0; g < groupCount; ++g, in += groupBytes_) {
            const uint8_t* low = in + 2 * samples; // the low bits follow the upper 16 bits of all samples
            for (size_t k = 0; k < samples; ++k, out += 3) {
                out[0] = twenty ? uint8_t((k % 2 == 0 ? low[k / 2] >> 4 : low[k / 2] & 0x0F) << 4) : low[k];
                out[1] = in[2 * k + 1];
                out[2] = in[2 * k];
            }
        }
    }
    const size_t bytes = size_t(out - converted_.get());
    output_->write(converted_.get(), bytes);
    dataBytes_ += bytes;
}

void LpcmWavOutput::close() {
    if (closed_)
        return;
    closed_ = true;
    pendingBytes_ = 0; // an incomplete group cannot be decoded
    output_->close();
    if (started_)
        writeFinalHeader();
}

// The header again, with the sizes now known, over the one written at the start.
void LpcmWavOutput::writeFinalHeader() {
    const std::string header = WavHeader(format_, dataBytes_);
    try {
        platform::NativeFile file = platform::NativeFile::openExistingToWrite(path());
        file.writeAllAt(header.data(), header.size(), 0);
        file.close();
    } catch (const platform::SystemError& error) {
        throw Error("Stream write error \"" + path() + "\". " + error.what());
    }
}

} // namespace halyard
