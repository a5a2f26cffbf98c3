// What a repair keeps, drops and rewrites, and the line that says so.

#include <algorithm>

#include "asf/asf_repair.h"

namespace qor {

namespace {

// Findings that a rewrite of the header, the tail and the index mends.
bool Mendable(const AsfFinding& finding) {
  return finding.kind != "hole" && finding.kind != "gap" && finding.kind != "no_packets";
}

std::string Plural(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool PlanAsfRepair(const AsfFileScan& scan, AsfRepairPlan& plan, std::string& why) {
  plan = AsfRepairPlan{};
  if (!scan.lastReadable) {
    why = "it holds no packet with media: there is nothing to keep";
    return false;
  }
  plan.keep = *scan.lastReadable + 1;
  plan.lastSendTime = scan.lastSendTime;
  plan.tornBytes = scan.tornBytes;
  plan.droppedSlots = scan.slots - plan.keep;
  plan.droppedAfterData = scan.afterDataBytes;
  plan.oldIndexes = scan.indexes.size();
  for (const AsfHole& hole : scan.holes)
    if (hole.first < plan.keep) plan.holePackets += std::min(hole.count, plan.keep - hole.first);
  plan.needed =
      plan.droppedSlots > 0 || std::any_of(scan.findings.begin(), scan.findings.end(), Mendable);
  if (!plan.needed) return true;

  plan.header = scan.header;
  AsfWholePackets packets;
  packets.count = plan.keep;
  packets.lastSendTime = plan.lastSendTime;
  packets.fileSize = scan.layout.firstPacketAt + plan.keep * scan.layout.packetSize;
  packets.broadcast = false;
  packets.seekable = true;
  packets.resumeTimecode = plan.lastSendTime;
  if (!DescribeWholePackets(plan.header.data(), plan.header.size(), packets)) {
    why = "its header cannot be rewritten";
    return false;
  }
  return true;
}

std::string AsfUnfinishedNote(const AsfFileScan& scan) {
  AsfRepairPlan plan;
  std::string why;
  if (!PlanAsfRepair(scan, plan, why) || !plan.needed) return std::string();
  const std::string tenths = AsfTimeText(plan.lastSendTime + 500);  // to the nearest second
  return "unfinished (the recording was cut at " + tenths.substr(0, tenths.size() - 2) +
         "): File \u2192 Repair";
}

std::string AsfRepairSummary(const AsfRepairReport& report) {
  const AsfRepairPlan& plan = report.plan;
  const bool dry = report.dryRun;
  const char* start = plan.needed           ? (dry ? "would keep " : "kept ")
                      : report.scan.Whole() ? "already whole: "
                                            : "nothing to repair: ";
  std::string line =
      start + Plural(plan.keep, "packet", "packets") + ", " + AsfTimeText(plan.lastSendTime);
  const std::string drop = dry ? "; would drop " : "; dropped ";
  if (plan.needed) {
    if (plan.tornBytes > 0) line += drop + "1 torn packet";
    if (plan.droppedSlots > 0)
      line += drop + Plural(plan.droppedSlots, "packet", "packets") + " without media at the end";
    if (plan.droppedAfterData > 0)
      line += drop + std::to_string(plan.droppedAfterData) + " bytes of a cut index";
    if (report.streamsUnknown)
      line += "; no index (the header's streams cannot be read)";
    else if (dry)
      line += "; would write the header and the index";
    else if (report.indexesAdded > 0)
      line += plan.oldIndexes > 0 ? "; index rewritten" : "; index added";
    else
      line += "; no index (no video stream)";
  }
  if (plan.holePackets > 0)
    line += "; " + Plural(plan.holePackets, "packet", "packets") +
            " without media stay inside (see verify)";
  return line;
}

}  // namespace qor
