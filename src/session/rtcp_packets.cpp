#include "session/rtcp_packets.h"

#include <algorithm>

namespace qor {

namespace {

constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kReceiverReport = 201;
constexpr uint8_t kSourceDescription = 202;
constexpr uint8_t kGoodbye = 203;
constexpr uint8_t kTransportFeedback = 205;
constexpr uint8_t kCname = 1;
constexpr size_t kMaxBlocks = 31;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value >> 16);
  Put16(out, value & 0xFFFF);
}

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The length field of the part that starts at start: its 32-bit words after the first, minus one.
void CloseLength(std::vector<uint8_t>& out, size_t start) {
  const size_t words = (out.size() - start) / 4 - 1;
  out[start + 2] = static_cast<uint8_t>(words >> 8);
  out[start + 3] = static_cast<uint8_t>(words);
}

}  // namespace

std::vector<uint8_t> BuildRtcpReceiverReport(uint32_t ownSsrc,
                                             const std::vector<RtcpReception>& sources,
                                             const std::string& cname) {
  std::vector<uint8_t> out;
  const size_t blocks = std::min(sources.size(), kMaxBlocks);
  out.push_back(static_cast<uint8_t>(0x80 | blocks));
  out.push_back(kReceiverReport);
  Put16(out, 0);
  Put32(out, ownSsrc);
  for (size_t i = 0; i < blocks; ++i) {
    const RtcpReception& s = sources[i];
    Put32(out, s.ssrc);
    out.push_back(s.fractionLost);
    const uint32_t lost = std::min<uint32_t>(s.cumulativeLost, 0x7FFFFF);
    out.push_back(static_cast<uint8_t>(lost >> 16));
    Put16(out, lost & 0xFFFF);
    Put32(out, s.extendedHighest);
    Put32(out, 0);  // jitter: the send times are the clip's, not the arrival clock's
    Put32(out, s.lastSenderReport);
    Put32(out, s.delaySinceReport);
  }
  CloseLength(out, 0);
  // SDES: one chunk, the CNAME item, a null item and padding to a word.
  const size_t start = out.size();
  out.push_back(0x81);
  out.push_back(kSourceDescription);
  Put16(out, 0);
  Put32(out, ownSsrc);
  const size_t nameLength = std::min<size_t>(cname.size(), 255);
  out.push_back(kCname);
  out.push_back(static_cast<uint8_t>(nameLength));
  out.insert(out.end(), cname.begin(), cname.begin() + static_cast<std::ptrdiff_t>(nameLength));
  do {
    out.push_back(0);
  } while ((out.size() - start) % 4 != 0);
  CloseLength(out, start);
  return out;
}

void AppendRtcpNack(uint32_t ownSsrc, uint32_t mediaSsrc, std::vector<uint16_t>& sequences,
                    std::vector<uint8_t>& out) {
  if (sequences.empty()) return;
  std::sort(sequences.begin(), sequences.end());
  sequences.erase(std::unique(sequences.begin(), sequences.end()), sequences.end());
  const size_t start = out.size();
  // Format 1, generic NACK, with the dialect's E bit (the format's top bit) set as clients should.
  out.push_back(0x91);
  out.push_back(kTransportFeedback);
  Put16(out, 0);
  Put32(out, ownSsrc);
  Put32(out, mediaSsrc);
  size_t at = 0, entries = 0;
  // Runs that wrap past 65535 are simply two entries.
  while (at < sequences.size() && entries < kMaxNackEntries) {
    const uint16_t pid = sequences[at++];
    uint16_t mask = 0;
    while (at < sequences.size() && sequences[at] - pid >= 1 && sequences[at] - pid <= 16) {
      mask = static_cast<uint16_t>(mask | (1u << (sequences[at] - pid - 1)));
      ++at;
    }
    Put16(out, pid);
    Put16(out, mask);
    ++entries;
  }
  CloseLength(out, start);
  sequences.erase(sequences.begin(), sequences.begin() + static_cast<std::ptrdiff_t>(at));
}

RtcpSummary ReadRtcp(const uint8_t* data, size_t size) {
  RtcpSummary summary;
  size_t at = 0;
  while (size - at >= 4) {
    const uint8_t first = data[at];
    const uint8_t type = data[at + 1];
    const size_t length = ((size_t{data[at + 2]} << 8 | data[at + 3]) + 1) * 4;
    if ((first >> 6) != 2 || length > size - at) return summary;
    const uint8_t count = first & 0x1F;
    if (type == kSenderReport && length >= 20) {
      summary.senderReports.push_back(
          {Be32(data + at + 4), (Be32(data + at + 8) << 16) | (Be32(data + at + 12) >> 16)});
    } else if (type == kGoodbye) {
      for (size_t i = 0; i < count && 4 + 4 * (i + 1) <= length; ++i)
        summary.byes.push_back(Be32(data + at + 4 + 4 * i));
    }
    at += length;
  }
  summary.valid = at == size;
  return summary;
}

}  // namespace qor
