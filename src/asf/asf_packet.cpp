// The data packet walk: send time, duration, key frames, and the in-place time shift.

#include <algorithm>

#include "asf/asf.h"
#include "asf/asf_bytes.h"
#include "support/message_queue.h"

namespace qor {

namespace {

enum class PacketFault { None, ErrorCorrection, Compressed, NonCompressed };

constexpr uint32_t kWidthOfCode[4] = {0, 1, 2, 4};

// The data of a packet's only payload runs from pos to the padding at the end of the packet.
uint64_t SingleDataLength(size_t length, uint64_t pos, uint32_t padding) {
  return pos + padding < length ? length - pos - padding : 0;
}

// Walks one packet inside [0, length). With shift, every time field is reduced by amount and
// written back at its own width. A field that would lie beyond the packet is a fault of the kind of
// payload being walked (compressed or not); before the payloads it counts as non-compressed.
PacketFault WalkPacket(uint8_t* packet, size_t length, uint32_t amount, bool shift,
                       AsfPacketTimes& times) {
  using asf_detail::StoreLE;
  if (packet == nullptr) length = 0;
  const asf_detail::ByteView view{packet, length};
  times.keyFrame = false;
  times.payloadBytes = 0;

  uint8_t ecFlags = 0;
  if (!view.U8(0, ecFlags) || ecFlags != 0x82) return PacketFault::ErrorCorrection;
  uint8_t lengthFlags = 0, propertyFlags = 0;
  if (!view.U8(3, lengthFlags) || !view.U8(4, propertyFlags)) return PacketFault::NonCompressed;

  const bool multiple = (lengthFlags & 0x01) != 0;
  const uint32_t sequenceWidth = kWidthOfCode[(lengthFlags >> 1) & 3];
  const uint32_t paddingWidth = kWidthOfCode[(lengthFlags >> 3) & 3];
  const uint32_t packetLengthWidth = kWidthOfCode[(lengthFlags >> 5) & 3];
  const uint32_t replicatedWidth = kWidthOfCode[propertyFlags & 3];
  const uint32_t offsetWidth = kWidthOfCode[(propertyFlags >> 2) & 3];
  const uint32_t objectWidth = kWidthOfCode[(propertyFlags >> 4) & 3];
  const uint32_t streamWidth = kWidthOfCode[(propertyFlags >> 6) & 3];

  uint32_t padding = 0;
  if (!view.Sized(5 + packetLengthWidth + sequenceWidth, paddingWidth, padding))
    return PacketFault::NonCompressed;
  uint64_t pos = 5 + packetLengthWidth + sequenceWidth + paddingWidth;
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  if (!view.U32(pos, sendTime)) return PacketFault::NonCompressed;
  if (shift) {
    sendTime -= amount;
    StoreLE(packet + pos, sendTime, 4);
  }
  times.sendTime = sendTime;
  if (!view.U16(pos + 4, duration)) return PacketFault::NonCompressed;
  times.duration = duration;
  pos += 6;

  uint32_t payloads = 1;
  uint32_t payloadLengthWidth = 0;
  if (multiple) {
    uint8_t payloadFlags = 0;
    if (!view.U8(pos, payloadFlags)) return PacketFault::NonCompressed;
    ++pos;
    payloads = payloadFlags & 0x3F;
    payloadLengthWidth = kWidthOfCode[payloadFlags >> 6];
  }

  for (uint32_t walked = 0;;) {
    uint32_t stream = 0, object = 0, offset = 0, replicated = 0;
    if (!view.Sized(pos, streamWidth, stream)) return PacketFault::NonCompressed;
    if (streamWidth > 0 && (stream & 0x80) != 0) times.keyFrame = true;
    pos += streamWidth;
    if (!view.Sized(pos, objectWidth, object)) return PacketFault::NonCompressed;
    pos += objectWidth;
    const uint64_t offsetPos = pos;
    if (!view.Sized(pos, offsetWidth, offset)) return PacketFault::NonCompressed;
    pos += offsetWidth;
    if (!view.Sized(pos, replicatedWidth, replicated)) return PacketFault::NonCompressed;
    pos += replicatedWidth;

    if (replicated == 1) {
      // Compressed payload: the offset field holds the presentation time.
      if (shift && offsetWidth > 0) StoreLE(packet + offsetPos, offset - amount, offsetWidth);
      if (!view.Has(pos, 1)) return PacketFault::Compressed;  // presentation time delta
      ++pos;
      if (!multiple) {  // runs to the end of the packet
        times.payloadBytes = SingleDataLength(length, pos, padding);
        break;
      }
      uint32_t payloadLength = 0;
      if (!view.Sized(pos, payloadLengthWidth, payloadLength)) return PacketFault::Compressed;
      pos += payloadLengthWidth;
      uint64_t sum = 0;
      while (sum < payloadLength) {
        uint8_t subLength = 0;
        if (!view.U8(pos + sum, subLength)) return PacketFault::Compressed;
        sum += 1ull + subLength;
      }
      if (sum != payloadLength || !view.Has(pos, payloadLength)) return PacketFault::Compressed;
      pos += payloadLength;
      times.payloadBytes += payloadLength;
    } else {
      if (replicated >= 8) {
        uint32_t presentation = 0;
        if (!view.U32(pos + 4, presentation)) return PacketFault::NonCompressed;
        if (shift) StoreLE(packet + pos + 4, presentation - amount, 4);
      }
      pos += replicated;
      if (pos > length) return PacketFault::NonCompressed;
      if (!multiple) {  // the payload runs to the end of the packet
        times.payloadBytes = SingleDataLength(length, pos, padding);
        break;
      }
      uint32_t payloadLength = 0;
      if (!view.Sized(pos, payloadLengthWidth, payloadLength)) return PacketFault::NonCompressed;
      pos += payloadLengthWidth + static_cast<uint64_t>(payloadLength);
      if (pos > length) return PacketFault::NonCompressed;
      times.payloadBytes += payloadLength;
    }
    ++walked;
    if (walked >= payloads) break;
  }
  return PacketFault::None;
}

}  // namespace

bool MakeAsfPaddingPacket(uint8_t* packet, size_t packetSize, uint32_t sendTime) {
  using asf_detail::StoreLE;
  // Error correction (as servers write it), then a packet of several payloads that holds none:
  // readers walk its fixed fields, find no payload and skip the padding that fills the rest. (A
  // reader that walks one payload whatever the count finds an empty one in the zeros.)
  constexpr size_t kFixedWithWordPadding = 14;
  // Room for the empty payload header (stream, object, offset, replicated length, length).
  constexpr size_t kEmptyPayload = 9;
  if (packetSize < kFixedWithWordPadding + kEmptyPayload || packetSize > UINT32_MAX) return false;
  const bool wordPadding = packetSize - kFixedWithWordPadding <= UINT16_MAX;
  const size_t fixed = wordPadding ? kFixedWithWordPadding : kFixedWithWordPadding + 2;
  std::fill(packet, packet + packetSize, uint8_t{0});
  packet[0] = 0x82;  // error correction data follows: 2 bytes
  // Multiple payloads; padding length a word or a double word; no sequence, no packet length.
  packet[3] = static_cast<uint8_t>(0x01 | (wordPadding ? 0x10 : 0x18));
  packet[4] = 0x5D;  // the property widths servers use (they describe no payload here)
  const uint32_t paddingWidth = wordPadding ? 2 : 4;
  StoreLE(packet + 5, packetSize - fixed, paddingWidth);
  StoreLE(packet + 5 + paddingWidth, sendTime, 4);
  StoreLE(packet + 9 + paddingWidth, 0, 2);  // duration
  packet[11 + paddingWidth] = 0x80;          // payload lengths are words; 0 payloads
  return true;
}

bool ReadAsfPacketTimes(const uint8_t* packet, size_t length, AsfPacketTimes& times) {
  // Without shift the walk never writes, so the packet may be read-only.
  return WalkPacket(const_cast<uint8_t*>(packet), length, 0, false, times) == PacketFault::None;
}

bool TASF::ParsePacket(uint8_t* packet, size_t length, uint32_t& sendTime, uint16_t& duration,
                       int32_t base, bool shift, bool& keyFrame) {
  AsfPacketTimes times;
  times.sendTime = sendTime;
  times.duration = duration;
  const PacketFault fault = WalkPacket(packet, length, static_cast<uint32_t>(base), shift, times);
  sendTime = times.sendTime;
  duration = times.duration;
  keyFrame = times.keyFrame;
  switch (fault) {
    case PacketFault::None:
      return true;
    case PacketFault::ErrorCorrection:
      Fail("TASF: Core Error, unhandled error correction 0x82 field");
      break;
    case PacketFault::Compressed:
      Fail("TASF: compressed sub-payload pointer missed end");
      break;
    case PacketFault::NonCompressed:
      Fail("TASF: non-compressed payload pointer missed end");
      break;
  }
  return false;
}

}  // namespace qor
