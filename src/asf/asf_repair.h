#pragma once
// Making a cut, killed or unfinished recording a finished file without a server: every packet
// with media up to the last one is kept, a cut last packet and the unwritten or unreadable slots
// after the last good packet are dropped, the header is made to describe exactly what is kept
// (as finishing does, including the resume timecode) and the seek index is added by the
// finishing code. Packets without media inside the recording stay where they are: they keep the
// packets after them at their places and nothing can bring them back.
//
// The repaired file is written beside the original under a temporary name, read back and
// checked, and only then renamed over it, so a repair that is itself killed (or fails, or finds
// the file growing) leaves the original as it was.

#include <cstdint>
#include <string>
#include <vector>

#include "asf/asf_scan.h"

namespace qor {

struct AsfRepairPlan {
  bool needed = false;  // false: the header, the tail and the index are already right
  uint64_t keep = 0;    // packets kept from the first
  uint32_t lastSendTime = 0;
  uint64_t tornBytes = 0;         // a cut last packet, dropped
  uint64_t droppedSlots = 0;      // slots after the last packet with media, dropped
  uint64_t droppedAfterData = 0;  // bytes after the data that were no whole object
  size_t oldIndexes = 0;          // index objects that are replaced
  uint64_t holePackets = 0;       // packets without media that stay inside the recording
  std::vector<uint8_t> header;    // the header block as it is to be written
};

// What repairing the scanned file means. False, with a reason, when nothing can be kept.
bool PlanAsfRepair(const AsfFileScan& scan, AsfRepairPlan& plan, std::string& why);

struct AsfRepairReport {
  AsfFileScan scan;
  AsfRepairPlan plan;
  bool dryRun = false;
  bool written = false;         // the repaired file replaced the original
  size_t indexesAdded = 0;      // one per video stream, as finishing adds them
  bool streamsUnknown = false;  // the header's streams could not be read: no index
  uint64_t newLength = 0;
};

// Repairs the file at path (a symbolic link: the file it leads to). False, with the reason in
// why and the file untouched, when it is not an ASF file this program reads, holds nothing to
// keep, or the repaired copy cannot be written. With dryRun nothing is written.
bool RepairAsfFile(const std::string& path, bool dryRun, AsfRepairReport& report, std::string& why);

// What the media information shows for a file that repair would mend ("unfinished (the
// recording was cut at 00:00:08): File → Repair", the time of its last packet with media);
// empty for a file whose header, tail and index are right.
std::string AsfUnfinishedNote(const AsfFileScan& scan);

// One line of what was done (or would be): "kept 120 packets, 00:00:07.9; dropped 1 torn
// packet; index added".
std::string AsfRepairSummary(const AsfRepairReport& report);

}  // namespace qor
