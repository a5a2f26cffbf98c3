// Judging a scanned file: one finding per defect, each in words that say where and how much.

#include <algorithm>
#include <cstdio>

#include "asf/asf_scan.h"
#include "asf/asf_scan_detail.h"

namespace qor {

namespace {

// Findings listed one by one for holes and for gaps; the rest are summed up in one more.
constexpr size_t kListedEach = 20;
// The header's durations may end a packet's duration or two past the last send time.
constexpr uint64_t kMinDurationSlackMs = 1000;
constexpr uint64_t kDurationSlackSteps = 4;

std::string N(uint64_t value) {
  return std::to_string(value);
}

std::string PacketRange(uint64_t first, uint64_t count) {
  if (count == 1) return "packet " + N(first);
  return "packets " + N(first) + "-" + N(first + count - 1) + " (" + N(count) + ")";
}

std::string HoleText(const AsfHole& hole) {
  const bool one = hole.count == 1;
  std::string what;
  switch (hole.kind) {
    case AsfHole::Kind::Empty:
      what = one ? " was never written" : " were never written";
      break;
    case AsfHole::Kind::Unreadable:
      what = one ? " does not parse as a data packet" : " do not parse as data packets";
      break;
    case AsfHole::Kind::PaddingOnly:
      what = one ? " carries only padding, no media" : " carry only padding, no media";
      break;
  }
  std::string where;
  if (hole.before && hole.after)
    where = ", between " + AsfTimeText(*hole.before) + " and " + AsfTimeText(*hole.after);
  else if (hole.before)
    where = ", at the end (after " + AsfTimeText(*hole.before) + ")";
  else if (hole.after)
    where = ", at the start (before " + AsfTimeText(*hole.after) + ")";
  return PacketRange(hole.first, hole.count) + what + where;
}

uint64_t Distance(uint64_t a, uint64_t b) {
  return a > b ? a - b : b - a;
}

void JudgeHeader(AsfFileScan& scan, std::vector<AsfFinding>& out) {
  if (scan.broadcast) {
    out.push_back({"broadcast",
                   "the header still describes a live broadcast, without sizes or durations: "
                   "the recording was not finished"});
    return;
  }
  const uint64_t packetsBytes = scan.slots * scan.layout.packetSize + kDataObjectHeaderLength;
  if (scan.declaredFileSize == 0)
    out.push_back({"file_size",
                   "the header gives no file size: the recording was cut before it was finished"});
  else if (scan.declaredFileSize != scan.fileLength)
    out.push_back({"file_size", "the header gives a file size of " + N(scan.declaredFileSize) +
                                    " bytes; the file has " + N(scan.fileLength)});
  if (scan.declaredPackets != scan.slots)
    out.push_back({"packet_count", "the header counts " + N(scan.declaredPackets) +
                                       " packets; the file holds " + N(scan.slots)});
  if (scan.declaredDataSize != packetsBytes || scan.declaredDataPackets != scan.slots)
    out.push_back({"data_size", "the data object gives " + N(scan.declaredDataSize) +
                                    " bytes and " + N(scan.declaredDataPackets) +
                                    " packets; the file holds " + N(packetsBytes) + " bytes in " +
                                    N(scan.slots) + " packets"});
  if (scan.readable == 0) return;
  const uint64_t slack =
      std::max(kMinDurationSlackMs, kDurationSlackSteps * uint64_t{scan.usualInterval});
  const uint64_t sendMs = scan.declaredSend / 10000;
  const uint64_t playMs = scan.declaredPlay / 10000;
  if (Distance(sendMs, scan.lastSendTime) > slack)
    out.push_back({"duration", "the header gives a send duration of " + AsfTimeText(sendMs) +
                                   "; the packets end at " + AsfTimeText(scan.lastSendTime)});
  else if (Distance(playMs, sendMs + scan.layout.preroll) > slack)
    out.push_back({"duration", "the header's play duration of " + AsfTimeText(playMs) +
                                   " is not its send duration of " + AsfTimeText(sendMs) +
                                   " and the preroll of " + N(scan.layout.preroll) + " ms"});
}

}  // namespace

std::string AsfTimeText(uint64_t milliseconds) {
  const uint64_t tenths = milliseconds / 100;
  char text[48];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu.%llu",
                static_cast<unsigned long long>(tenths / 36000),
                static_cast<unsigned long long>(tenths / 600 % 60),
                static_cast<unsigned long long>(tenths / 10 % 60),
                static_cast<unsigned long long>(tenths % 10));
  return text;
}

namespace asf_scan_detail {

void JudgeScan(AsfFileScan& scan) {
  std::vector<AsfFinding>& out = scan.findings;
  if (scan.readable == 0)
    out.push_back({"no_packets", scan.slots == 0 ? "the file holds no whole packet"
                                                 : "none of the file's " + N(scan.slots) +
                                                       " packets holds media"});
  if (scan.tornBytes > 0)
    out.push_back({"torn_packet", "the last packet is cut: " + N(scan.tornBytes) + " of " +
                                      N(scan.layout.packetSize) + " bytes are on disk"});
  if (scan.afterDataBytes > 0)
    out.push_back({"after_data", N(scan.afterDataBytes) +
                                     " bytes after the data are no whole object (a cut index)"});
  JudgeHeader(scan, out);

  for (size_t i = 0; i < scan.holes.size() && i < kListedEach; ++i)
    out.push_back({"hole", HoleText(scan.holes[i])});
  if (scan.holes.size() > kListedEach) {
    uint64_t packets = 0;
    for (size_t i = kListedEach; i < scan.holes.size(); ++i) packets += scan.holes[i].count;
    out.push_back({"hole", "and " + N(scan.holes.size() - kListedEach) + " more holes of " +
                               N(packets) + " packets"});
  }
  for (size_t i = 0; i < scan.gaps.size() && i < kListedEach; ++i) {
    const AsfTimeGap& g = scan.gaps[i];
    out.push_back({"gap", "send time jumps from " + AsfTimeText(g.from) + " to " +
                              AsfTimeText(g.to) + " after packet " + N(g.afterPacket) + ": about " +
                              AsfTimeText(g.missing) + " of packets are missing"});
  }
  if (scan.gaps.size() > kListedEach)
    out.push_back({"gap", "and " + N(scan.gaps.size() - kListedEach) + " more send-time jumps"});

  for (const AsfIndexCheck& index : scan.indexes) {
    if (index.problems.empty()) continue;
    std::string text = "the index at byte " + N(index.at) + ": ";
    for (size_t i = 0; i < index.problems.size(); ++i) text += (i ? "; " : "") + index.problems[i];
    out.push_back({"index", text});
  }
}

}  // namespace asf_scan_detail

}  // namespace qor
