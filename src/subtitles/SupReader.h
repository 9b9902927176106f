#pragma once
// Reads subpicture units from the records a demux writes ("SP" files) or from a plain
// run of units, as the payload of a subpicture stream holds them.
//
// A record: "SP", the unit's PTS less the run's earliest PTS (32-bit little-endian,
// 90 kHz), four zero bytes, then the unit. A record normally holds one unit; a unit
// whose packet had no PTS follows in the record before it, with that record's PTS.
#include <cstdint>
#include <span>
#include <string>

namespace halyard {

struct SupUnit {
    uint64_t offset = 0;  // of the unit's first byte (or of the bytes passed over) in the file
    uint32_t pts = 0;     // the record's time stamp (0 for a plain run of units)
    std::span<const uint8_t> data; // the unit, as long as it says it is
    // Set when these bytes are no unit that can be read: data is then empty and the
    // reader has moved on to the next record.
    std::string problem;
};

class SupReader {
public:
    // Records when the bytes begin with a record header, else a plain run of units.
    explicit SupReader(std::span<const uint8_t> bytes);

    bool records() const { return records_; }
    // The next unit, or bytes passed over; false at the end.
    bool next(SupUnit& unit);

    static constexpr size_t RecordHeaderSize = 10;

private:
    bool headerAt(size_t at) const;
    size_t nextHeader(size_t from) const;

    std::span<const uint8_t> bytes_;
    bool records_;
    size_t position_ = 0;
    uint32_t pts_ = 0;
};

} // namespace halyard
