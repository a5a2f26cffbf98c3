#include "session/rtp_asf.h"

namespace qor {

namespace {

constexpr uint8_t kKey = 0x80, kLength = 0x40, kRelative = 0x20, kDuration = 0x10, kLocation = 0x08;

size_t FormatHeaderLength(uint8_t flags) {
  return 4 + ((flags & kRelative) ? 4 : 0) + ((flags & kDuration) ? 4 : 0) +
         ((flags & kLocation) ? 4 : 0);
}

uint32_t Be24(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

// The LocationId of the payload format header at p (whose length was checked), when it has one.
bool LocationOf(const uint8_t* p, uint32_t& location) {
  const uint8_t flags = p[0];
  if (!(flags & kLocation)) return false;
  const uint8_t* at = p + 4 + ((flags & kRelative) ? 4 : 0) + ((flags & kDuration) ? 4 : 0);
  location = (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
  return true;
}

}  // namespace

bool ReadRtpHeader(const uint8_t* data, size_t size, RtpHeaderView& out) {
  if (size < 12 || (data[0] >> 6) != 2) return false;
  size_t offset = 12 + size_t{4} * (data[0] & 0x0F);
  if (offset > size) return false;
  if (data[0] & 0x10) {  // header extension: 16-bit profile, 16-bit length in words
    if (size - offset < 4) return false;
    const size_t words = (size_t{data[offset + 2]} << 8) | data[offset + 3];
    if (size - offset - 4 < words * 4) return false;
    offset += 4 + words * 4;
  }
  size_t end = size;
  if (data[0] & 0x20) {  // padding: its count is the last byte
    const size_t padding = data[size - 1];
    if (padding == 0 || padding > size - offset) return false;
    end -= padding;
  }
  out.payloadType = data[1] & 0x7F;
  out.marker = (data[1] & 0x80) != 0;
  out.sequence = static_cast<uint16_t>((data[2] << 8) | data[3]);
  out.timestamp =
      (uint32_t{data[4]} << 24) | (uint32_t{data[5]} << 16) | (uint32_t{data[6]} << 8) | data[7];
  out.ssrc =
      (uint32_t{data[8]} << 24) | (uint32_t{data[9]} << 16) | (uint32_t{data[10]} << 8) | data[11];
  out.payloadOffset = offset;
  out.payloadSize = end - offset;
  return true;
}

// True when the payload reads as whole packets, one after another, to its very end.
bool RtpAsfAssembler::Chain(const uint8_t* payload, size_t size, Reading reading) const {
  size_t at = 0;
  while (at < size) {
    if (size - at < 4) return false;
    const uint8_t flags = payload[at];
    const size_t header = FormatHeaderLength(flags);
    if (!(flags & kLength) || size - at < header) return false;
    size_t length = Be24(payload + at + 1);
    if (reading == Reading::kWithHeader) {
      if (length < header) return false;
      length -= header;
    }
    if (length == 0 || length > packetSize_ || size - at - header < length) return false;
    at += header + length;
  }
  return true;
}

bool RtpAsfAssembler::Take(const uint8_t* payload, size_t size, bool marker, uint32_t timestamp,
                           std::vector<AsfFromRtp>& out) {
  if (size < 4) {
    partial_.clear();
    return false;
  }
  const uint8_t first = payload[0];
  const size_t header = FormatHeaderLength(first);
  if (size < header) {
    partial_.clear();
    return false;
  }
  if (!(first & kLength)) {
    // A fragment: it must go on where the collected part ends.
    const uint32_t offset = Be24(payload + 1);
    const size_t bytes = size - header;
    if (offset == 0) {
      partial_.clear();
      partialKey_ = (first & kKey) != 0;
      partialTime_ = timestamp;
      partialHasLocation_ = LocationOf(payload, partialLocation_);
    } else if (offset != partial_.size()) {
      partial_.clear();  // a fragment before this one was lost
      return true;
    }
    if (partial_.size() + bytes > packetSize_) {
      partial_.clear();
      return false;
    }
    partial_.insert(partial_.end(), payload + header, payload + size);
    if (marker || partial_.size() == packetSize_) {
      AsfFromRtp whole;
      whole.packet = std::move(partial_);
      whole.keyFrame = partialKey_;
      whole.timestamp = partialTime_;
      whole.hasLocationId = partialHasLocation_;
      whole.locationId = partialLocation_;
      out.push_back(std::move(whole));
      partial_.clear();
    }
    return true;
  }
  partial_.clear();
  // Whole packets: the reading already known, else the one that ends on the payload's end
  // (the larger candidate first, as a whole packet has the header's packet size or less).
  Reading reading = reading_;
  if (reading == Reading::kUnknown || !Chain(payload, size, reading)) {
    if (Chain(payload, size, Reading::kPacketOnly))
      reading = Reading::kPacketOnly;
    else if (Chain(payload, size, Reading::kWithHeader))
      reading = Reading::kWithHeader;
    else
      return false;
    // Only a payload of several packets tells the readings apart for good.
    const bool decisive =
        !Chain(payload, size,
               reading == Reading::kPacketOnly ? Reading::kWithHeader : Reading::kPacketOnly);
    if (decisive) reading_ = reading;
  }
  size_t at = 0;
  while (at < size) {
    const uint8_t flags = payload[at];
    const size_t h = FormatHeaderLength(flags);
    size_t length = Be24(payload + at + 1);
    if (reading == Reading::kWithHeader) length -= h;
    AsfFromRtp packet;
    packet.packet.assign(payload + at + h, payload + at + h + length);
    packet.keyFrame = (flags & kKey) != 0;
    packet.timestamp = timestamp;
    packet.hasLocationId = LocationOf(payload + at, packet.locationId);
    out.push_back(std::move(packet));
    at += h + length;
  }
  return true;
}

}  // namespace qor
