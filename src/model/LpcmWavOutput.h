#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "model/OutputStream.h"

namespace halyard {

// The sample format of a DVD LPCM stream, from header byte 6 of its packets:
// quantization (2) sampling frequency (2) reserved (1) channels - 1 (3).
struct LpcmFormat {
    int bitsPerSample = 0; // 16, 20 or 24; 0 for the reserved quantization code
    int sampleRate = 0;    // 48000, 96000 or 192000; 0 for the reserved sampling code
    int channels = 0;      // 1 to 8

    static LpcmFormat FromHeaderByte(uint8_t byte);
    bool valid() const { return bitsPerSample != 0 && sampleRate != 0; }

    // Bytes of one sample group in the stream: one frame (a sample of every channel)
    // at 16 bits, two frames at 20 and 24 bits.
    size_t groupBytes() const;
    // Bytes the group takes in the WAV: 2 per sample at 16 bits, 3 at 20 and 24.
    size_t wavGroupBytes() const;
    // Bytes per frame in the WAV (its block align).
    size_t wavBlockAlign() const;
};

// The RIFF/WAVE header of a file of `dataBytes` bytes of samples: RIFF, a JUNK chunk
// kept for a ds64 chunk, fmt (WAVE_FORMAT_EXTENSIBLE past 2 channels or 16 bits) and
// the data chunk's header. When the file would pass 4 GiB it is RF64 instead, its
// sizes in the ds64 chunk that takes the JUNK chunk's place.
std::string WavHeader(const LpcmFormat& format, uint64_t dataBytes);

// A DVD LPCM stream written as a WAV file of little-endian samples.
//
// DVD LPCM packets hold big-endian samples. At 16 bits they stand frame after frame.
// At 20 and 24 bits they come in groups of two frames: first the upper 16 bits of each
// sample (frame 0 channel 0 to n-1, then frame 1), then the low bits of the same
// samples in the same order, a byte each at 24 bits, a nibble each at 20 bits (the
// high nibble first). The WAV keeps 16-bit samples at 16 bits and puts 20- and 24-bit
// samples into 3 bytes, 20-bit ones left-justified.
//
// The format is that of the first packet. A packet of another format, or a reserved
// quantization or sampling code, raises an error: one WAV file cannot hold it. Group
// boundaries need not fall on packet boundaries; an incomplete group at the end of
// the stream cannot be decoded and is dropped. The header's sizes are written at
// close.
class LpcmWavOutput {
public:
    // Writes into an output just opened (by OpenOutputs, as the other outputs of a job).
    explicit LpcmWavOutput(std::unique_ptr<OutputStream> output);
    ~LpcmWavOutput();
    LpcmWavOutput(const LpcmWavOutput&) = delete;
    LpcmWavOutput& operator=(const LpcmWavOutput&) = delete;

    // One chunk of payload; header holds LPCM header bytes 5 to 7 of its packet.
    void write(const std::array<uint8_t, 3>& header, const uint8_t* data, size_t count);
    // Writes the sizes into the header and closes; raises the output's write error.
    void close();

    const std::string& path() const { return path_; }
    uint64_t dataBytes() const { return dataBytes_; }

private:
    void start(uint8_t formatByte);
    void convert(const uint8_t* groups, size_t groupCount);
    void writeFinalHeader();

    std::unique_ptr<OutputStream> output_;
    std::string path_;
    bool started_ = false;
    bool closed_ = false;
    uint8_t formatByte_ = 0;
    LpcmFormat format_;
    size_t groupBytes_ = 0;
    size_t wavGroupBytes_ = 0;
    std::array<uint8_t, 48> pending_{}; // a group split over chunks (8 channels, 24 bits)
    size_t pendingBytes_ = 0;
    std::unique_ptr<uint8_t[]> converted_;
    uint64_t dataBytes_ = 0;
};

} // namespace halyard
