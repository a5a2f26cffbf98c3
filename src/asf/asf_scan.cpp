// Reading a saved file: the header block, where the packets end, every packet slot, and the
// objects after the data. What it all means is judged in asf_scan_findings.cpp.

#include "asf/asf_scan.h"

#include <algorithm>

#include "asf/asf_bytes.h"
#include "asf/asf_scan_detail.h"

namespace qor {

using asf_detail::ByteView;

namespace asf_scan_detail {

SlotKind ClassifySlot(const uint8_t* packet, size_t size, AsfPacketTimes& times) {
  if (std::all_of(packet, packet + size, [](uint8_t b) { return b == 0; })) return SlotKind::Empty;
  if (!ReadAsfPacketTimes(packet, size, times)) return SlotKind::Unreadable;
  return times.payloadBytes == 0 ? SlotKind::PaddingOnly : SlotKind::Media;
}

}  // namespace asf_scan_detail

namespace {

using asf_scan_detail::SlotKind;

// Servers never send larger packets; a larger size is a damaged header, not a file to walk.
constexpr uint32_t kMaxPacketSize = 1000000;
// The fixed fields of a packet and one payload's header do not fit in less.
constexpr uint32_t kMinPacketSize = 20;
// Packets are read this many bytes at a time.
constexpr uint64_t kReadChunk = 1 << 20;
// Neighbouring packets further apart than this (and than kGapFactor usual steps) mean a loss.
constexpr uint32_t kMinGapMs = 1000;
constexpr uint32_t kGapFactor = 4;
// Steps between packets are counted up to this many milliseconds for the median.
constexpr uint32_t kStepBuckets = 65536;
// Holes, jumps and index objects are listed up to this many (a file of nothing but holes is
// not listed whole).
constexpr size_t kMaxListed = 100000;
// Index entries whose packet is read again to see that it holds media.
constexpr size_t kMaxIndexLookups = 4096;
constexpr uint64_t kSimpleIndexFixed = 56;

// "entry 6 (packet 500) reaches past ..." for one, "3 entries reach past ..., the first entry 6
// (packet 500)" for more.
std::string Entries(uint64_t count, const std::string& first, const std::string& one,
                    const std::string& many) {
  if (count == 1) return first + one;
  return std::to_string(count) + " entries" + many + ", the first " + first;
}

bool ReadExactly(const AsfReadAt& readAt, uint64_t at, uint8_t* buffer, size_t count) {
  return readAt(at, buffer, count) == static_cast<int64_t>(count);
}

bool ReadHeader(const AsfReadAt& readAt, AsfFileScan& scan, std::string& why) {
  uint8_t start[30] = {};
  const ByteView first{start, sizeof start};
  if (scan.fileLength < sizeof start || !ReadExactly(readAt, 0, start, sizeof start) ||
      !first.Matches(0, asf_guid::kHeaderObject, 6)) {
    why = "not an ASF file (it does not start with an ASF header)";
    return false;
  }
  uint64_t headerSize = 0;
  first.U64(16, headerSize);
  if (headerSize < sizeof start || headerSize > kMaxHeaderLength) {
    why = "not a readable ASF file (the header's size is damaged)";
    return false;
  }
  if (headerSize + kDataObjectHeaderLength > scan.fileLength) {
    why = "not a readable ASF file (it ends inside its header)";
    return false;
  }
  scan.header.resize(static_cast<size_t>(headerSize + kDataObjectHeaderLength));
  if (!ReadExactly(readAt, 0, scan.header.data(), scan.header.size())) {
    why = "could not be read";
    return false;
  }
  if (!LocateAsfHeader(scan.header.data(), scan.header.size(), scan.layout)) {
    why =
        "not a readable ASF file (its header has no file properties, no data object, or no "
        "fixed packet size)";
    return false;
  }
  if (scan.layout.packetSize < kMinPacketSize || scan.layout.packetSize > kMaxPacketSize) {
    why = "not a readable ASF file (its packet size of " + std::to_string(scan.layout.packetSize) +
          " bytes is not plausible)";
    return false;
  }
  const ByteView h{scan.header.data(), scan.header.size()};
  const uint64_t f = scan.layout.filePropertiesAt, d = scan.layout.headerObjectSize;
  uint32_t flags = 0;
  h.U64(f + 40, scan.declaredFileSize);
  h.U64(f + 56, scan.declaredPackets);
  h.U64(f + 64, scan.declaredPlay);
  h.U64(f + 72, scan.declaredSend);
  h.U32(f + 88, flags);
  h.U64(d + 16, scan.declaredDataSize);
  h.U64(d + 40, scan.declaredDataPackets);
  scan.broadcast = (flags & ffBroadcast) != 0;
  scan.seekable = (flags & ffSeekable) != 0;
  return true;
}

void CheckSimpleIndex(const std::vector<uint8_t>& object, uint64_t at, const AsfFileScan& scan,
                      AsfIndexCheck& check, std::vector<std::pair<size_t, uint32_t>>& lookups) {
  const ByteView v{object.data(), object.size()};
  uint32_t count = 0;
  v.U64(40, check.interval);
  v.U32(52, count);
  check.at = at;
  check.entries = count;
  if (object.size() != kSimpleIndexFixed + 6ull * count)
    check.problems.push_back("its size (" + std::to_string(object.size()) +
                             " bytes) does not match its " + std::to_string(count) + " entries");
  if (!std::equal(
          object.begin() + 24, object.begin() + 40,
          scan.header.begin() + static_cast<std::ptrdiff_t>(scan.layout.filePropertiesAt) + 24))
    check.problems.push_back("its File ID is not the header's");
  if (count == 0) check.problems.push_back("it has no entries");
  uint64_t outside = 0, backwards = 0;
  std::string firstOutside, firstBackwards;
  uint32_t previous = 0;
  for (uint64_t i = 0; i < count && v.Has(kSimpleIndexFixed + 6 * i, 6); ++i) {
    uint32_t packet = 0;
    uint16_t packets = 0;
    v.U32(kSimpleIndexFixed + 6 * i, packet);
    v.U16(kSimpleIndexFixed + 6 * i + 4, packets);
    if (packet >= scan.slots || packet + static_cast<uint64_t>(packets) > scan.slots) {
      if (outside++ == 0)
        firstOutside = "entry " + std::to_string(i) + " (packet " + std::to_string(packet) + ")";
    } else if (lookups.size() < kMaxIndexLookups &&
               (lookups.empty() || lookups.back().second != packet)) {
      lookups.emplace_back(i, packet);
    }
    if (i > 0 && packet < previous && backwards++ == 0)
      firstBackwards = "entry " + std::to_string(i) + " (packet " + std::to_string(packet) + ")";
    previous = packet;
  }
  if (outside > 0)
    check.problems.push_back(
        Entries(outside, firstOutside,
                " reaches past the file's " + std::to_string(scan.slots) + " packets",
                " reach past the file's " + std::to_string(scan.slots) + " packets"));
  if (backwards > 0)
    check.problems.push_back(Entries(backwards, firstBackwards, " points back to an earlier packet",
                                     " point back to earlier packets"));
}

// The index objects' entries should lead to packets that hold media.
void LookUpIndexedPackets(const AsfReadAt& readAt, const AsfFileScan& scan, AsfIndexCheck& check,
                          const std::vector<std::pair<size_t, uint32_t>>& lookups) {
  std::vector<uint8_t> packet(scan.layout.packetSize);
  uint64_t empty = 0;
  std::string first;
  for (const auto& [entry, number] : lookups) {
    AsfPacketTimes times;
    const uint64_t at = scan.layout.firstPacketAt + uint64_t{number} * scan.layout.packetSize;
    if (ReadExactly(readAt, at, packet.data(), packet.size()) &&
        asf_scan_detail::ClassifySlot(packet.data(), packet.size(), times) == SlotKind::Media)
      continue;
    if (empty++ == 0)
      first = "entry " + std::to_string(entry) + " (packet " + std::to_string(number) + ")";
  }
  if (empty > 0)
    check.problems.push_back(Entries(empty, first, " leads to a packet without media",
                                     " lead to packets without media"));
}

// A Simple Index Object after the data: at and size.
struct IndexObject {
  uint64_t at, size;
};

// When the objects from `at` on run exactly to the end of the file, or an index begins there
// (which a killed finishing may have cut), the packets end at `at`: the index objects are noted
// and true is returned. Otherwise what follows is more packets than the header counts.
bool ObjectsFollow(const AsfReadAt& readAt, uint64_t at, AsfFileScan& scan,
                   std::vector<IndexObject>& indexes) {
  std::vector<IndexObject> found;
  bool startsWithIndex = false;
  uint64_t pos = at;
  while (scan.fileLength - pos >= 24) {
    uint8_t head[24];
    if (!ReadExactly(readAt, pos, head, sizeof head)) break;
    const bool index = std::equal(head, head + 16, std::begin(asf_guid::kSimpleIndexObject));
    if (pos == at) startsWithIndex = index;
    uint64_t size = 0;
    ByteView{head, sizeof head}.U64(16, size);
    if (size < 24 || size > scan.fileLength - pos) break;
    if (index && found.size() < kMaxListed) found.push_back({pos, size});
    pos += size;
  }
  if (pos != scan.fileLength && !startsWithIndex) return false;
  scan.afterDataBytes = scan.fileLength - pos;
  indexes = std::move(found);
  return true;
}

void CheckIndexes(const AsfReadAt& readAt, AsfFileScan& scan,
                  const std::vector<IndexObject>& objects) {
  for (const IndexObject& o : objects) {
    AsfIndexCheck check;
    check.at = o.at;
    std::vector<uint8_t> object;
    if (o.size < kSimpleIndexFixed || o.size > kMaxHeaderLength) {
      check.problems.push_back("its size (" + std::to_string(o.size) +
                               " bytes) is not that of an index");
    } else {
      object.resize(static_cast<size_t>(o.size));
      if (!ReadExactly(readAt, o.at, object.data(), object.size())) {
        check.problems.push_back("it could not be read");
      } else {
        std::vector<std::pair<size_t, uint32_t>> lookups;
        CheckSimpleIndex(object, o.at, scan, check, lookups);
        LookUpIndexedPackets(readAt, scan, check, lookups);
      }
    }
    scan.indexes.push_back(std::move(check));
  }
}

// Where the packets end: see ObjectsFollow.
void FindDataEnd(const AsfReadAt& readAt, AsfFileScan& scan, std::vector<IndexObject>& indexes) {
  scan.dataEnd = scan.fileLength;
  const uint64_t d = scan.layout.headerObjectSize;
  if (scan.declaredDataSize < kDataObjectHeaderLength ||
      scan.declaredDataSize > scan.fileLength - d)
    return;
  const uint64_t declaredEnd = d + scan.declaredDataSize;
  if (declaredEnd == scan.fileLength || ObjectsFollow(readAt, declaredEnd, scan, indexes))
    scan.dataEnd = declaredEnd;
}

// Walks every whole slot once: hole runs, send-time steps and jumps.
class SlotWalk {
 public:
  explicit SlotWalk(AsfFileScan& scan) : scan_(scan), steps_(kStepBuckets, 0) {}

  void Take(uint64_t number, const uint8_t* packet) {
    AsfPacketTimes times;
    const SlotKind kind = asf_scan_detail::ClassifySlot(packet, scan_.layout.packetSize, times);
    if (kind != SlotKind::Media) {
      OpenHole(number, kind);
      return;
    }
    CloseHole(times.sendTime);
    if (scan_.readable == 0) scan_.firstSendTime = times.sendTime;
    // Steps are measured only between packets that follow each other on disk.
    if (scan_.lastReadable && *scan_.lastReadable + 1 == number &&
        times.sendTime >= scan_.lastSendTime) {
      const uint32_t step = times.sendTime - scan_.lastSendTime;
      ++steps_[std::min(step, kStepBuckets - 1)];
      ++stepCount_;
      if (step > kMinGapMs && candidates_.size() < kMaxListed)
        candidates_.push_back({number - 1, scan_.lastSendTime, times.sendTime, 0});
    }
    ++scan_.readable;
    scan_.lastReadable = number;
    scan_.lastSendTime = times.sendTime;
  }

  void Finish() {
    if (open_) Keep();
    if (stepCount_ > 0) {
      uint64_t seen = 0;
      for (uint32_t ms = 0; ms < kStepBuckets; ++ms) {
        seen += steps_[ms];
        if (seen * 2 >= stepCount_) {
          scan_.usualInterval = ms;
          break;
        }
      }
    }
    const uint64_t threshold =
        std::max<uint64_t>(kMinGapMs, uint64_t{kGapFactor} * scan_.usualInterval);
    for (AsfTimeGap gap : candidates_) {
      if (gap.to - gap.from <= threshold) continue;
      gap.missing = gap.to - gap.from - scan_.usualInterval;
      scan_.gaps.push_back(gap);
    }
  }

 private:
  void OpenHole(uint64_t number, SlotKind kind) {
    const AsfHole::Kind holeKind = kind == SlotKind::Empty        ? AsfHole::Kind::Empty
                                   : kind == SlotKind::Unreadable ? AsfHole::Kind::Unreadable
                                                                  : AsfHole::Kind::PaddingOnly;
    if (open_ && hole_.kind == holeKind) {
      ++hole_.count;
      return;
    }
    if (open_) Keep();
    open_ = true;
    hole_ = AsfHole{holeKind, number, 1, std::nullopt, std::nullopt};
    if (scan_.lastReadable) hole_.before = scan_.lastSendTime;
  }
  void CloseHole(uint32_t sendTime) {
    if (!open_) return;
    hole_.after = sendTime;
    // Runs of other kinds just before this one end at the same packet.
    for (auto it = scan_.holes.rbegin(); it != scan_.holes.rend() && !it->after; ++it)
      it->after = sendTime;
    Keep();
  }
  void Keep() {
    if (scan_.holes.size() < kMaxListed) scan_.holes.push_back(hole_);
    open_ = false;
  }

  AsfFileScan& scan_;
  std::vector<uint64_t> steps_;
  uint64_t stepCount_ = 0;
  std::vector<AsfTimeGap> candidates_;
  bool open_ = false;
  AsfHole hole_;
};

}  // namespace

bool ScanAsfFile(const AsfReadAt& readAt, uint64_t fileLength, AsfFileScan& scan,
                 std::string& why) {
  scan = AsfFileScan{};
  scan.fileLength = fileLength;
  if (!ReadHeader(readAt, scan, why)) return false;
  std::vector<IndexObject> indexes;
  FindDataEnd(readAt, scan, indexes);

  const uint64_t first = scan.layout.firstPacketAt;
  const uint32_t size = scan.layout.packetSize;
  const uint64_t data = scan.dataEnd > first ? scan.dataEnd - first : 0;
  scan.slots = data / size;
  scan.tornBytes = data % size;

  SlotWalk walk(scan);
  const uint64_t perChunk = std::max<uint64_t>(1, kReadChunk / size);
  std::vector<uint8_t> chunk;
  for (uint64_t next = 0; next < scan.slots;) {
    const uint64_t count = std::min(perChunk, scan.slots - next);
    chunk.resize(static_cast<size_t>(count * size));
    const int64_t got = readAt(first + next * size, chunk.data(), chunk.size());
    if (got < 0) {
      why = "could not be read";
      return false;
    }
    // A file that shrank while it was read: what was not read is empty.
    if (static_cast<uint64_t>(got) < chunk.size()) std::fill(chunk.begin() + got, chunk.end(), 0);
    for (uint64_t i = 0; i < count; ++i) walk.Take(next + i, chunk.data() + i * size);
    next += count;
  }
  walk.Finish();
  CheckIndexes(readAt, scan, indexes);
  asf_scan_detail::JudgeScan(scan);
  return true;
}

}  // namespace qor
