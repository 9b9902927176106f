#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "model/RunState.h"
#include "model/UiModel.h"
#include "rebuild/RebuildIdMap.h"

namespace halyard {

inline constexpr size_t PackSize = 2048;

// The streams a rebuild keeps: the ids of the catalogue slots that have a box (video
// slots 0 and 1, audio 0-15, subpicture 0-15) and whether each box is ticked, taken
// once when the job starts so that a box clicked during the run changes nothing.
struct RebuildSelection {
    std::array<int32_t, 2> VideoIds{};
    std::array<bool, 2> VideoTicked{};
    std::array<int32_t, 16> AudioIds{};
    std::array<bool, 16> AudioTicked{};
    std::array<int32_t, 16> SubpictureIds{};
    std::array<bool, 16> SubpictureTicked{};

    static RebuildSelection From(const StreamCatalogue& catalogue, const UiModel& ui);

    uint8_t tickedVideo() const;
    uint8_t tickedAudio() const;
    uint8_t tickedSubpictures() const;
};

// Decides, pack by pack, what goes into the rebuilt file and rewrites it in place:
// packs of unticked streams are dropped, the stream ids of kept packs renumbered, the
// system header's bounds set to the ticked boxes, and the navigation data (DSI) given
// the time span of the whole source and only as many synchronisation addresses as
// there are ticked streams. Only the first packet of a pack is looked at.
class PackRebuilder {
public:
    PackRebuilder(const RebuildSelection& selection, uint32_t firstVideoPts, uint32_t lastVideoPts);

    // Rewrites the pack (`length` bytes, 2048 but for a file's last piece) and says
    // whether it is written. A piece that does not begin with a pack start code is not.
    bool rebuildPack(uint8_t* pack, size_t length);

    // The drop tests: whether the packs of a source id are dropped. An id whose slot's
    // box is ticked, and an id in no slot, are kept and get their output id.
    bool videoDropped(uint8_t id) {
        return dropped(RebuildKind::Video, id, selection_.VideoIds, selection_.VideoTicked);
    }
    bool audioDropped(uint8_t id) {
        return dropped(RebuildKind::Audio, id, selection_.AudioIds, selection_.AudioTicked);
    }
    bool subpictureDropped(uint8_t id) {
        return dropped(RebuildKind::Subpicture, id, selection_.SubpictureIds, selection_.SubpictureTicked);
    }

private:
    template <size_t N>
    bool dropped(RebuildKind kind, uint8_t id, const std::array<int32_t, N>& ids, const std::array<bool, N>& ticked) {
        for (size_t slot = 0; slot < N; ++slot) {
            if (ids[slot] == id) {
                if (!ticked[slot])
                    return true;
                break;
            }
        }
        idMap_.keep(kind, id);
        return false;
    }

    void rewriteSystemHeader(uint8_t* pack, size_t packet, size_t length) const;
    void rewriteDsi(uint8_t* pack, size_t length) const;
    bool keepPrivateStream1(uint8_t* pack, size_t packet, size_t length);
    bool keepExtendedStream(uint8_t* pack, size_t packet, size_t length);

    RebuildSelection selection_;
    uint8_t tickedVideo_;
    uint8_t tickedAudio_;
    uint8_t tickedSubpictures_;
    uint32_t firstVideoPts_;
    uint32_t lastVideoPts_;
    RebuildIdMap idMap_;
};

} // namespace halyard
