#pragma once
// The streams a client asked for (HTTP stream-switch entries, MMS stream selection 0x33), and the
// payloads of ASF data packets taken apart and packed again, so that a client that chose one
// rate of a multiple-bit-rate title gets full packets of that rate only, as from a real server.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "wire.h"

namespace qor::server {

struct StreamChoice {
  // Empty: every stream.
  std::set<uint8_t> streams;
  // Every stream the client named, sent or left out: the streams of the header it chose from.
  std::set<uint8_t> named;
  bool All() const { return streams.empty(); }
  bool Wants(uint8_t stream) const { return streams.empty() || streams.count(stream & 0x7F) != 0; }
};

// "ffff:N:A ..." (N hexadecimal): streams with action 0 are wanted, any other action (2 is off)
// leaves the stream out. An entry that does not read as one is skipped; when no stream is wanted
// the choice is every stream.
StreamChoice ParseStreamSwitchEntries(const std::string& text);

// One data packet taken apart. Each payload is kept in the multiple-payload layout with a 16-bit
// payload length: its stream number byte up to its replicated data, the length, the data.
struct PacketParts {
  Bytes ecc;  // the error correction bytes as they were
  uint8_t propertyFlags = 0;
  uint8_t times[6] = {};  // send time, duration
  struct Payload {
    uint8_t stream = 0;       // 7-bit
    uint32_t length = 0;      // of the payload data
    size_t headerLength = 0;  // stream number byte up to the replicated data's end
    Bytes bytes;
  };
  std::vector<Payload> payloads;
};
// False when the packet cannot be walked inside size. Without bytes only each payload's stream,
// length and header length are filled in.
bool SplitPacket(const uint8_t* packet, size_t size, PacketParts& out, bool withBytes = true);

// The header of a packet built by BuildPacket: error correction, the two flag bytes, a 16-bit
// padding length, send time and duration, the payload flags.
inline size_t BuiltHeaderLength(const Bytes& ecc) {
  return ecc.size() + 2 + 2 + 6 + 1;
}
// A fixed-size packet (no packet length or sequence field) of the payloads given, padded to size.
// Empty when they do not fit (or there are none).
Bytes BuildPacket(const Bytes& ecc, uint8_t propertyFlags, const uint8_t times[6],
                  const std::vector<const PacketParts::Payload*>& payloads, size_t size);
// A packet of one payload without a length field, as a payload that fills a packet on its own
// came; the padding length field only as wide as the padding needs. Empty when it does not fit.
Bytes BuildSinglePayloadPacket(const Bytes& ecc, uint8_t propertyFlags, const uint8_t times[6],
                               const PacketParts::Payload& payload, size_t size);

struct StreamCount {
  uint64_t payloads = 0;
  uint64_t bytes = 0;
};
using StreamCounts = std::map<uint8_t, StreamCount>;
// "1=P/B 2=P/B ...": payloads and payload data bytes sent per stream number.
std::string CountsText(const StreamCounts& counts);

}  // namespace qor::server
