// A saved file as verify, repair and a resumed download read it, held in memory: the scan, the
// resume point, the header described as a recording's while it grows, the repair plan, and the
// repaired file (header and kept packets) read again, which must then describe its packets
// exactly.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "asf/asf_repair.h"
#include "asf/asf_scan.h"

namespace {

qor::AsfReadAt ReaderOf(const uint8_t* data, size_t size) {
  return [data, size](uint64_t at, void* buffer, size_t count) -> int64_t {
    if (at >= size) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size - at));
    std::copy_n(data + at, n, static_cast<uint8_t*>(buffer));
    return static_cast<int64_t>(n);
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qor::AsfFileScan scan;
  std::string why;
  if (!qor::ScanAsfFile(ReaderOf(data, size), size, scan, why)) return 0;
  const uint64_t first = scan.layout.firstPacketAt;
  const uint32_t packetSize = scan.layout.packetSize;
  if (scan.dataEnd > size ||
      first + scan.slots * packetSize + scan.tornBytes != std::max(first, scan.dataEnd))
    __builtin_trap();
  if (scan.readable > scan.slots || (scan.lastReadable && *scan.lastReadable >= scan.slots))
    __builtin_trap();

  // A resumed download reads where the packets end (inside the file); a recording's header
  // described as it grows places them where it did.
  qor::AsfResumePoint point;
  if (qor::FindAsfResumePoint(ReaderOf(data, size), size, point, why) &&
      point.headerLength + point.packets * point.packetSize > size)
    __builtin_trap();
  std::vector<uint8_t> growing = scan.header;
  qor::AsfHeaderLayout layout;
  if (!qor::DescribeRecordingSoFar(growing.data(), growing.size(), scan.slots, scan.lastSendTime) ||
      !qor::LocateAsfHeader(growing.data(), growing.size(), layout) ||
      layout.firstPacketAt != first || layout.packetSize != packetSize)
    __builtin_trap();

  qor::AsfRepairPlan plan;
  if (!qor::PlanAsfRepair(scan, plan, why) || !plan.needed) return 0;
  std::vector<uint8_t> repaired = plan.header;
  repaired.insert(repaired.end(), data + first, data + first + plan.keep * packetSize);
  qor::AsfFileScan again;
  if (!qor::ScanAsfFile(ReaderOf(repaired.data(), repaired.size()), repaired.size(), again, why))
    __builtin_trap();
  if (again.slots != plan.keep || again.lastReadable != scan.lastReadable) __builtin_trap();
  for (const qor::AsfFinding& f : again.findings)
    if (f.kind != "hole" && f.kind != "gap") __builtin_trap();
  return 0;
}
