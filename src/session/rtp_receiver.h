#pragma once
// The RTP side of an RTSP session: every RTP packet of the media, by its source (SSRC), made into
// whole ASF packets. Over UDP the packets are put back in sequence order first: one that arrives
// after a gap waits until the missing one is resent or given up, so fragments join in order and
// the packets reach the file in the order the server sent them. Losses are followed per source
// (RtpLossTracker) and the receiver reports and NACKs for them are worked out here; sending them
// is the caller's. The session thread calls everything except Due, which the resend tick calls.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "session/rtcp_packets.h"
#include "session/rtp_asf.h"
#include "session/rtp_loss_tracker.h"

namespace qor {

class RtpAsfReceiver {
 public:
  using Clock = std::chrono::steady_clock;
  // Sources followed at once; a packet from yet another is not ours.
  static constexpr size_t kMaxSources = 8;
  // Packets waiting behind gaps, per source; beyond that the oldest gap is given up.
  static constexpr size_t kMaxHeld = 8192;

  // Requests to send: sequence numbers of one source.
  struct Nack {
    uint32_t ssrc = 0;
    std::vector<uint16_t> sequences;
  };

  // packetSize: the ASF header's; overUdp: packets can be lost or come out of order.
  void Reset(uint32_t packetSize, bool overUdp);
  // A new header (the next play-list entry) with another packet size: what is being put
  // together is dropped.
  void SetPacketSize(uint32_t packetSize);

  enum class Outcome { kTaken, kNotRtp, kMalformed, kIgnored };
  // One RTP packet. Whole ASF packets that can go on now are appended to out; the sequence
  // numbers found missing are appended to nacks.
  Outcome Take(const uint8_t* data, size_t size, std::vector<AsfFromRtp>& out,
               std::vector<Nack>& nacks);
  // Packets held behind gaps that have since been settled (resent or given up).
  void Release(std::vector<AsfFromRtp>& out);
  // The server names the first packet of a source (from RTP-Info and the SETUP answer's ssrc).
  void ExpectFirst(uint32_t ssrc, uint16_t sequence, std::vector<Nack>& nacks);
  // The end: the server's next sequence number for the source that carried the media (0 when it
  // did not say); the ones before it that never came are asked for.
  void ExpectEnd(uint16_t next, bool known, std::vector<Nack>& nacks);
  // Gives up on everything still asked for; returns how many packets that was.
  uint32_t GiveUpAll(std::vector<AsfFromRtp>& out);

  // Resend tick: requests due again, and the count given up as lost now.
  uint32_t Due(Clock::time_point now, std::vector<Nack>& nacks);

  bool AnyPending() const;
  bool Holding() const;
  uint32_t Lost() const;
  uint32_t Recovered() const;
  bool KnownSource(uint32_t ssrc) const;
  // A sender report of a source: quoted in the next receiver report.
  void SenderReport(uint32_t ssrc, uint32_t ntpMiddle, Clock::time_point now);
  std::vector<RtcpReception> Reports(Clock::time_point now);

 private:
  struct Source {
    explicit Source(uint32_t id, uint32_t packetSize) : ssrc(id), assembler(packetSize) {}
    uint32_t ssrc;
    RtpAsfAssembler assembler;
    RtpLossTracker tracker;
    // Session thread only: RTP packets behind a gap, by extended sequence number, and the last
    // one passed on.
    std::map<uint32_t, std::vector<uint8_t>> held;
    bool delivered = false;
    uint32_t lastDelivered = 0;
    uint32_t lastSenderReport = 0;
    Clock::time_point senderReportAt{};
    uint32_t expectedAtReport = 0, receivedAtReport = 0;
  };
  Source* Find(uint32_t ssrc) const;
  Source* FindOrAdd(uint32_t ssrc);
  // Passes one RTP packet's payload to the source's assembler.
  bool Assemble(Source& source, const uint8_t* data, size_t size, uint32_t lostBefore,
                std::vector<AsfFromRtp>& out);
  void ReleaseFrom(Source& source, std::vector<AsfFromRtp>& out);
  // The RTP packets given up between the last one passed on and this one.
  uint32_t LostBefore(const Source& source, uint32_t extended) const;

  uint32_t packet_size_ = 0;
  bool over_udp_ = false;
  // The list changes on the session thread only, under the lock the resend tick takes to read
  // it; the sources themselves stay where they are.
  mutable std::mutex sources_mutex_;
  std::vector<std::unique_ptr<Source>> sources_;
};

}  // namespace qor
