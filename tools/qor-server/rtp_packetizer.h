#pragma once
// ASF data packets carried in RTP, as a Windows Media server sends them: a payload format header
// in front of every ASF packet or fragment of one, small packets sharing an RTP packet, large ones
// split over several. Also the RTCP the server sends (sender report, BYE) and the NACKs a client
// sends to have lost packets sent again.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire.h"

namespace qor::server {

// What the 24-bit Length field of a whole packet's payload format header counts: the payload
// format header and the ASF packet after it (what Windows Media servers send), or the ASF packet
// alone (the other reading, for clients that expect it).
enum class LengthField { kWithHeader, kPacketOnly };

inline constexpr uint8_t kAsfPayloadType = 96;
inline constexpr uint8_t kRtxPayloadType = 97;
// RTP payload bytes per packet: what an interleaved frame and a UDP datagram on loopback take,
// so every ASF packet goes whole unless a test asks for smaller RTP packets (fault rtp-size).
inline constexpr size_t kMaxRtpPayload = 0xFFFF - 12;
// A UDP datagram over IPv4 carries at most 65 507 bytes: a larger RTP packet is never sent.
inline constexpr size_t kMaxUdpRtpPayload = 65507 - 12;

struct AsfPacketInfo {
  uint32_t sendTime = 0;
  bool keyFrame = false;
  uint32_t locationId = 0;
};

class RtpPacketizer {
 public:
  RtpPacketizer(uint32_t ssrc, uint16_t firstSequence, LengthField length, bool withLocationId,
                size_t maxPayload = kMaxRtpPayload);
  // Adds one ASF packet. RTP packets that are complete are appended to out; a small packet may
  // wait in the packetizer for the next one to share its RTP packet (Flush sends it).
  void Add(const uint8_t* packet, size_t size, const AsfPacketInfo& info, std::vector<Bytes>& out);
  void Flush(std::vector<Bytes>& out);
  uint32_t Ssrc() const { return ssrc_; }
  uint16_t NextSequence() const { return sequence_; }
  uint32_t PacketsSent() const { return packets_; }
  uint32_t OctetsSent() const { return octets_; }
  uint32_t LastTimestamp() const { return lastTimestamp_; }
  // Makes the next packet's Length field lie (a fault for clients to survive).
  void LieOnce() { lie_ = true; }

 private:
  size_t HeaderLength() const { return withLocationId_ ? 8 : 4; }
  void PutFormatHeader(Bytes& out, bool whole, uint32_t lengthOrOffset, const AsfPacketInfo& info);
  Bytes Start(bool marker, uint32_t timestamp);
  void Finish(Bytes& packet, std::vector<Bytes>& out);

  uint32_t ssrc_;
  uint16_t sequence_;
  LengthField length_;
  bool withLocationId_;
  size_t maxPayload_;
  Bytes pending_;  // an RTP packet holding whole ASF packets, open for more
  uint32_t packets_ = 0, octets_ = 0, lastTimestamp_ = 0;
  bool lie_ = false;
};

// A sender report (so the client can map RTP times) followed by a BYE: the stream is over.
Bytes BuildRtcpGoodbye(uint32_t ssrc, uint32_t rtpTimestamp, uint32_t packets, uint32_t octets);
// The RTP sequence numbers a compound RTCP packet asks to have sent again (generic NACKs), for
// the media source ssrc. Reads only inside the bytes given.
std::vector<uint16_t> ReadRtcpNacks(const uint8_t* data, size_t size, uint32_t ssrc);

// Reads back an RTP header (the server's tests and the retransmission store use it): sequence,
// marker and where the payload starts. False when the bytes are no RTP packet.
bool ReadRtpSequence(const Bytes& packet, uint16_t& sequence);

}  // namespace qor::server
