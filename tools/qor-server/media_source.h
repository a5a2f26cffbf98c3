#pragma once
// One ASF file as the server serves it: the header block (Header Object plus the Data Object's
// first 50 bytes), fixed-size data packets with their send times, and the facts the MMS and HTTP
// replies quote. Mapped into memory once and shared read-only between connections; a served file
// must not be cut short while the server runs.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire.h"

namespace qor::server {

class MediaSource {
 public:
  // Files larger than this are not served as streams.
  static constexpr uint64_t kMaxFileSize = 64ull * 1024 * 1024 * 1024;

  MediaSource() = default;
  ~MediaSource();
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  static std::shared_ptr<const MediaSource> Load(const std::string& path, std::string& error);

  const Bytes& Header() const { return header_; }
  // The header with the broadcast flag set, the seekable flag cleared and the sizes unknown (0),
  // as a live broadcast announces it.
  const Bytes& BroadcastHeader() const { return broadcastHeader_; }
  uint32_t PacketSize() const { return packetSize_; }
  uint64_t PacketCount() const { return sendTimes_.size(); }
  const uint8_t* Packet(uint64_t index) const;
  uint32_t SendTime(uint64_t index) const { return sendTimes_[index]; }
  // From the first packet's send time to the end of the last packet.
  uint32_t SpanMs() const { return spanMs_; }
  const std::vector<uint16_t>& StreamNumbers() const { return streams_; }
  // Beside each stream number: audio, video or another kind (StreamKindBits of the ASF model).
  const std::vector<uint8_t>& StreamKinds() const { return kinds_; }
  uint32_t BitRate() const { return bitRate_; }
  double DurationSeconds() const { return durationSeconds_; }
  bool Broadcast() const { return broadcast_; }
  // Index of the packet a play from ms should start with: the last key-frame packet at or before
  // the first packet whose send time reaches ms.
  uint64_t PacketForTime(uint32_t ms) const;

 private:
  const uint8_t* file_ = nullptr;  // the mapped file
  size_t fileSize_ = 0;
  Bytes header_;
  Bytes broadcastHeader_;
  size_t firstPacket_ = 0;
  uint32_t packetSize_ = 0;
  std::vector<uint32_t> sendTimes_;
  std::vector<bool> keyFrames_;
  std::vector<uint16_t> streams_;
  std::vector<uint8_t> kinds_;
  uint32_t spanMs_ = 0;
  uint32_t bitRate_ = 0;
  double durationSeconds_ = 0;
  bool broadcast_ = false;
};

// A copy of a header block marked as a live broadcast: broadcast flag on, seekable off, file size,
// packet counts and durations 0. False when the block has no File Properties object inside it.
bool MarkHeaderAsBroadcast(Bytes& header);

// Removes a packet's padding in place: the Padding Length field (and an explicit Packet Length)
// are rewritten and the new length is returned. A packet without a padding field keeps its size.
size_t StripPacketPadding(uint8_t* packet, size_t size);

// Adds delta (modulo 2^32) to the packet's send time and every presentation time in it.
bool ShiftPacketTimes(uint8_t* packet, size_t size, uint32_t delta);

}  // namespace qor::server
