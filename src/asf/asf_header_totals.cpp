#include "asf/asf_header_totals.h"

#include "asf/asf.h"
#include "asf/asf_bytes.h"

namespace qor {

using asf_detail::ByteView;
using asf_detail::StoreLE;

namespace {

// Bytes of the File Properties Object up to and including its maximum bitrate.
constexpr uint64_t kFilePropertiesFixed = 104;
// The Header Object's own fields: GUID, size, child count, two reserved bytes.
constexpr uint64_t kHeaderObjectFixed = 30;
constexpr uint64_t kObjectHeader = 24;  // GUID and size

}  // namespace

bool LocateAsfHeader(const uint8_t* header, size_t length, AsfHeaderLayout& layout) {
  layout = AsfHeaderLayout{};
  const ByteView v{header, length};
  uint64_t headerSize = 0;
  if (!v.Matches(0, asf_guid::kHeaderObject, 6) || !v.U64(16, headerSize) ||
      headerSize < kHeaderObjectFixed || headerSize > length)
    return false;
  // The Data Object's own header follows the Header Object.
  if (!v.Matches(headerSize, asf_guid::kDataObject, 6) ||
      !v.Has(headerSize, kDataObjectHeaderLength))
    return false;

  bool found = false;
  for (uint64_t at = kHeaderObjectFixed; at + kObjectHeader <= headerSize;) {
    uint64_t size = 0;
    v.U64(at + 16, size);
    if (size < kObjectHeader || size > headerSize - at) break;  // a damaged child ends the walk
    if (v.Matches(at, asf_guid::kFileProperties, 6) && size >= kFilePropertiesFixed) {
      layout.filePropertiesAt = at;
      found = true;
      break;
    }
    at += size;
  }
  if (!found) return false;
  uint32_t minimum = 0, maximum = 0;
  v.U32(layout.filePropertiesAt + 92, minimum);
  v.U32(layout.filePropertiesAt + 96, maximum);
  if (minimum != maximum || maximum == 0) return false;
  v.U32(layout.filePropertiesAt + 80, layout.preroll);
  layout.headerObjectSize = headerSize;
  layout.firstPacketAt = headerSize + kDataObjectHeaderLength;
  layout.packetSize = maximum;
  return true;
}

bool DescribeWholePackets(uint8_t* header, size_t length, const AsfWholePackets& packets) {
  AsfHeaderLayout layout;
  if (!LocateAsfHeader(header, length, layout)) return false;
  uint8_t* const f = header + layout.filePropertiesAt;
  uint8_t* const d = header + layout.headerObjectSize;
  // In 64 bits: finishing's 32-bit sum wraps for a damaged preroll, which no header should say.
  const uint64_t playMs = uint64_t{packets.lastSendTime} + layout.preroll;
  StoreLE(f + 40, packets.fileSize, 8);
  StoreLE(f + 56, packets.count, 8);
  StoreLE(f + 64, playMs * 10000, 8);
  StoreLE(f + 72, static_cast<uint64_t>(packets.lastSendTime) * 10000, 8);
  uint8_t flags = static_cast<uint8_t>(f[88] & ~(ffBroadcast | ffSeekable));
  if (packets.broadcast) flags |= ffBroadcast;
  if (packets.seekable) flags |= ffSeekable;
  f[88] = flags;
  StoreLE(d + 16, packets.count * layout.packetSize + kDataObjectHeaderLength, 8);
  StoreLE(d + 40, packets.count, 8);
  if (packets.resumeTimecode) {
    StoreLE(f + 24, *packets.resumeTimecode, 4);
    StoreLE(d + 24, *packets.resumeTimecode, 4);
  }
  return true;
}

bool DescribeRecordingSoFar(uint8_t* header, size_t length, uint64_t count, uint32_t lastSendTime) {
  // Streams are found as the header model finds them (every Stream Properties match); this runs
  // at every checkpoint, so the header is not parsed whole.
  const ByteView v{header, length};
  bool video = false;
  for (int64_t s = FindAsfPrefix(header, length, asf_guid::kStreamProperties); s >= 0 && !video;) {
    video = v.Matches(static_cast<uint64_t>(s) + 24, asf_guid::kVideoMedia, 6);
    const int64_t next =
        FindAsfPrefix(header + s, length - static_cast<size_t>(s), asf_guid::kStreamProperties);
    s = next < 0 ? -1 : s + next;
  }
  AsfWholePackets packets;
  packets.count = count;
  packets.lastSendTime = lastSendTime;
  packets.fileSize = 0;
  packets.broadcast = false;
  packets.seekable = !video;
  return DescribeWholePackets(header, length, packets);
}

}  // namespace qor
