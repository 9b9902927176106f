#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

namespace halyard {

// The payload of one PES packet as the engine hands it on: the stream it belongs to
// (the id of the engine's tally: a video stream id, a VC-1 stream id extension, an
// audio or subpicture substream id) and where its payload begins. The header is read
// the way the engine's scanner reads it, so that counting packets this way over a
// well-formed pack gives what the engine counts when it reads the same pack.
struct PacketPayload {
    uint8_t id = 0;
    size_t start = 0; // offset of the payload's first byte; the payload runs to the packet's end
};

// The packet at `at` (its start code), ending at `end` (after its last byte), within
// `pack`. nullopt for a packet that carries no stream's payload: padding, navigation,
// MPEG audio, an unknown substream, or a header that runs past the packet.
std::optional<PacketPayload> PayloadOfPacket(const uint8_t* pack, size_t at, size_t end);

// The first packet of a pack: after the 14-byte pack header and its stuffing bytes.
size_t FirstPacketOf(const uint8_t* pack);

// Offset of the stream id extension in the PES extension of the packet at `packet`,
// reading every field that the extension flags announce; nullopt when there is none.
std::optional<size_t> StreamIdExtensionAt(const uint8_t* pack, size_t packet, size_t length);

// Calls visit(at, end) for each packet of a pack, in order: start code prefix, stream
// id, 16-bit length, and as many bytes. The walk ends at anything else, and at a
// packet that runs past the pack.
template <typename Visit>
void ForEachPacket(const uint8_t* pack, size_t length, Visit visit) {
    size_t at = FirstPacketOf(pack);
    while (at + 6 <= length && pack[at] == 0x00 && pack[at + 1] == 0x00 && pack[at + 2] == 0x01 &&
           pack[at + 3] >= 0xBB) {
        const size_t end = at + 6 + (size_t(pack[at + 4]) << 8 | pack[at + 5]);
        if (end > length)
            return;
        visit(at, end);
        at = end;
    }
}

} // namespace halyard
