#pragma once
#include <cstdint>
#include <string>

namespace halyard {

// Stems of the stream box captions, by the type code that claimed the slot.
std::string VideoStreamName(int32_t typeCode);
std::string AudioStreamName(int32_t typeCode);
std::string SubpictureStreamName(int32_t typeCode);

// Caption suffixes: ".0" for video slots, ".00" ... ".15" for audio and subpicture slots.
std::string VideoSuffix(int slot);
std::string TwoDigitSuffix(int slot);

// Names of the stream boxes: cbVideo0 ... cbVideo7, cbAudio00 ... cbAudio15,
// cbSub00 ... cbSub15.
std::string VideoBoxName(int slot);
std::string AudioBoxName(int slot);
std::string SubpictureBoxName(int slot);

} // namespace halyard
