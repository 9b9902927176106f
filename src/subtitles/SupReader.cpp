#include "subtitles/SupReader.h"

#include <cstring>

#include "subtitles/SubpictureUnit.h"

namespace halyard {

SupReader::SupReader(std::span<const uint8_t> bytes) : bytes_(bytes), records_(headerAt(0)) {}

// "SP", four bytes of time stamp, four zero bytes.
bool SupReader::headerAt(size_t at) const {
    if (at > bytes_.size() || bytes_.size() - at < RecordHeaderSize)
        return false;
    const uint8_t* p = bytes_.data() + at;
    return p[0] == 'S' && p[1] == 'P' && p[6] == 0 && p[7] == 0 && p[8] == 0 && p[9] == 0;
}

size_t SupReader::nextHeader(size_t from) const {
    for (size_t at = from; at + RecordHeaderSize <= bytes_.size(); ++at) {
        const void* found = std::memchr(bytes_.data() + at, 'S', bytes_.size() - at);
        if (!found)
            break;
        at = size_t(static_cast<const uint8_t*>(found) - bytes_.data());
        if (headerAt(at))
            return at;
    }
    return bytes_.size();
}

bool SupReader::next(SupUnit& unit) {
    unit = SupUnit{};
    if (position_ >= bytes_.size())
        return false;
    if (records_ && headerAt(position_)) {
        const uint8_t* p = bytes_.data() + position_ + 2;
        pts_ = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        position_ += RecordHeaderSize;
        if (position_ >= bytes_.size()) {
            unit.offset = position_ - RecordHeaderSize;
            unit.pts = pts_;
            unit.problem = "the record holds no unit";
            return true;
        }
    }
    unit.offset = position_;
    unit.pts = pts_;
    const std::span<const uint8_t> rest = bytes_.subspan(position_);
    const UnitFormat format = UnitFormatOf(rest);
    const uint32_t size = DeclaredUnitSize(rest);
    const uint32_t smallest = format == UnitFormat::HdDvd ? 10 : 4;
    if (size < smallest || size > rest.size()) {
        // No unit can be read here: go on at the next record.
        unit.problem = size < smallest ? "its size is too small" : "its size runs past the end of the file";
        position_ = records_ ? nextHeader(position_ + 1) : bytes_.size();
        return true;
    }
    unit.data = rest.first(size);
    position_ += size;
    return true;
}

} // namespace halyard
