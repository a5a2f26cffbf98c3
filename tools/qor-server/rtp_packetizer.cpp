#include "rtp_packetizer.h"

#include <algorithm>
#include <chrono>

namespace qor::server {

namespace {

void PutBe16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void PutBe24(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void PutBe32(Bytes& out, uint32_t v) {
  PutBe16(out, static_cast<uint16_t>(v >> 16));
  PutBe16(out, static_cast<uint16_t>(v));
}
uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

constexpr size_t kRtpHeaderLength = 12;
constexpr uint8_t kKeyFrameBit = 0x80, kLengthBit = 0x40, kLocationBit = 0x08;

}  // namespace

RtpPacketizer::RtpPacketizer(uint32_t ssrc, uint16_t firstSequence, LengthField length,
                             bool withLocationId, size_t maxPayload)
    : ssrc_(ssrc),
      sequence_(firstSequence),
      length_(length),
      withLocationId_(withLocationId),
      maxPayload_(std::max<size_t>(maxPayload, 64)) {}

Bytes RtpPacketizer::Start(bool marker, uint32_t timestamp) {
  Bytes p;
  p.reserve(kRtpHeaderLength + maxPayload_);
  p.push_back(0x80);  // version 2, no padding, no extension, no contributing sources
  p.push_back(static_cast<uint8_t>((marker ? 0x80 : 0) | kAsfPayloadType));
  PutBe16(p, sequence_++);
  PutBe32(p, timestamp);  // the clock is the send time in milliseconds
  PutBe32(p, ssrc_);
  return p;
}

void RtpPacketizer::Finish(Bytes& packet, std::vector<Bytes>& out) {
  ++packets_;
  octets_ += static_cast<uint32_t>(packet.size() - kRtpHeaderLength);
  lastTimestamp_ = Be32(packet.data() + 4);
  out.push_back(std::move(packet));
  packet.clear();
}

void RtpPacketizer::PutFormatHeader(Bytes& out, bool whole, uint32_t lengthOrOffset,
                                    const AsfPacketInfo& info) {
  uint8_t flags = 0;
  if (info.keyFrame) flags |= kKeyFrameBit;
  if (whole) flags |= kLengthBit;
  if (withLocationId_) flags |= kLocationBit;
  if (whole && lie_) {
    lengthOrOffset += 0x1000;  // points past the RTP packet
    lie_ = false;
  }
  out.push_back(flags);
  PutBe24(out, lengthOrOffset & 0xFFFFFF);
  if (withLocationId_) PutBe32(out, info.locationId);
}

void RtpPacketizer::Add(const uint8_t* packet, size_t size, const AsfPacketInfo& info,
                        std::vector<Bytes>& out) {
  const size_t header = HeaderLength();
  if (header + size <= maxPayload_) {
    // Whole: shares the open RTP packet when it fits there, else opens one of its own.
    if (!pending_.empty() && pending_.size() - kRtpHeaderLength + header + size > maxPayload_)
      Finish(pending_, out);
    if (pending_.empty()) pending_ = Start(true, info.sendTime);
    const uint32_t length =
        static_cast<uint32_t>(length_ == LengthField::kWithHeader ? header + size : size);
    PutFormatHeader(pending_, true, length, info);
    pending_.insert(pending_.end(), packet, packet + size);
    return;
  }
  Flush(out);
  // Split: each fragment says where in the ASF packet it begins; the marker ends the packet.
  const size_t step = maxPayload_ - header;
  for (size_t at = 0; at < size; at += step) {
    const size_t n = std::min(step, size - at);
    Bytes p = Start(at + n >= size, info.sendTime);
    PutFormatHeader(p, false, static_cast<uint32_t>(at), info);
    p.insert(p.end(), packet + at, packet + at + n);
    Finish(p, out);
  }
}

void RtpPacketizer::Flush(std::vector<Bytes>& out) {
  if (!pending_.empty()) Finish(pending_, out);
}

Bytes BuildRtcpGoodbye(uint32_t ssrc, uint32_t rtpTimestamp, uint32_t packets, uint32_t octets) {
  Bytes out;
  // Sender report without report blocks: 7 words after the first.
  out.push_back(0x80);
  out.push_back(200);
  PutBe16(out, 6);
  PutBe32(out, ssrc);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t micros =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
  const uint64_t seconds = micros / 1000000 + 2208988800ull;  // NTP counts from 1900
  const uint64_t fraction = ((micros % 1000000) << 32) / 1000000;
  PutBe32(out, static_cast<uint32_t>(seconds));
  PutBe32(out, static_cast<uint32_t>(fraction));
  PutBe32(out, rtpTimestamp);
  PutBe32(out, packets);
  PutBe32(out, octets);
  // BYE for the one source.
  out.push_back(0x81);
  out.push_back(203);
  PutBe16(out, 1);
  PutBe32(out, ssrc);
  return out;
}

std::vector<uint16_t> ReadRtcpNacks(const uint8_t* data, size_t size, uint32_t ssrc) {
  std::vector<uint16_t> wanted;
  size_t at = 0;
  while (size - at >= 4) {
    const uint8_t first = data[at];
    const uint8_t type = data[at + 1];
    const size_t length = (static_cast<size_t>((data[at + 2] << 8) | data[at + 3]) + 1) * 4;
    if ((first >> 6) != 2 || length > size - at) break;
    // Transport-layer feedback, generic NACK: the low four bits of the count field (the top bit
    // is a flag of this dialect that servers ignore).
    if (type == 205 && (first & 0x0F) == 1 && length >= 12 && Be32(data + at + 8) == ssrc) {
      for (size_t f = at + 12; f + 4 <= at + length; f += 4) {
        const uint16_t pid = static_cast<uint16_t>((data[f] << 8) | data[f + 1]);
        const uint16_t bitmask = static_cast<uint16_t>((data[f + 2] << 8) | data[f + 3]);
        wanted.push_back(pid);
        for (int bit = 0; bit < 16; ++bit)
          if (bitmask & (1u << bit)) wanted.push_back(static_cast<uint16_t>(pid + bit + 1));
      }
    }
    at += length;
  }
  return wanted;
}

bool ReadRtpSequence(const Bytes& packet, uint16_t& sequence) {
  if (packet.size() < kRtpHeaderLength || (packet[0] >> 6) != 2) return false;
  sequence = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
  return true;
}

}  // namespace qor::server
