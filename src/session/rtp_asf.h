#pragma once
// ASF packets out of RTP as Windows Media servers send them: the RTP header, then for each ASF
// packet or fragment a payload format header (key-frame, length-or-offset, optional relative
// timestamp, duration and location id). Whole packets may share an RTP packet; a large one comes
// in fragments that are put together here. Servers disagree on what the Length field of a whole
// packet counts (the payload format header and the packet, or the packet alone): both are
// accepted, the reading that ends exactly on the RTP payload's end wins and is kept for the
// stream. Padding an ASF packet back to the header's packet size is not done here.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qor {

struct RtpHeaderView {
  uint8_t payloadType = 0;
  bool marker = false;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  size_t payloadOffset = 0;  // where the payload starts in the packet
  size_t payloadSize = 0;    // without the RTP padding
};
// False when the bytes are no RTP version 2 packet or its header, extension or padding does not
// fit inside them.
bool ReadRtpHeader(const uint8_t* data, size_t size, RtpHeaderView& out);

struct AsfFromRtp {
  std::vector<uint8_t> packet;  // as sent: its padding may be missing
  bool keyFrame = false;
  uint32_t timestamp = 0;  // the RTP timestamp it came with (the send time, ms)
  // The packet's number in the stream, when the server sends location ids (asked for with
  // com.microsoft.wm.locid); a fragmented packet's comes with its first fragment.
  bool hasLocationId = false;
  uint32_t locationId = 0;
  // RTP packets given up as lost just before this one (set by whoever orders them), and the
  // sequence number of the RTP packet that completed it.
  uint32_t lostBefore = 0;
  uint16_t rtpSequence = 0;
};

class RtpAsfAssembler {
 public:
  enum class Reading { kUnknown, kWithHeader, kPacketOnly };
  // packetSize: the ASF header's packet size (a whole fragmented packet is never larger).
  explicit RtpAsfAssembler(uint32_t packetSize) : packetSize_(packetSize) {}
  // One RTP payload. Complete ASF packets are appended to out. False when the payload is
  // malformed; what it held is dropped and a packet being put together is dropped with it.
  bool Take(const uint8_t* payload, size_t size, bool marker, uint32_t timestamp,
            std::vector<AsfFromRtp>& out);
  // Forgets a packet being put together (after a loss or a seek).
  void Reset() { partial_.clear(); }
  Reading LengthReading() const { return reading_; }

 private:
  bool Chain(const uint8_t* payload, size_t size, Reading reading) const;

  uint32_t packetSize_;
  Reading reading_ = Reading::kUnknown;
  std::vector<uint8_t> partial_;
  bool partialKey_ = false;
  uint32_t partialTime_ = 0;
  bool partialHasLocation_ = false;
  uint32_t partialLocation_ = 0;
};

}  // namespace qor
