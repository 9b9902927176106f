#include "analysers/H264.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "analysers/BitReader.h"
#include "analysers/NumberFormat.h"

namespace halyard {

namespace {

// A start code followed by the NAL unit header of a sequence parameter set:
// forbidden_zero_bit 0, nal_ref_idc 1 or 3, nal_unit_type 7.
constexpr uint32_t SpsStartCodeRef1 = 0x00000127;
constexpr uint32_t SpsStartCodeRef3 = 0x00000167;

constexpr double AssumedFrameRate = 24000.0 / 1001.0;

// More than any sequence parameter set needs (scaling lists are not parsed).
constexpr size_t MaxSpsBytes = 1024;

constexpr uint32_t LevelOneB = 11; // level_idc 11 with constraint_set3_flag means level 1b
constexpr uint32_t ExtendedSarIdc = 255; // aspect_ratio_idc Extended_SAR: sar_width, sar_height follow

// Profiles whose SPS carries chroma_format_idc and bit depths. The profile number is
// looked for as a substring of this text, so 10, 12, 44 ... pass as well.
constexpr std::string_view ChromaProfiles = "100 110 122 144";

struct ProfileName {
    uint32_t profile_idc;
    const char* line;
};

constexpr std::array<ProfileName, 7> ProfileLines{{
    {66, "   Profile = Baseline "},
    {77, "   Profile = Main"},
    {88, "   Profile = Extended"},
    {100, "   Profile = High"},
    {110, "   Profile = High 10"},
    {122, "   Profile = High 4:2:2"},
    {144, "   Profile = High 4:4:4"},
}};

constexpr std::array<const char*, 4> ChromaFormatNames{"monochrome", "4:2:0", "4:2:2", "4:4:4"};
constexpr const char* UnknownChromaFormat = "Unknown";
constexpr uint32_t Chroma420 = 1;
constexpr uint32_t Chroma444 = 3;

constexpr std::array<const char*, 8> VideoFormatNames{"Component", "PAL", "NTSC", "SECAM", "MAC", "Unspecified",
                                                      "", ""};

const char* profileLine(uint32_t profile_idc) {
    for (const ProfileName& profile : ProfileLines)
        if (profile.profile_idc == profile_idc)
            return profile.line;
    return "   Profile = Unknown";
}

// Decodes the SPS field by field in bitstream order. A line is written only when all
// bits read so far lay in the block's valid bytes; the first read past them ends the
// analysis, as does a malformed exp-Golomb code.
class SpsReader {
public:
    SpsReader(AnalyserContext& context, BitReader& reader, int32_t videoSlot)
        : context_(context), reader_(reader), videoSlot_(videoSlot) {}

    void run() {
        if (!readProfileAndLevel())
            return;
        ue(); // seq_parameter_set_id
        if (!readChromaInfo())
            return;
        ue(); // log2_max_frame_num_minus4
        skipPicOrderCount();
        ue();                 // max_num_ref_frames
        reader_.SkipBits(1); // gaps_in_frame_num_value_allowed_flag
        if (!readSize())
            return;
        if (reader_.ReadBits(1) == 0) // vui_parameters_present_flag
            return;
        readVui();
    }

private:
    // Logs a line unless a read has run past the valid bytes; false ends the analysis.
    bool say(const std::string& line) {
        if (reader_.overrun())
            return false;
        context_.log(line);
        return true;
    }

    // ue(v) widened, so that sums and products on it cannot overflow.
    int64_t ue() { return static_cast<uint32_t>(reader_.ReadUE()); }

    bool readProfileAndLevel() {
        profile_idc_ = reader_.ReadBits(8);
        if (!say(profileLine(profile_idc_)))
            return false;
        reader_.SkipBits(3); // constraint_set0_flag, constraint_set1_flag, constraint_set2_flag
        uint32_t constraint_set3_flag = reader_.ReadBits(1);
        reader_.SkipBits(4); // constraint_set4_flag, constraint_set5_flag, reserved_zero_2bits
        uint32_t level_idc = reader_.ReadBits(8);
        if (level_idc == LevelOneB && constraint_set3_flag == 1)
            return say("   Level = 1b");
        return say("   Level = " + Dec(level_idc / 10) + "." + Dec(level_idc % 10));
    }

    bool readChromaInfo() {
        if (ChromaProfiles.find(Dec(profile_idc_)) == std::string_view::npos)
            return true; // 4:2:0 assumed, nothing coded
        chroma_format_idc_ = ue();
        if (chroma_format_idc_ == Chroma444)
            reader_.SkipBits(1); // separate_colour_plane_flag
        int64_t bit_depth_luma_minus8 = ue();
        int64_t bit_depth_chroma_minus8 = ue();
        const char* name = chroma_format_idc_ < int64_t(ChromaFormatNames.size())
                               ? ChromaFormatNames[size_t(chroma_format_idc_)]
                               : UnknownChromaFormat;
        if (!say("   Chroma format = [bl]" + std::string(name) + "[/bl]  (l, c) = " + Dec(bit_depth_luma_minus8 + 8) +
                 ", " + Dec(bit_depth_chroma_minus8 + 8) + " bit"))
            return false;
        reader_.SkipBits(1); // qpprime_y_zero_transform_bypass_flag
        if (reader_.ReadBits(1) == 1) // seq_scaling_matrix_present_flag
            reader_.SkipBits(8);      // seq_scaling_list_present_flag[0..7]; the lists themselves are not parsed
        return true;
    }

    void skipPicOrderCount() {
        int64_t pic_order_cnt_type = ue();
        if (pic_order_cnt_type == 0) {
            ue(); // log2_max_pic_order_cnt_lsb_minus4
            return;
        }
        if (pic_order_cnt_type != 1)
            return; // type 2 codes nothing more
        reader_.SkipBits(1); // delta_pic_order_always_zero_flag
        reader_.ReadSE();    // offset_for_non_ref_pic
        reader_.ReadSE();    // offset_for_top_to_bottom_field
        int64_t num_ref_frames_in_pic_order_cnt_cycle = ue();
        // Every value takes at least one bit, so a count that outruns the block stops at its end.
        for (int64_t i = 0; i < num_ref_frames_in_pic_order_cnt_cycle && !reader_.overrun(); ++i)
            reader_.ReadSE(); // offset_for_ref_frame[i]
    }

    // Vertical chroma subsampling: 2 for 4:2:0, 1 for 4:2:2, 4:4:4 and unknown formats.
    int64_t verticalChromaFactor() const { return chroma_format_idc_ == Chroma420 ? 2 : 1; }

    bool readSize() {
        int64_t width = (ue() + 1) * 16;       // pic_width_in_mbs_minus1
        int64_t mapUnits = ue() + 1;           // pic_height_in_map_units_minus1
        uint32_t frame_mbs_only_flag = reader_.ReadBits(1);
        if (frame_mbs_only_flag == 0)
            reader_.SkipBits(1); // mb_adaptive_frame_field_flag
        reader_.SkipBits(1);     // direct_8x8_inference_flag
        int64_t fieldFactor = 2 - frame_mbs_only_flag;
        int64_t height = fieldFactor * mapUnits * 16;
        if (reader_.ReadBits(1) == 1) { // frame_cropping_flag
            ue();                       // frame_crop_left_offset
            ue();                       // frame_crop_right_offset
            ue();                       // frame_crop_top_offset
            int64_t frame_crop_bottom_offset = ue();
            int64_t cropUnit = chroma_format_idc_ == 0 ? 1 : verticalChromaFactor();
            height -= fieldFactor * frame_crop_bottom_offset * cropUnit;
        }
        return say("   Size = [bl]" + Dec(width) + "[/bl]x[bl]" + Dec(height) + "[/bl]");
    }

    void readVui() {
        if (!readAspectRatio())
            return;
        if (reader_.ReadBits(1) == 1) // overscan_info_present_flag
            reader_.SkipBits(1);      // overscan_appropriate_flag
        if (!readVideoSignalType())
            return;
        if (reader_.ReadBits(1) == 1) { // chroma_loc_info_present_flag
            ue();                       // chroma_sample_loc_type_top_field
            ue();                       // chroma_sample_loc_type_bottom_field
        }
        readTiming();
    }

    bool readAspectRatio() {
        if (reader_.ReadBits(1) == 0) // aspect_ratio_info_present_flag
            return true;
        uint32_t aspect_ratio_idc = reader_.ReadBits(8);
        const auto& names = context_.state.Tables.AspectRatioNames;
        if (aspect_ratio_idc < names.size())
            return say("   Aspect ratio = " + names[aspect_ratio_idc]);
        if (aspect_ratio_idc == ExtendedSarIdc) {
            uint32_t sar_width = reader_.ReadBits(16);
            uint32_t sar_height = reader_.ReadBits(16);
            return say("   Aspect ratio = " + Dec(sar_width) + ":" + Dec(sar_height));
        }
        return true; // 16 to 254 are reserved and named nowhere
    }

    bool readVideoSignalType() {
        if (reader_.ReadBits(1) == 0) // video_signal_type_present_flag
            return true;
        uint32_t video_format = reader_.ReadBits(3);
        if (!say("   Video format = " + std::string(VideoFormatNames[video_format])))
            return false;
        reader_.SkipBits(1);            // video_full_range_flag
        if (reader_.ReadBits(1) == 1)   // colour_description_present_flag
            reader_.SkipBits(24);       // colour_primaries, transfer_characteristics, matrix_coefficients
        return true;
    }

    void readTiming() {
        if (reader_.ReadBits(1) == 0) // timing_info_present_flag
            return;
        auto num_units_in_tick = static_cast<int32_t>(reader_.ReadBits(32));
        auto time_scale = static_cast<int32_t>(reader_.ReadBits(32));
        if (!say("   Time scale = " + Dec(time_scale / 1000000) + " MHz"))
            return;
        // The rate is time_scale / num_units_in_tick as coded, not halved for field ticks.
        if (num_units_in_tick == 0) {
            say("   Frame rate = unknown");
            return;
        }
        double rate = double(time_scale) / double(num_units_in_tick);
        if (!say("   Frame rate = " + Thousandths(rate, context_.state.DecimalSeparator) + " fps"))
            return;
        // A frame lasts two ticks (one per field): the stream's frames a second.
        if (time_scale > 0 && num_units_in_tick > 0 && videoSlot_ >= 0 &&
            size_t(videoSlot_) < context_.state.StreamFrameRate.size())
            context_.state.StreamFrameRate[size_t(videoSlot_)] = rate / 2;
        // fixed_frame_rate_flag and nal_hrd_parameters_present_flag follow; nothing after them is read.
    }

    AnalyserContext& context_;
    BitReader& reader_;
    int32_t videoSlot_;
    uint32_t profile_idc_ = 0;
    int64_t chroma_format_idc_ = Chroma420; // when the profile codes none
};

// The SPS as its syntax reads it: the bytes from `from` (up to the block's end) with
// each emulation prevention byte (the 03 of 00 00 03) taken out.
size_t UnescapeSps(const AnalyserContext& context, int64_t from, std::array<uint8_t, MaxSpsBytes>& rbsp) {
    size_t size = 0;
    int zeros = 0;
    for (int64_t i = from; i >= 0 && i < context.blockLength && size < rbsp.size(); ++i) {
        const uint8_t byte = context.block()[i];
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        rbsp[size++] = byte;
    }
    return size;
}

} // namespace

void AnalyseH264(AnalyserContext& context, int32_t payloadStart, int32_t payloadLength, uint32_t /*videoFirstPts*/,
                 uint32_t /*currentDts*/, int32_t videoSlot) {
    if (videoSlot >= 0 && size_t(videoSlot) < context.state.SlotFrameRate.size())
        context.state.SlotFrameRate[size_t(videoSlot)] = AssumedFrameRate;

    // The reader is a copy over the block, so the engine's scan position stays where it was.
    BitReader reader = context.startReading(payloadStart);
    // The search ends one byte before the payload's end, and never beyond the block.
    int64_t limit = std::min<int64_t>(int64_t{payloadStart} + payloadLength - 1, context.blockLength);
    reader.FindStartCode(SpsStartCodeRef1, SpsStartCodeRef3, limit);
    std::array<uint8_t, MaxSpsBytes> rbsp;
    const size_t size = UnescapeSps(context, reader.bitPosition() / 8, rbsp);
    BitReader spsReader(rbsp.data(), int64_t(size), 0);
    spsReader.LoadWord();
    SpsReader(context, spsReader, videoSlot).run();
}

} // namespace halyard
