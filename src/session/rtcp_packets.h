#pragma once
// The RTCP a receiving client sends (receiver reports with its CNAME, and the generic NACKs that
// ask a Windows Media server to send lost RTP packets again) and what it reads of the server's
// (sender reports, which the next receiver report quotes, and BYE). The reader reads only inside
// the bytes it is given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qor {

// One source's reception, as a report block states it.
struct RtcpReception {
  uint32_t ssrc = 0;
  uint8_t fractionLost = 0;       // of the packets expected since the last report, in 256ths
  uint32_t cumulativeLost = 0;    // 24 bits
  uint32_t extendedHighest = 0;   // cycles << 16 | highest sequence
  uint32_t lastSenderReport = 0;  // middle 32 bits of its last sender report's NTP time
  uint32_t delaySinceReport = 0;  // in 65536ths of a second
};

// A receiver report (one block per source, at most 31) and an SDES with the CNAME.
std::vector<uint8_t> BuildRtcpReceiverReport(uint32_t ownSsrc,
                                             const std::vector<RtcpReception>& sources,
                                             const std::string& cname);
// Generic NACKs for the media source: one FCI entry per run of up to 17 sequence numbers (PID and
// the 16 after it as a bit mask), at most kMaxNackEntries of them; the numbers that did not fit
// are left in sequences. Appended to out (a compound packet goes out whole).
inline constexpr size_t kMaxNackEntries = 32;
void AppendRtcpNack(uint32_t ownSsrc, uint32_t mediaSsrc, std::vector<uint16_t>& sequences,
                    std::vector<uint8_t>& out);

struct RtcpSummary {
  bool valid = false;          // a compound packet whose every part lies inside the bytes
  std::vector<uint32_t> byes;  // sources that said goodbye
  struct SenderReport {
    uint32_t ssrc = 0;
    uint32_t ntpMiddle = 0;
  };
  std::vector<SenderReport> senderReports;
};
RtcpSummary ReadRtcp(const uint8_t* data, size_t size);

}  // namespace qor
