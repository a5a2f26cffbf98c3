#include "data_units.h"

#include <algorithm>

namespace qor::server {

Bytes BuildDataPacket(uint32_t locationId, uint8_t tag, uint8_t flags, const uint8_t* payload,
                      size_t size) {
  Bytes out;
  out.reserve(kDataPacketHeaderLength + std::min(size, kMaxDataPayload));
  AppendDataPacket(out, locationId, tag, flags, payload, size);
  return out;
}

void AppendDataPacket(Bytes& out, uint32_t locationId, uint8_t tag, uint8_t flags,
                      const uint8_t* payload, size_t size) {
  size = std::min(size, kMaxDataPayload);
  PutU32(out, locationId);
  PutU8(out, tag);
  PutU8(out, flags);
  PutU16(out, static_cast<uint16_t>(kDataPacketHeaderLength + size));
  if (size > 0) out.insert(out.end(), payload, payload + size);
}

bool ParseDataPacket(const uint8_t* data, size_t size, DataPacketView& out) {
  const Reader reader(data, size);
  if (size < kDataPacketHeaderLength) return false;
  out.locationId = reader.U32(0);
  out.tag = reader.U8(4);
  out.flags = reader.U8(5);
  out.length = reader.U16(6);
  if (out.length < kDataPacketHeaderLength || out.length > size) return false;
  out.payload = data + kDataPacketHeaderLength;
  out.payloadSize = out.length - kDataPacketHeaderLength;
  return true;
}

Bytes BuildPacketChunk(uint8_t type, uint32_t locationId, uint8_t afFlags, const uint8_t* payload,
                       size_t size) {
  Bytes out;
  out.reserve(4 + kChunkExtensionLength + size);
  AppendPacketChunk(out, type, locationId, afFlags, payload, size);
  return out;
}

void AppendPacketChunk(Bytes& out, uint8_t type, uint32_t locationId, uint8_t afFlags,
                       const uint8_t* payload, size_t size) {
  size = std::min(size, static_cast<size_t>(0xFFFF) - kChunkExtensionLength);
  const auto packetSize = static_cast<uint16_t>(kChunkExtensionLength + size);
  PutU8(out, '$');
  PutU8(out, type);
  PutU16(out, packetSize);
  PutU32(out, locationId);
  PutU8(out, 0);  // incarnation
  PutU8(out, afFlags);
  PutU16(out, packetSize);
  if (size > 0) out.insert(out.end(), payload, payload + size);
}

Bytes BuildReasonChunk(uint8_t type, uint32_t reason) {
  Bytes out;
  PutU8(out, '$');
  PutU8(out, type);
  PutU16(out, 4);
  PutU32(out, reason);
  return out;
}

ChunkParse ParseChunk(const uint8_t* data, size_t size, ChunkView& out) {
  const Reader reader(data, size);
  if (size < 4) return ChunkParse::kNeedMore;
  out = ChunkView{};
  out.mark = reader.U8(0);
  out.type = reader.U8(1);
  out.length = reader.U16(2);
  if (out.mark != 0x24 && out.mark != 0xA4) return ChunkParse::kBad;
  if (out.type == kChunkEnd || out.type == kChunkChange) {
    if (out.length < 4) return ChunkParse::kBad;
    if (size < 4u + out.length) return ChunkParse::kNeedMore;
    out.reason = reader.U32(4);
    out.total = 4u + out.length;
    return ChunkParse::kChunk;
  }
  if (out.type != kChunkHeader && out.type != kChunkData && out.type != kChunkMeta)
    return ChunkParse::kBad;
  if (out.length < kChunkExtensionLength) return ChunkParse::kBad;
  if (size < 4u + out.length) return ChunkParse::kNeedMore;
  out.locationId = reader.U32(4);
  out.afFlags = reader.U8(9);
  out.packetSize = reader.U16(10);
  if (out.packetSize != out.length) return ChunkParse::kBad;
  out.payload = data + 4 + kChunkExtensionLength;
  out.payloadSize = out.length - kChunkExtensionLength;
  out.total = 4u + out.length;
  return ChunkParse::kChunk;
}

bool ParseResendRequest(const uint8_t* data, size_t size, ResendRequest& out) {
  const Reader reader(data, size);
  if (size < 16 || reader.U32(0) != kResendSignature) return false;
  out.clientId = reader.U32(4);
  out.sequences.clear();
  for (size_t pos = 12; reader.Has(pos, 4) && out.sequences.size() < kMaxResendEntries; pos += 4)
    out.sequences.push_back(reader.U32(pos));
  return true;
}

Bytes BuildResendRequest(uint32_t clientId, const std::vector<uint32_t>& sequences) {
  Bytes out;
  PutU32(out, kResendSignature);
  PutU32(out, clientId);
  PutU16(out, 1);
  PutU16(out, 1);
  for (uint32_t s : sequences) PutU32(out, s);
  return out;
}

}  // namespace qor::server
