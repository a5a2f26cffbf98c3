#include "stream_filter.h"

#include <algorithm>
#include <cstdlib>

namespace qor::server {

namespace {

constexpr uint32_t kWidth[4] = {0, 1, 2, 4};

uint32_t ReadWidth(const Reader& r, size_t pos, uint32_t width) {
  switch (width) {
    case 1:
      return r.U8(pos);
    case 2:
      return r.U16(pos);
    case 4:
      return r.U32(pos);
    default:
      return 0;
  }
}

}  // namespace

StreamChoice ParseStreamSwitchEntries(const std::string& text) {
  StreamChoice choice;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find(' ', pos), text.size());
    const std::string entry = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t a = entry.find(':');
    const size_t b = a == std::string::npos ? a : entry.find(':', a + 1);
    if (b == std::string::npos || b + 1 >= entry.size() || a + 1 >= b || b - a - 1 > 2) continue;
    const std::string number = entry.substr(a + 1, b - a - 1);
    char* stop = nullptr;
    const unsigned long stream = std::strtoul(number.c_str(), &stop, 16);
    if (*stop != '\0' || stream == 0 || stream > 0x7F) continue;
    choice.named.insert(static_cast<uint8_t>(stream));
    if (entry.substr(b + 1) == "0") choice.streams.insert(static_cast<uint8_t>(stream));
  }
  return choice;
}

bool SplitPacket(const uint8_t* packet, size_t size, PacketParts& out, bool withBytes) {
  // Cleared, not replaced: a caller that walks packet after packet keeps the storage.
  out.ecc.clear();
  out.propertyFlags = 0;
  out.payloads.clear();
  const Reader r(packet, size);
  size_t pos = 0;
  const uint8_t first = r.U8(0);
  if (first & 0x80) {
    if (first & 0x60) return false;  // an error correction layout this walk does not know
    pos = 1 + (first & 0x0F);
  }
  if (!r.Has(0, pos) || !r.Has(pos, 2)) return false;
  out.ecc.assign(packet, packet + pos);
  const uint8_t lengthFlags = r.U8(pos);
  out.propertyFlags = r.U8(pos + 1);
  pos += 2;
  const uint32_t lengthWidth = kWidth[(lengthFlags >> 5) & 3];
  const uint32_t sequenceWidth = kWidth[(lengthFlags >> 1) & 3];
  const uint32_t paddingWidth = kWidth[(lengthFlags >> 3) & 3];
  const size_t packetLength = lengthWidth ? ReadWidth(r, pos, lengthWidth) : size;
  pos += lengthWidth + sequenceWidth;
  const size_t padding = ReadWidth(r, pos, paddingWidth);
  pos += paddingWidth;
  if (!r.Has(pos, 6) || packetLength > size || padding > packetLength) return false;
  std::copy(packet + pos, packet + pos + 6, out.times);
  pos += 6;
  const size_t end = packetLength - padding;
  const uint32_t streamWidth = kWidth[(out.propertyFlags >> 6) & 3];
  const uint32_t objectWidth = kWidth[(out.propertyFlags >> 4) & 3];
  const uint32_t offsetWidth = kWidth[(out.propertyFlags >> 2) & 3];
  const uint32_t replicatedWidth = kWidth[out.propertyFlags & 3];
  if (streamWidth != 1) return false;
  const bool multiple = (lengthFlags & 1) != 0;
  uint32_t count = 1;
  uint32_t payloadLengthWidth = 0;
  if (multiple) {
    if (!r.Has(pos, 1)) return false;
    const uint8_t payloadFlags = r.U8(pos++);
    count = payloadFlags & 0x3F;
    payloadLengthWidth = kWidth[(payloadFlags >> 6) & 3];
  }
  for (uint32_t i = 0; i < count; ++i) {
    const size_t start = pos;
    const uint8_t stream = r.U8(pos) & 0x7F;
    pos += streamWidth + objectWidth + offsetWidth;
    const size_t replicated = ReadWidth(r, pos, replicatedWidth);
    pos += replicatedWidth;
    if (pos > end || replicated > end - pos) return false;
    pos += replicated;
    const size_t headerEnd = pos;
    size_t length = 0;
    if (multiple) {
      if (!r.Has(pos, payloadLengthWidth)) return false;
      length = ReadWidth(r, pos, payloadLengthWidth);
      pos += payloadLengthWidth;
    } else {
      length = end - pos;
    }
    if (pos > end || length > end - pos || length > 0xFFFF) return false;
    PacketParts::Payload p;
    p.stream = stream;
    p.length = static_cast<uint32_t>(length);
    p.headerLength = headerEnd - start;
    if (withBytes) {
      p.bytes.assign(packet + start, packet + headerEnd);
      PutU16(p.bytes, static_cast<uint16_t>(length));
      p.bytes.insert(p.bytes.end(), packet + pos, packet + pos + length);
    }
    pos += length;
    out.payloads.push_back(std::move(p));
  }
  return true;
}

Bytes BuildPacket(const Bytes& ecc, uint8_t propertyFlags, const uint8_t times[6],
                  const std::vector<const PacketParts::Payload*>& payloads, size_t size) {
  if (payloads.empty()) return {};
  Bytes out(ecc);
  PutU8(out, static_cast<uint8_t>(0x01 | (2u << 3)));  // multiple payloads, 16-bit padding length
  PutU8(out, propertyFlags);
  const size_t paddingAt = out.size();
  PutU16(out, 0);
  out.insert(out.end(), times, times + 6);
  PutU8(out, static_cast<uint8_t>(0x80 | std::min<size_t>(payloads.size(), 0x3F)));
  for (const PacketParts::Payload* p : payloads)
    out.insert(out.end(), p->bytes.begin(), p->bytes.end());
  if (payloads.size() > 0x3F || out.size() > size || size - out.size() > 0xFFFF) return {};
  StoreU16(out.data() + paddingAt, static_cast<uint16_t>(size - out.size()));
  out.resize(size, 0);
  return out;
}

Bytes BuildSinglePayloadPacket(const Bytes& ecc, uint8_t propertyFlags, const uint8_t times[6],
                               const PacketParts::Payload& payload, size_t size) {
  const size_t fixed = ecc.size() + 2 + 6 + payload.headerLength + payload.length;
  if (fixed > size || payload.bytes.size() != payload.headerLength + 2 + payload.length) return {};
  const size_t room = size - fixed;
  const uint32_t width = room == 0 ? 0 : room <= 0x100 ? 1 : 2;
  const size_t padding = room - width;
  if (padding > 0xFFFF) return {};
  Bytes out(ecc);
  PutU8(out, static_cast<uint8_t>((width == 0 ? 0 : width == 1 ? 1u : 2u) << 3));
  PutU8(out, propertyFlags);
  if (width == 1) PutU8(out, static_cast<uint8_t>(padding));
  if (width == 2) PutU16(out, static_cast<uint16_t>(padding));
  out.insert(out.end(), times, times + 6);
  const auto headerEnd = payload.bytes.begin() + static_cast<std::ptrdiff_t>(payload.headerLength);
  out.insert(out.end(), payload.bytes.begin(), headerEnd);
  out.insert(out.end(), headerEnd + 2, payload.bytes.end());
  out.resize(size, 0);
  return out;
}

std::string CountsText(const StreamCounts& counts) {
  std::string text;
  for (const auto& [stream, c] : counts) {
    if (!text.empty()) text += ' ';
    text +=
        std::to_string(stream) + "=" + std::to_string(c.payloads) + "/" + std::to_string(c.bytes);
  }
  return text;
}

}  // namespace qor::server
