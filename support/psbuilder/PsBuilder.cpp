#include "PsBuilder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace psb {

namespace {

constexpr uint8_t kStartCodePrefix[3] = {0x00, 0x00, 0x01};
constexpr uint8_t kStuffingByte = 0xFF;

// '10' scrambling(00) priority(0) data_alignment copyright(0) original(1)
constexpr uint8_t kPesFlags1 = 0x81;
constexpr uint8_t kDataAlignmentBit = 0x04;
// PES extension flags: private_data(0) pack_header(0) sequence_counter(0)
// P-STD_buffer reserved('111') PES_extension_flag_2
constexpr uint8_t kExtensionReservedBits = 0x0E;
constexpr uint8_t kExtensionPstdBit = 0x10;
constexpr uint8_t kExtension2Bit = 0x01;
// marker(1) PES_extension_field_length(7) = 1: only the stream id extension follows
constexpr uint8_t kExtension2FieldLength = 0x81;

constexpr std::size_t kSystemHeaderFixedSize = 12;

void appendStartCode(Bytes& out, uint8_t id) {
    for (uint8_t byte : kStartCodePrefix)
        out.push_back(byte);
    out.push_back(id);
}

void appendBe16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

SubstreamFamily substreamFamily(uint8_t id) {
    if ((id & 0xE0) == 0x20) return SubstreamFamily::Subpicture;
    if ((id & 0xE0) == 0x60) return SubstreamFamily::ExtendedSubpicture;
    if ((id & 0xF8) == 0x80) return SubstreamFamily::Ac3;
    if ((id & 0xF8) == 0x88) return SubstreamFamily::Dts;
    if ((id & 0xF8) == 0xA0) return SubstreamFamily::Lpcm;
    if ((id & 0xF8) == 0xB0) return SubstreamFamily::TrueHd;
    if ((id & 0xF0) == 0xC0) return SubstreamFamily::Eac3;
    return SubstreamFamily::Unknown;
}

std::size_t substreamExtraBytes(uint8_t id) {
    switch (substreamFamily(id)) {
        case SubstreamFamily::Lpcm: return 3;
        case SubstreamFamily::TrueHd: return 1;
        default: return 0;
    }
}

std::size_t substreamHeaderSize(uint8_t id) {
    switch (substreamFamily(id)) {
        case SubstreamFamily::Subpicture:
        case SubstreamFamily::ExtendedSubpicture: return 1;
        default: return 4 + substreamExtraBytes(id);
    }
}

Bytes encodeTimestamp(uint8_t prefix, uint64_t ts) {
    ts &= kTimestampMask;
    return Bytes{
        static_cast<uint8_t>((prefix << 4) | (((ts >> 30) & 0x07) << 1) | 1),
        static_cast<uint8_t>(ts >> 22),
        static_cast<uint8_t>((((ts >> 15) & 0x7F) << 1) | 1),
        static_cast<uint8_t>(ts >> 7),
        static_cast<uint8_t>(((ts & 0x7F) << 1) | 1),
    };
}

uint32_t crc32Mpeg2(const uint8_t* data, std::size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void putBe16(Bytes& out, std::size_t offset, uint16_t value) {
    out.at(offset) = static_cast<uint8_t>(value >> 8);
    out.at(offset + 1) = static_cast<uint8_t>(value);
}

void putBe32(Bytes& out, std::size_t offset, uint32_t value) {
    putBe16(out, offset, static_cast<uint16_t>(value >> 16));
    putBe16(out, offset + 2, static_cast<uint16_t>(value));
}

uint16_t readBe16(const Bytes& in, std::size_t offset) {
    return static_cast<uint16_t>((in.at(offset) << 8) | in.at(offset + 1));
}

uint32_t readBe32(const Bytes& in, std::size_t offset) {
    return (uint32_t{readBe16(in, offset)} << 16) | readBe16(in, offset + 2);
}

// ---------------------------------------------------------------- PackHeader

PackHeader& PackHeader::scr(uint64_t base, uint16_t extension) {
    scrBase_ = base & kTimestampMask;
    scrExtension_ = static_cast<uint16_t>(extension % 300);
    return *this;
}

PackHeader& PackHeader::scr27MHz(uint64_t clock) { return scr(clock / 300, clock % 300); }

PackHeader& PackHeader::muxRate(uint32_t value) {
    muxRate_ = value & 0x3FFFFF;
    return *this;
}

PackHeader& PackHeader::stuffing(uint8_t count) {
    if (count > 7) throw std::invalid_argument("pack_stuffing_length is 3 bits");
    stuffing_ = count;
    return *this;
}

Bytes PackHeader::build() const {
    BitWriter w;
    w.bytes(Bytes{0x00, 0x00, 0x01, sid::kPackStart});
    w.put(0b01, 2);
    w.put(scrBase_ >> 30, 3).marker();  // SCR_base[32..30]
    w.put(scrBase_ >> 15, 15).marker();  // SCR_base[29..15]
    w.put(scrBase_, 15).marker();  // SCR_base[14..0]
    w.put(scrExtension_, 9).marker();  // SCR_extension
    w.put(muxRate_, 22).marker().marker();  // program_mux_rate
    w.put(0x1F, 5).put(stuffing_, 3);  // reserved, pack_stuffing_length
    Bytes out = w.data();
    out.insert(out.end(), stuffing_, kStuffingByte);
    return out;
}

// -------------------------------------------------------------- SystemHeader

SystemHeader& SystemHeader::rateBound(uint32_t value) { rateBound_ = value & 0x3FFFFF; return *this; }
SystemHeader& SystemHeader::audioBound(uint8_t value) { audioBound_ = value & 0x3F; return *this; }
SystemHeader& SystemHeader::videoBound(uint8_t value) { videoBound_ = value & 0x1F; return *this; }
SystemHeader& SystemHeader::fixedFlag(bool value) { fixed_ = value; return *this; }
SystemHeader& SystemHeader::cspsFlag(bool value) { csps_ = value; return *this; }
SystemHeader& SystemHeader::audioLock(bool value) { audioLock_ = value; return *this; }
SystemHeader& SystemHeader::videoLock(bool value) { videoLock_ = value; return *this; }
SystemHeader& SystemHeader::packetRateRestriction(bool value) { packetRateRestriction_ = value; return *this; }

SystemHeader& SystemHeader::addStream(uint8_t streamId, bool scale, uint16_t sizeBound) {
    streams_.push_back({streamId, scale, static_cast<uint16_t>(sizeBound & 0x1FFF)});
    return *this;
}

SystemHeader& SystemHeader::clearStreams() {
    streams_.clear();
    return *this;
}

SystemHeader SystemHeader::dvd(uint8_t audioBound, uint8_t videoBound) {
    SystemHeader h;
    // CSPS off, packet rate restriction on: 04 E1 FF for one audio and one video stream.
    h.audioBound(audioBound).videoBound(videoBound).cspsFlag(false).packetRateRestriction(true);
    h.addStream(sid::kAllVideo, true, 232);     // 232 KiB video buffer
    h.addStream(sid::kAllAudio, false, 32);     // 4 KiB audio buffer
    h.addStream(sid::kPrivateStream1, true, 58);
    h.addStream(sid::kPrivateStream2, true, 2);
    return h;
}

Bytes SystemHeader::build() const {
    BitWriter w;
    w.bytes(Bytes{0x00, 0x00, 0x01, sid::kSystemHeader});
    w.put(size() - 6, 16);  // header_length
    w.marker().put(rateBound_, 22).marker();
    w.put(audioBound_, 6).flag(fixed_).flag(csps_);
    w.flag(audioLock_).flag(videoLock_).marker().put(videoBound_, 5);
    w.flag(packetRateRestriction_).put(0x7F, 7);
    for (const auto& s : streams_) w.put(s.streamId, 8).put(0b11, 2).flag(s.scale).put(s.sizeBound, 13);
    return w.data();
}

// ----------------------------------------------------------------------- Pes

Pes::Pes(uint8_t streamId) : streamId_(streamId) {}

Pes& Pes::streamId(uint8_t id) { streamId_ = id; return *this; }
Pes& Pes::pts(uint64_t value) { pts_ = value & kTimestampMask; return *this; }
Pes& Pes::dts(uint64_t value) { dts_ = value & kTimestampMask; return *this; }
Pes& Pes::pstd(bool scale, uint16_t size) { pstd_ = std::make_pair(scale, static_cast<uint16_t>(size & 0x1FFF)); return *this; }
Pes& Pes::streamIdExtension(uint8_t ext) { extension_ = ext & 0x7F; return *this; }
Pes& Pes::emptyExtension() { emptyExtension_ = true; return *this; }
Pes& Pes::stuffing(std::size_t count) { stuffing_ = count; return *this; }
Pes& Pes::dataAlignment(bool value) { dataAlignment_ = value; return *this; }
Pes& Pes::substream(uint8_t id) { substream_ = id; return *this; }
Pes& Pes::frameCount(uint8_t count) { frameCount_ = count; return *this; }
Pes& Pes::firstAccessUnit(uint16_t pointer) { firstAccessUnit_ = pointer; return *this; }
Pes& Pes::lpcmHeader(uint8_t b5, uint8_t b6, uint8_t b7) { lpcmHeader_ = {b5, b6, b7}; return *this; }
Pes& Pes::trueHdHeaderByte(uint8_t value) { trueHdByte_ = value; return *this; }
Pes& Pes::payload(Bytes data) { payload_ = std::move(data); return *this; }
Pes& Pes::payload(const uint8_t* data, std::size_t size) { payload_.assign(data, data + size); return *this; }
Pes& Pes::packetLength(uint16_t value) { packetLength_ = value; return *this; }

std::size_t Pes::pesHeaderDataLength() const {
    std::size_t n = stuffing_;
    if (pts_) n += 5;
    if (pts_ && dts_) n += 5;
    if (hasExtension()) n += 1 + (pstd_ ? 2 : 0) + (extension_ ? 2 : 0);
    return n;
}

std::size_t Pes::headerSize() const {
    std::size_t n = kPacketPrefixSize + 3 + pesHeaderDataLength();
    if (substream_) n += substreamHeaderSize(*substream_);
    return n;
}

std::size_t Pes::payloadRoom(std::size_t packetSize) const {
    const std::size_t header = headerSize();
    return packetSize > header ? packetSize - header : 0;
}

void Pes::appendOptionalFields(Bytes& out) const {
    if (pts_) {
        const Bytes p = encodeTimestamp(dts_ ? kPtsWithDtsPrefix : kPtsOnlyPrefix, *pts_);
        out.insert(out.end(), p.begin(), p.end());
        if (dts_) {
            const Bytes d = encodeTimestamp(kDtsPrefix, *dts_);
            out.insert(out.end(), d.begin(), d.end());
        }
    }
    if (hasExtension()) {
        out.push_back(static_cast<uint8_t>(kExtensionReservedBits | (pstd_ ? kExtensionPstdBit : 0) |
                                           (extension_ ? kExtension2Bit : 0)));
        if (pstd_) {
            // '01' P-STD_buffer_scale(1) P-STD_buffer_size(13)
            const auto [scale, size] = *pstd_;
            out.push_back(static_cast<uint8_t>(0x40 | (scale ? 0x20 : 0) | (size >> 8)));
            out.push_back(static_cast<uint8_t>(size));
        }
        if (extension_) {
            out.push_back(kExtension2FieldLength);
            out.push_back(*extension_);  // stream_id_extension_flag(0) stream_id_extension(7)
        }
    }
    out.insert(out.end(), stuffing_, kStuffingByte);
}

void Pes::appendSubstreamHeader(Bytes& out) const {
    if (!substream_) return;
    const uint8_t id = *substream_;
    out.push_back(id);
    const SubstreamFamily family = substreamFamily(id);
    if (family == SubstreamFamily::Subpicture || family == SubstreamFamily::ExtendedSubpicture) return;
    // number_of_frame_headers(8), first_access_unit_pointer(16): the pointer
    // counts from the last byte of the pointer field, so a frame that starts
    // at the first payload byte has pointer 1 + the extra header bytes.
    const std::size_t extra = substreamExtraBytes(id);
    const uint16_t pointer =
        firstAccessUnit_.value_or(frameCount_ ? static_cast<uint16_t>(extra + 1) : 0);
    out.push_back(frameCount_);
    appendBe16(out, pointer);
    if (family == SubstreamFamily::Lpcm) out.insert(out.end(), lpcmHeader_.begin(), lpcmHeader_.end());
    if (family == SubstreamFamily::TrueHd) out.push_back(trueHdByte_);
}

Bytes Pes::build() const {
    if (dts_ && !pts_) throw std::logic_error("Pes: a DTS needs a PTS");
    const std::size_t headerDataLength = pesHeaderDataLength();
    if (headerDataLength > 0xFF) throw std::length_error("Pes: PES_header_data_length over 255");
    const std::size_t total = size();
    if (!packetLength_ && total - kPacketPrefixSize > kMaxPacketLength)
        throw std::length_error("Pes: packet longer than 65535 bytes");

    Bytes out;
    out.reserve(total);
    appendStartCode(out, streamId_);
    appendBe16(out, packetLength_.value_or(static_cast<uint16_t>(total - kPacketPrefixSize)));
    out.push_back(static_cast<uint8_t>(kPesFlags1 | (dataAlignment_ ? kDataAlignmentBit : 0)));
    const uint8_t ptsDtsFlags = pts_ ? (dts_ ? 0b11 : 0b10) : 0b00;
    out.push_back(static_cast<uint8_t>((ptsDtsFlags << 6) | (hasExtension() ? 1 : 0)));
    out.push_back(static_cast<uint8_t>(headerDataLength));
    appendOptionalFields(out);
    appendSubstreamHeader(out);
    out.insert(out.end(), payload_.begin(), payload_.end());
    return out;
}

// ------------------------------------------------------------ simple packets

Bytes rawPacket(uint8_t streamId, const Bytes& body) {
    if (body.size() > kMaxPacketLength) throw std::length_error("rawPacket: body too long");
    Bytes out;
    out.reserve(kPacketPrefixSize + body.size());
    appendStartCode(out, streamId);
    appendBe16(out, static_cast<uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes paddingPacket(std::size_t totalSize, uint8_t fill) {
    if (totalSize < kPacketPrefixSize) throw std::invalid_argument("paddingPacket: under 6 bytes");
    return rawPacket(sid::kPadding, Bytes(totalSize - kPacketPrefixSize, fill));
}

// ---------------------------------------------------------- ProgramStreamMap

ProgramStreamMap& ProgramStreamMap::version(uint8_t value) { version_ = value & 0x1F; return *this; }

ProgramStreamMap& ProgramStreamMap::addStream(uint8_t streamType, uint8_t streamId, Bytes descriptors) {
    entries_.push_back({streamType, streamId, std::move(descriptors)});
    return *this;
}

Bytes ProgramStreamMap::build() const {
    Bytes map;
    for (const auto& e : entries_) {
        map.push_back(e.type);
        map.push_back(e.id);
        appendBe16(map, static_cast<uint16_t>(e.descriptors.size()));
        map.insert(map.end(), e.descriptors.begin(), e.descriptors.end());
    }
    Bytes out;
    appendStartCode(out, sid::kProgramStreamMap);
    // length: flags (2) + info length (2) + map length (2) + map + CRC (4)
    appendBe16(out, static_cast<uint16_t>(2 + 2 + 2 + map.size() + 4));
    out.push_back(static_cast<uint8_t>(0x80 | 0x60 | version_));  // current_next_indicator, reserved, version
    out.push_back(0xFF);  // reserved(7) marker(1)
    appendBe16(out, 0);   // program_stream_info_length
    appendBe16(out, static_cast<uint16_t>(map.size()));
    out.insert(out.end(), map.begin(), map.end());
    const uint32_t crc = crc32Mpeg2(out.data(), out.size());
    appendBe16(out, static_cast<uint16_t>(crc >> 16));
    appendBe16(out, static_cast<uint16_t>(crc));
    return out;
}

// ------------------------------------------------------------------- NavPack

NavPack::NavPack() : systemHeader_(SystemHeader::dvd()) {}

NavPack& NavPack::header(PackHeader value) { header_ = value; return *this; }
NavPack& NavPack::scr(uint64_t base, uint16_t extension) { header_.scr(base, extension); return *this; }
NavPack& NavPack::systemHeader(std::optional<SystemHeader> value) { systemHeader_ = std::move(value); return *this; }
NavPack& NavPack::layout(NavLayout value) { layout_ = value; return *this; }
NavPack& NavPack::vobNumber(uint16_t value) { vobNumber_ = value; return *this; }
NavPack& NavPack::cellNumber(uint8_t value) { cellNumber_ = value; return *this; }
NavPack& NavPack::startPtm(uint32_t value) { startPtm_ = value; return *this; }
NavPack& NavPack::endPtm(uint32_t value) { endPtm_ = value; return *this; }
NavPack& NavPack::vobuStartPtm(uint32_t value) { vobuStartPtm_ = value; return *this; }
NavPack& NavPack::vobuEndPtm(uint32_t value) { vobuEndPtm_ = value; return *this; }
NavPack& NavPack::packNumber(uint32_t lbn) { packNumber_ = lbn; return *this; }
NavPack& NavPack::vobuEndAddress(uint32_t packs) { vobuEndAddress_ = packs; return *this; }

NavPack& NavPack::audioSync(std::size_t index, uint16_t value) {
    audioSync_.at(index) = value;
    return *this;
}

NavPack& NavPack::subpictureSync(std::size_t index, uint32_t value) {
    subpictureSync_.at(index) = value;
    return *this;
}

std::size_t NavPack::dsiDataOffset() const { return kPackSize - dsiDataSize(); }

std::size_t NavPack::dsiDataSize() const {
    return layout_ == NavLayout::HdDvd ? dsi::kHdDvdDataSize : dsi::kDataSize;
}

std::size_t NavPack::pciDataOffset() const {
    return header_.size() + (systemHeader_ ? systemHeader_->size() : 0) + kPacketPrefixSize + 1;
}

void NavPack::writeSyncTable(Bytes& data, std::size_t audioAt, std::size_t subpictureAt) const {
    for (std::size_t i = 0; i < audioSync_.size(); ++i) putBe16(data, audioAt + 2 * i, audioSync_[i]);
    for (std::size_t i = 0; i < subpictureSync_.size(); ++i)
        putBe32(data, subpictureAt + 4 * i, subpictureSync_[i]);
}

Bytes NavPack::build() const {
    Bytes out = header_.build();
    if (systemHeader_) {
        const Bytes sys = systemHeader_->build();
        out.insert(out.end(), sys.begin(), sys.end());
    }
    const std::size_t used = out.size() + 2 * kPacketPrefixSize + 1 + dsiDataSize();
    if (used + 1 > kPackSize) throw std::length_error("NavPack: system header leaves no room for the PCI");
    const std::size_t pciLength = kPackSize - used;

    Bytes pciBody(pciLength, 0);
    pciBody[0] = navsub::kPci;
    if (pciLength >= 1 + pci::kVobuEndPtm + 4) {
        putBe32(pciBody, 1 + pci::kNavPackLbn, packNumber_);
        putBe32(pciBody, 1 + pci::kVobuStartPtm, vobuStartPtm_);
        putBe32(pciBody, 1 + pci::kVobuEndPtm, vobuEndPtm_);
    }
    const Bytes pciPacket = rawPacket(sid::kPrivateStream2, pciBody);
    out.insert(out.end(), pciPacket.begin(), pciPacket.end());

    Bytes dsiData(dsiDataSize(), 0);
    putBe32(dsiData, dsi::kNavPackScr, static_cast<uint32_t>(header_.scrBase()));
    putBe32(dsiData, dsi::kNavPackLbn, packNumber_);
    putBe32(dsiData, dsi::kVobuEndAddress, vobuEndAddress_);
    putBe16(dsiData, dsi::kVobNumber, vobNumber_);
    dsiData[dsi::kCellNumber] = cellNumber_;
    putBe32(dsiData, dsi::kStartPtm, startPtm_);
    putBe32(dsiData, dsi::kEndPtm, endPtm_);
    // DVD fields first: the HD DVD audio entries overlap the last DVD subpicture entries.
    if (layout_ == NavLayout::Both || layout_ == NavLayout::Vob)
        writeSyncTable(dsiData, dsi::kAudioSyncVob, dsi::kSubpictureSyncVob);
    if (layout_ != NavLayout::Vob) writeSyncTable(dsiData, dsi::kAudioSyncEvo, dsi::kSubpictureSyncEvo);

    Bytes dsiBody(1 + dsiData.size());
    dsiBody[0] = navsub::kDsi;
    std::copy(dsiData.begin(), dsiData.end(), dsiBody.begin() + 1);
    const Bytes dsiPacket = rawPacket(sid::kPrivateStream2, dsiBody);
    out.insert(out.end(), dsiPacket.begin(), dsiPacket.end());
    return out;
}

// ---------------------------------------------------------------------- Pack

Pack& Pack::header(PackHeader value) { header_ = value; return *this; }
Pack& Pack::scr(uint64_t base, uint16_t extension) { header_.scr(base, extension); return *this; }
Pack& Pack::add(Bytes packet) { packets_.push_back(std::move(packet)); return *this; }
Pack& Pack::fill(bool value) { fill_ = value; return *this; }

std::size_t Pack::contentSize() const {
    std::size_t n = header_.size();
    for (const auto& p : packets_) n += p.size();
    return n;
}

std::size_t Pack::room() const {
    const std::size_t n = contentSize();
    return n < kPackSize ? kPackSize - n : 0;
}

Bytes Pack::build() const {
    const std::size_t content = contentSize();
    if (fill_ && content > kPackSize) throw std::length_error("Pack: content over 2048 bytes");
    const std::size_t gap = fill_ ? kPackSize - content : 0;
    PackHeader header = header_;
    if (gap > 0 && gap < kPacketPrefixSize) {
        if (header.stuffingCount() + gap > 7) throw std::length_error("Pack: gap too small for padding");
        header.stuffing(static_cast<uint8_t>(header.stuffingCount() + gap));
    }
    Bytes out = header.build();
    out.reserve(kPackSize);
    for (const auto& p : packets_) out.insert(out.end(), p.begin(), p.end());
    if (gap >= kPacketPrefixSize) {
        const Bytes pad = paddingPacket(gap);
        out.insert(out.end(), pad.begin(), pad.end());
    }
    return out;
}

// ------------------------------------------------------------------ PsStream

PsStream& PsStream::append(const Bytes& data) {
    data_.insert(data_.end(), data.begin(), data.end());
    return *this;
}

PsStream& PsStream::padTo(std::size_t offset) {
    if (offset < data_.size()) throw std::logic_error("PsStream::padTo: already past the offset");
    constexpr std::size_t kLargest = kPacketPrefixSize + kMaxPacketLength;
    std::size_t remaining = offset - data_.size();
    while (remaining >= kPacketPrefixSize) {
        std::size_t chunk = std::min(remaining, kLargest);
        if (remaining - chunk > 0 && remaining - chunk < kPacketPrefixSize) chunk -= kPacketPrefixSize;
        append(paddingPacket(chunk));
        remaining -= chunk;
    }
    data_.insert(data_.end(), remaining, 0x00);
    return *this;
}

PsStream& PsStream::padPacksTo(std::size_t offset, uint64_t scrBase) {
    if (data_.size() % kPackSize != 0 || offset % kPackSize != 0)
        throw std::logic_error("PsStream::padPacksTo: not at a pack boundary");
    if (offset < data_.size()) throw std::logic_error("PsStream::padPacksTo: already past the offset");
    while (data_.size() < offset) append(Pack().scr(scrBase).build());
    return *this;
}

PsStream& PsStream::appendAcross(const Pes& pes, std::size_t boundary, std::size_t payloadBytesBefore) {
    const std::size_t header = pes.headerSize();
    if (boundary < payloadBytesBefore + header || boundary - payloadBytesBefore - header < data_.size())
        throw std::logic_error("PsStream::appendAcross: the stream is already past the start");
    padTo(boundary - payloadBytesBefore - header);
    return append(pes.build());
}

void PsStream::writeFile(const std::string& path) const { psb::writeFile(path, data_); }

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace psb
