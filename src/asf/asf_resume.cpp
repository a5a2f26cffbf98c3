// What a saved file tells a resumed download: where its packets really end, the shift its times
// were stored with, and whether a server's header describes the same content.

#include <algorithm>
#include <vector>

#include "asf/asf.h"
#include "asf/asf_bytes.h"

namespace qor {

using asf_detail::ByteView;

namespace {

// Mark stored before the time base in the Data Object's File ID (its bytes 4..7), so that the
// server's own random bytes there are never taken for a shift.
constexpr uint8_t kTimeBaseMark[4] = {'Q', 'o', 'r', 'T'};
// Positions from the Data Object's GUID: the mark, then the base.
constexpr uint64_t kMarkAt = 28;
constexpr uint64_t kBaseAt = 32;
// A file killed while writing ends with few unwritten slots; looking further back than this for
// a packet that parses only costs time.
constexpr uint64_t kMaxSlotsBack = 65536;

bool AllZero(const std::vector<uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

}  // namespace

bool AsfTimeBaseMark(const uint8_t* header, size_t length, uint64_t& at, uint8_t mark[8],
                     uint32_t base) {
  const int64_t d = FindAsfPrefix(header, length, asf_guid::kDataObject);
  if (d < 0 || !ByteView{header, length}.Has(static_cast<uint64_t>(d) + kMarkAt, 8)) return false;
  at = static_cast<uint64_t>(d) + kMarkAt;
  std::copy(std::begin(kTimeBaseMark), std::end(kTimeBaseMark), mark);
  asf_detail::StoreLE(mark + 4, base, 4);
  return true;
}

bool SameAsfContent(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) {
  if (aLength != bLength || aLength == 0) return false;
  const int64_t fa = FindAsfPrefix(a, aLength, asf_guid::kFileProperties);
  const int64_t da = FindAsfPrefix(a, aLength, asf_guid::kDataObject);
  if (fa != FindAsfPrefix(b, bLength, asf_guid::kFileProperties) ||
      da != FindAsfPrefix(b, bLength, asf_guid::kDataObject))
    return false;
  // Ranges the finishing and the stored resume data rewrite: [from, to) from an object's GUID.
  struct Range {
    int64_t object;
    uint64_t from, to;
  };
  const Range rewritten[] = {
      {fa, 24, 28},  // File ID, first bytes: the end timecode
      {fa, 40, 48},  // file size
      {fa, 56, 80},  // packet count, play and send duration
      {fa, 88, 92},  // flags (broadcast, seekable)
      {da, 16, 48},  // object size, File ID (timecode, time base), total packets
  };
  for (size_t i = 0; i < aLength; ++i) {
    if (a[i] == b[i]) continue;
    const bool excused =
        std::any_of(std::begin(rewritten), std::end(rewritten), [&](const Range& r) {
          return r.object >= 0 && i >= static_cast<uint64_t>(r.object) + r.from &&
                 i < static_cast<uint64_t>(r.object) + r.to;
        });
    if (!excused) return false;
  }
  return true;
}

bool AsfFileIsPartOfClip(const uint8_t* own, size_t ownLength, const uint8_t* server,
                         size_t serverLength) {
  if (!SameAsfContent(own, ownLength, server, serverLength)) return false;
  const int64_t f = FindAsfPrefix(own, ownLength, asf_guid::kFileProperties);
  if (f < 0) return true;
  const ByteView mine{own, ownLength};
  const ByteView theirs{server, serverLength};
  // Packet count, play duration, send duration.
  for (const uint64_t at : {uint64_t{56}, uint64_t{64}, uint64_t{72}}) {
    uint64_t a = 0;
    uint64_t b = 0;
    if (!mine.U64(static_cast<uint64_t>(f) + at, a) || !theirs.U64(static_cast<uint64_t>(f) + at, b))
      return false;
    if (b != 0 && a > b) return false;
  }
  return true;
}

bool FindAsfResumePoint(const AsfReadAt& readAt, uint64_t fileSize, AsfResumePoint& point,
                        std::string& why) {
  point = AsfResumePoint{};
  uint8_t start[30] = {};
  uint64_t objectSize = 0;
  const ByteView first{start, sizeof start};
  if (readAt(0, start, sizeof start) != static_cast<int64_t>(sizeof start) ||
      !first.Matches(0, asf_guid::kHeaderObject, 6) || !first.U64(16, objectSize) ||
      objectSize < 30 || objectSize > kMaxHeaderLength) {
    why = "the file holds no ASF header";
    return false;
  }
  std::vector<uint8_t> block(static_cast<size_t>(objectSize + kDataObjectHeaderLength));
  TASF model;
  if (readAt(0, block.data(), block.size()) != static_cast<int64_t>(block.size()) ||
      !model.ParseHeader(block.data(), block.size()) || model.PacketSize == 0 ||
      model.DataObjectOffset == 0) {
    why = "the file's header cannot be read";
    return false;
  }
  point.headerLength = model.FirstPacketOffset();
  point.packetSize = model.PacketSize;
  const ByteView header{block.data(), block.size()};
  if (header.Matches(model.DataObjectOffset + kMarkAt, kTimeBaseMark, 4))
    header.U32(model.DataObjectOffset + kBaseAt, point.timeBase);

  uint64_t slots =
      fileSize > point.headerLength ? (fileSize - point.headerLength) / point.packetSize : 0;
  // A finished file says how many packets it holds; what follows them is its index. A recording
  // cut between two updates of its header holds more packets than the header counts: they are
  // kept, so its size is no finished file's and no index follows the counted packets.
  uint64_t dataSize = 0;
  if (header.U64(model.DataObjectOffset + 16, dataSize) && model.TotalDataPackets > 0 &&
      model.TotalDataPackets < slots &&
      dataSize == model.TotalDataPackets * point.packetSize + kDataObjectHeaderLength) {
    uint8_t next[sizeof asf_guid::kSimpleIndexObject] = {};
    const uint64_t end = point.headerLength + model.TotalDataPackets * point.packetSize;
    const bool indexFollows =
        readAt(end, next, sizeof next) == static_cast<int64_t>(sizeof next) &&
        std::equal(std::begin(next), std::end(next), std::begin(asf_guid::kSimpleIndexObject));
    if (indexFollows || model.FileSize == fileSize) slots = model.TotalDataPackets;
  }
  std::vector<uint8_t> packet(point.packetSize);
  const uint64_t lowest = slots > kMaxSlotsBack ? slots - kMaxSlotsBack : 0;
  for (uint64_t k = slots; k > lowest; --k) {
    const uint64_t at = point.headerLength + (k - 1) * point.packetSize;
    AsfPacketTimes times;
    if (readAt(at, packet.data(), packet.size()) != static_cast<int64_t>(packet.size()) ||
        AllZero(packet) || !ReadAsfPacketTimes(packet.data(), packet.size(), times))
      continue;
    point.packets = k;
    point.lastSendTime = times.sendTime;
    return true;
  }
  why = "the file holds no whole packet";
  return false;
}

}  // namespace qor
