#include "http/streaming_header.h"

namespace qor {

namespace {

// The mark byte of a chunk: '$', or '$' with the high bit an MMS-over-HTTP server may set.
bool IsHeaderChunk(const uint8_t* at) {
  return (at[0] == 0x24 || at[0] == 0xA4) && at[1] == 'H';
}

constexpr size_t kChunkHead = 4;       // mark, type, 16-bit length
constexpr size_t kChunkExtension = 8;  // the chunk's own header, counted in its length

}  // namespace

std::vector<uint8_t> StreamingHeaderOf(std::string_view body) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(body.data());
  const size_t size = body.size();
  std::vector<uint8_t> header;
  size_t pos = 0;
  while (size - pos >= kChunkHead && IsHeaderChunk(bytes + pos)) {
    const size_t length = bytes[pos + 2] | static_cast<size_t>(bytes[pos + 3]) << 8;
    if (length < kChunkExtension || length > size - pos - kChunkHead) break;
    const uint8_t* piece = bytes + pos + kChunkHead + kChunkExtension;
    header.insert(header.end(), piece, piece + (length - kChunkExtension));
    pos += kChunkHead + length;
  }
  if (header.empty()) header.assign(bytes, bytes + size);
  return header;
}

}  // namespace qor
