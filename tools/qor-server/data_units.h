#pragma once
// The data units the server sends: MMS data packets (TCP and UDP), the chunks of the HTTP
// streaming body, and the UDP resend request it receives. The parsers serve tests and the
// resend listener; they read only inside the bytes given.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire.h"

namespace qor::server {

inline constexpr uint8_t kTagHeader = 0x02;
inline constexpr uint8_t kTagMedia = 0x04;
inline constexpr uint8_t kTagTiming = 0xFF;
inline constexpr size_t kDataPacketHeaderLength = 8;
// The 16-bit length field counts the 8 header bytes too.
inline constexpr size_t kMaxDataPayload = 0xFFFF - kDataPacketHeaderLength;

// Location id, tag, flags, 16-bit length (header included), payload.
Bytes BuildDataPacket(uint32_t locationId, uint8_t tag, uint8_t flags, const uint8_t* payload,
                      size_t size);
// The same, added to the end of out (several packets sent in one write).
void AppendDataPacket(Bytes& out, uint32_t locationId, uint8_t tag, uint8_t flags,
                      const uint8_t* payload, size_t size);

struct DataPacketView {
  uint32_t locationId = 0;
  uint8_t tag = 0;
  uint8_t flags = 0;
  uint16_t length = 0;
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
};
// False when the bytes do not hold a whole data packet whose length field fits them.
bool ParseDataPacket(const uint8_t* data, size_t size, DataPacketView& out);

// HTTP streaming chunks.
inline constexpr uint8_t kChunkHeader = 'H';
inline constexpr uint8_t kChunkData = 'D';
inline constexpr uint8_t kChunkMeta = 'M';
inline constexpr uint8_t kChunkEnd = 'E';
inline constexpr uint8_t kChunkChange = 'C';
inline constexpr size_t kChunkExtensionLength = 8;

// $H, $D or $M: '$', type, 16-bit length of what follows, then location id, incarnation, AF
// flags and the 16-bit MMS packet size (extension + payload), then the payload.
Bytes BuildPacketChunk(uint8_t type, uint32_t locationId, uint8_t afFlags, const uint8_t* payload,
                       size_t size);
void AppendPacketChunk(Bytes& out, uint8_t type, uint32_t locationId, uint8_t afFlags,
                       const uint8_t* payload, size_t size);
// $E or $C: '$', type, length 4, the 32-bit reason.
Bytes BuildReasonChunk(uint8_t type, uint32_t reason);

struct ChunkView {
  uint8_t mark = 0;  // 0x24, or 0xA4 for a burst
  uint8_t type = 0;
  uint16_t length = 0;
  uint32_t locationId = 0;  // packet chunks
  uint8_t afFlags = 0;
  uint16_t packetSize = 0;
  uint32_t reason = 0;  // reason chunks
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
  size_t total = 0;  // bytes the chunk takes
};
enum class ChunkParse { kNeedMore, kChunk, kBad };
ChunkParse ParseChunk(const uint8_t* data, size_t size, ChunkView& out);

// UDP resend request: 0D F0 EF BE, the client id, two 16-bit words, then 32-bit datagram
// sequences up to the end of the datagram.
inline constexpr uint32_t kResendSignature = 0xBEEFF00D;
inline constexpr size_t kMaxResendEntries = 256;
struct ResendRequest {
  uint32_t clientId = 0;
  std::vector<uint32_t> sequences;
};
bool ParseResendRequest(const uint8_t* data, size_t size, ResendRequest& out);
Bytes BuildResendRequest(uint32_t clientId, const std::vector<uint32_t>& sequences);

}  // namespace qor::server
