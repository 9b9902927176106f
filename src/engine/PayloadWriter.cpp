// The engine's payload writer: appends each chunk of a selected stream to its output.
//
// The selection is the set of outputs: the Demux job creates one for each box ticked
// when it starts, so ticking or unticking a box while the job runs changes nothing
// (no write to a file that was not created, no output cut short).
#include "engine/Demuxer.h"

namespace halyard {

namespace {
// Header of one subpicture unit in a ".sup" file: "SP", the PTS less EarliestPts
// (32-bit little-endian), 4 zero bytes.
void writeSubpictureHeader(OutputStream& output, uint32_t pts) {
    const uint8_t header[10] = {'S', 'P', uint8_t(pts), uint8_t(pts >> 8), uint8_t(pts >> 16), uint8_t(pts >> 24),
                                0, 0, 0, 0};
    output.write(header, sizeof header);
}
} // namespace

void Demuxer::writeTo(OutputStream* output, const uint8_t* data, int32_t length) {
    if (output != nullptr && length > 0)
        output->write(data, size_t(length));
}

// A WAV output takes the samples of LPCM packets only: the packets of another codec
// that shares the slot cannot be samples of it.
void Demuxer::writeWav(LpcmWavOutput& output, const uint8_t* data, int32_t length) {
    if (c_.AudioCodec == AudioLpcm && length > 0)
        output.write(c_.LpcmHeader, data, size_t(length));
}

void Demuxer::writePayload(int32_t start, int32_t length) {
    const uint8_t* chunk = block_ + start;
    switch (c_.PacketKind) {
    case KindVideo: {
        const auto slot = size_t(c_.CurrentVideoSlot);
        if (slot < state_.VideoOutput.size())
            writeTo(state_.VideoOutput[slot].get(), chunk, length);
        c_.CurrentPts = 0;
        c_.CurrentPtsSet = false;
        break;
    }
    case KindAudio: {
        const auto slot = size_t(c_.CurrentAudioSlot);
        if (slot < state_.AudioOutput.size()) {
            if (LpcmWavOutput* wav = state_.AudioWavOutput[slot].get())
                writeWav(*wav, chunk, length);
            else
                writeTo(state_.AudioOutput[slot].get(), chunk, length);
        }
        c_.CurrentPts = 0;
        c_.CurrentPtsSet = false;
        break;
    }
    case KindSubpicture: {
        if (c_.CurrentPtsSet)
            c_.CurrentPts -= state_.EarliestPts;
        const auto slot = size_t(c_.CurrentSubpictureSlot);
        if (slot < state_.SubpictureOutput.size()) {
            OutputStream* output = state_.SubpictureOutput[slot].get();
            if (output != nullptr && c_.CurrentPtsSet)
                writeSubpictureHeader(*output, c_.CurrentPts);
            writeTo(output, chunk, length);
        }
        c_.CurrentPts = 0;
        c_.CurrentPtsSet = false;
        break;
    }
    default:
        // MPEG audio (0xC0-0xCF) claims no slot of its own, so it has no output.
        break;
    }
}

} // namespace halyard
