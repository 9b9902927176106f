#pragma once
// The colours of 2-bit subpictures: the program chain palette of a DVD's IFO file, or a
// fixed grey one; and the change from BT.601 to BT.709 colours.
#include <optional>
#include <string>
#include <vector>

#include "subtitles/SubpictureUnit.h"

namespace halyard {

// The 16 colours of the first program chain of a DVD IFO (or its .BUP copy): of the
// title set's first program chain in a VTS_nn_0.IFO ("DVDVIDEO-VTS"), of the first-play
// program chain in VIDEO_TS.IFO ("DVDVIDEO-VMG"). Raises "Cannot read a palette from
// "PATH". REASON" when the file cannot be read, is no IFO file, or its program chain
// lies outside it.
DvdPalette ReadIfoPalette(const std::string& path);

// The IFO files that may hold the palette of a DVD-Video .VOB, in the order they are
// tried: VTS_nn_0.IFO of the title set, VIDEO_TS.IFO, then the .BUP copies of both.
// Only files that exist are listed (names are matched without regard to case); none
// for a file that is not named like a DVD's VOB.
std::vector<std::string> IfoFilesBeside(const std::string& vobPath);

// The palette of the first of those files that gives one (an all-zero palette counts
// as none), with the file's path; nullopt when none does.
std::optional<std::pair<DvdPalette, std::string>> FindVobPalette(const std::string& vobPath);

// The palette used when there is no other: greys, light on even entries and dark on
// odd ones, so that neighbouring entries (a caption's fill and outline) stand apart.
const DvdPalette& GreyPalette();

// A BT.601 studio-range colour as BT.709 sees it, opacity kept.
SubpictureColour Bt601ToBt709(SubpictureColour colour);

} // namespace halyard
