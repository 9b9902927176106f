#include "jobs/StreamNames.h"

#include <cstdio>

namespace halyard {

std::string VideoStreamName(int32_t typeCode) {
    if (typeCode == -1)
        return "No video stream";
    if (typeCode == 0x55 || typeCode == 0x56)
        return "VC-1.stream";
    if (typeCode == 0xE0 || typeCode == 0xE1)
        return "MPEG-2.stream";
    if (typeCode == 0xE2 || typeCode == 0xE3)
        return "H.264.stream";
    return "";
}

std::string AudioStreamName(int32_t typeCode) {
    if (typeCode == -1)
        return "No audio stream";
    if (typeCode >= 0x80 && typeCode <= 0x87)
        return "DD.stream";
    if (typeCode >= 0x88 && typeCode <= 0x8F)
        return "DTSHD.stream";
    if (typeCode >= 0xA0 && typeCode <= 0xA7)
        return "LPCM.stream";
    if (typeCode >= 0xB0 && typeCode <= 0xB7)
        return "MLP.stream";
    if (typeCode >= 0xC0 && typeCode <= 0xCF)
        return "DD+.stream";
    return "";
}

std::string SubpictureStreamName(int32_t typeCode) {
    if (typeCode == -1)
        return "No subpicture stream";
    if (typeCode >= 0x20 && typeCode <= 0x2F)
        return "Subpicture";
    if (typeCode >= 0x60 && typeCode <= 0x6F)
        return "Ext.Subpicture";
    return "";
}

std::string VideoSuffix(int slot) {
    char text[16];
    std::snprintf(text, sizeof text, ".%d", slot);
    return text;
}

std::string TwoDigitSuffix(int slot) {
    char text[8];
    std::snprintf(text, sizeof text, ".%02d", slot);
    return text;
}

std::string VideoBoxName(int slot) {
    return "cbVideo" + std::to_string(slot);
}

std::string AudioBoxName(int slot) {
    return "cbAudio" + TwoDigitSuffix(slot).substr(1);
}

std::string SubpictureBoxName(int slot) {
    return "cbSub" + TwoDigitSuffix(slot).substr(1);
}

} // namespace halyard
