#include "session/rtp_receiver.h"

#include <algorithm>

namespace qor {

void RtpAsfReceiver::Reset(uint32_t packetSize, bool overUdp) {
  std::lock_guard<std::mutex> lock(sources_mutex_);
  packet_size_ = packetSize;
  over_udp_ = overUdp;
  sources_.clear();
}

void RtpAsfReceiver::SetPacketSize(uint32_t packetSize) {
  packet_size_ = packetSize;
  for (auto& source : sources_) source->assembler = RtpAsfAssembler(packetSize);
}

RtpAsfReceiver::Source* RtpAsfReceiver::Find(uint32_t ssrc) const {
  for (const auto& source : sources_)
    if (source->ssrc == ssrc) return source.get();
  return nullptr;
}

RtpAsfReceiver::Source* RtpAsfReceiver::FindOrAdd(uint32_t ssrc) {
  if (Source* known = Find(ssrc)) return known;
  if (sources_.size() >= kMaxSources) return nullptr;
  std::lock_guard<std::mutex> lock(sources_mutex_);
  sources_.push_back(std::make_unique<Source>(ssrc, packet_size_));
  return sources_.back().get();
}

bool RtpAsfReceiver::KnownSource(uint32_t ssrc) const {
  return Find(ssrc) != nullptr;
}

bool RtpAsfReceiver::Assemble(Source& source, const uint8_t* data, size_t size, uint32_t lostBefore,
                              std::vector<AsfFromRtp>& out) {
  RtpHeaderView view;
  if (!ReadRtpHeader(data, size, view)) return false;
  const size_t before = out.size();
  const bool read = source.assembler.Take(data + view.payloadOffset, view.payloadSize, view.marker,
                                          view.timestamp, out);
  if (out.size() > before) out[before].lostBefore = lostBefore;
  for (size_t i = before; i < out.size(); ++i) out[i].rtpSequence = view.sequence;
  return read;
}

RtpAsfReceiver::Outcome RtpAsfReceiver::Take(const uint8_t* data, size_t size,
                                             std::vector<AsfFromRtp>& out,
                                             std::vector<Nack>& nacks) {
  RtpHeaderView view;
  if (!ReadRtpHeader(data, size, view)) return Outcome::kNotRtp;
  Source* source = FindOrAdd(view.ssrc);
  if (source == nullptr) return Outcome::kIgnored;
  if (!over_udp_) {
    return Assemble(*source, data, size, 0, out) ? Outcome::kTaken : Outcome::kMalformed;
  }
  RtpLossTracker::Arrival arrival = source->tracker.Arrived(view.sequence);
  if (!arrival.missing.empty()) nacks.push_back({view.ssrc, std::move(arrival.missing)});
  switch (arrival.kind) {
    case RtpLossTracker::Kind::kDuplicate:
    case RtpLossTracker::Kind::kStray:
      return Outcome::kIgnored;
    case RtpLossTracker::Kind::kLate: {
      // Past it already: only whole packets that carry their own number can still find their
      // place; a fragment cannot join a packet that was given up.
      RtpAsfAssembler alone(packet_size_);
      std::vector<AsfFromRtp> whole;
      alone.Take(data + view.payloadOffset, view.payloadSize, view.marker, view.timestamp, whole);
      if (whole.empty() || !std::all_of(whole.begin(), whole.end(),
                                        [](const AsfFromRtp& p) { return p.hasLocationId; }))
        return Outcome::kIgnored;
      source->tracker.CountLate();
      for (AsfFromRtp& p : whole) out.push_back(std::move(p));
      return Outcome::kTaken;
    }
    case RtpLossTracker::Kind::kNew:
    case RtpLossTracker::Kind::kRecovered:
      break;
  }
  uint32_t lowest = 0;
  const bool gapBefore = source->tracker.LowestPending(lowest) && lowest < arrival.extended;
  if (source->held.empty() && !gapBefore) {
    const uint32_t lost = LostBefore(*source, arrival.extended);
    source->delivered = true;
    source->lastDelivered = arrival.extended;
    return Assemble(*source, data, size, lost, out) ? Outcome::kTaken : Outcome::kMalformed;
  }
  source->held.emplace(arrival.extended, std::vector<uint8_t>(data, data + size));
  if (source->held.size() > kMaxHeld) source->tracker.GiveUpBefore(source->held.begin()->first);
  ReleaseFrom(*source, out);
  return Outcome::kTaken;
}

uint32_t RtpAsfReceiver::LostBefore(const Source& source, uint32_t extended) const {
  // Before the first one passed on, from the first the server said it would send.
  const uint32_t after = source.delivered ? source.lastDelivered + 1 : source.tracker.First();
  return extended > after ? extended - after : 0;
}

void RtpAsfReceiver::ReleaseFrom(Source& source, std::vector<AsfFromRtp>& out) {
  while (!source.held.empty()) {
    const auto it = source.held.begin();
    uint32_t lowest = 0;
    if (source.tracker.LowestPending(lowest) && lowest < it->first) return;
    const uint32_t lost = LostBefore(source, it->first);
    source.delivered = true;
    source.lastDelivered = it->first;
    Assemble(source, it->second.data(), it->second.size(), lost, out);
    source.held.erase(it);
  }
}

void RtpAsfReceiver::Release(std::vector<AsfFromRtp>& out) {
  for (auto& source : sources_) ReleaseFrom(*source, out);
}

void RtpAsfReceiver::ExpectFirst(uint32_t ssrc, uint16_t sequence, std::vector<Nack>& nacks) {
  if (!over_udp_) return;
  Source* source = FindOrAdd(ssrc);
  if (source == nullptr) return;
  std::vector<uint16_t> missing = source->tracker.ExpectFirst(sequence);
  if (!missing.empty()) nacks.push_back({ssrc, std::move(missing)});
}

void RtpAsfReceiver::ExpectEnd(uint16_t next, bool known, std::vector<Nack>& nacks) {
  if (!over_udp_ || !known) return;
  // The media comes from the source that sent the most.
  Source* main = nullptr;
  for (auto& source : sources_)
    if (!main || source->tracker.Received() > main->tracker.Received()) main = source.get();
  if (main == nullptr) return;
  std::vector<uint16_t> missing = main->tracker.MissingBefore(next);
  if (!missing.empty()) nacks.push_back({main->ssrc, std::move(missing)});
}

uint32_t RtpAsfReceiver::GiveUpAll(std::vector<AsfFromRtp>& out) {
  uint32_t count = 0;
  for (auto& source : sources_) {
    count += source->tracker.GiveUpAll();
    ReleaseFrom(*source, out);
  }
  return count;
}

uint32_t RtpAsfReceiver::Due(Clock::time_point now, std::vector<Nack>& nacks) {
  std::lock_guard<std::mutex> lock(sources_mutex_);
  uint32_t gaveUp = 0;
  for (auto& source : sources_) {
    std::vector<uint16_t> lost;
    std::vector<uint16_t> due = source->tracker.Due(now, lost);
    gaveUp += static_cast<uint32_t>(lost.size());
    if (!due.empty()) nacks.push_back({source->ssrc, std::move(due)});
  }
  return gaveUp;
}

bool RtpAsfReceiver::AnyPending() const {
  std::lock_guard<std::mutex> lock(sources_mutex_);
  return std::any_of(sources_.begin(), sources_.end(),
                     [](const auto& s) { return s->tracker.AnyPending(); });
}

bool RtpAsfReceiver::Holding() const {
  return std::any_of(sources_.begin(), sources_.end(),
                     [](const auto& s) { return !s->held.empty(); });
}

uint32_t RtpAsfReceiver::Lost() const {
  std::lock_guard<std::mutex> lock(sources_mutex_);
  uint32_t lost = 0;
  for (const auto& source : sources_) lost += source->tracker.Lost();
  return lost;
}

uint32_t RtpAsfReceiver::Recovered() const {
  std::lock_guard<std::mutex> lock(sources_mutex_);
  uint32_t recovered = 0;
  for (const auto& source : sources_) recovered += source->tracker.Recovered();
  return recovered;
}

void RtpAsfReceiver::SenderReport(uint32_t ssrc, uint32_t ntpMiddle, Clock::time_point now) {
  if (Source* source = Find(ssrc)) {
    source->lastSenderReport = ntpMiddle;
    source->senderReportAt = now;
  }
}

std::vector<RtcpReception> RtpAsfReceiver::Reports(Clock::time_point now) {
  std::vector<RtcpReception> reports;
  for (auto& source : sources_) {
    RtpLossTracker& t = source->tracker;
    if (!t.Started()) continue;
    RtcpReception r;
    r.ssrc = source->ssrc;
    r.extendedHighest = t.ExtendedHighest();
    r.cumulativeLost = t.MissingNow();
    const uint32_t expected = t.Expected(), received = t.Received();
    const uint32_t expectedNow = expected - source->expectedAtReport;
    const uint32_t receivedNow = received - source->receivedAtReport;
    if (expectedNow > receivedNow && expectedNow > 0)
      r.fractionLost = static_cast<uint8_t>(
          std::min<uint64_t>(255, (uint64_t{expectedNow - receivedNow} << 8) / expectedNow));
    source->expectedAtReport = expected;
    source->receivedAtReport = received;
    if (source->lastSenderReport != 0) {
      r.lastSenderReport = source->lastSenderReport;
      const auto since =
          std::chrono::duration_cast<std::chrono::microseconds>(now - source->senderReportAt)
              .count();
      r.delaySinceReport = static_cast<uint32_t>(since * 65536 / 1000000);
    }
    reports.push_back(r);
  }
  return reports;
}

}  // namespace qor
