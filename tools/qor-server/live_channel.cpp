#include "live_channel.h"

#include <algorithm>

namespace qor::server {

LiveChannel::LiveChannel(std::string name, std::vector<std::shared_ptr<const MediaSource>> entries,
                         std::chrono::steady_clock::time_point start, double pace)
    : name_(std::move(name)),
      entries_(std::move(entries)),
      start_(start),
      pace_(pace > 0 ? pace : 1.0) {
  for (const auto& entry : entries_) {
    entryStartMs_.push_back(cycleMs_);
    entryFirstPacket_.push_back(cyclePackets_);
    cycleMs_ += entry->SpanMs();
    cyclePackets_ += entry->PacketCount();
  }
  cycleMs_ = std::max<uint64_t>(cycleMs_, 1);
}

uint64_t LiveChannel::TimelineMs(std::chrono::steady_clock::time_point when) const {
  if (when <= start_) return 0;
  return static_cast<uint64_t>(
      static_cast<double>(
          std::chrono::duration_cast<std::chrono::milliseconds>(when - start_).count()) *
      pace_);
}

LiveChannel::Cursor LiveChannel::At(std::chrono::steady_clock::time_point when) const {
  const uint64_t t = TimelineMs(when);
  Cursor c;
  c.cycle = t / cycleMs_;
  const uint64_t rem = t % cycleMs_;
  c.entry = static_cast<size_t>(std::upper_bound(entryStartMs_.begin(), entryStartMs_.end(), rem) -
                                entryStartMs_.begin() - 1);
  const MediaSource& media = *entries_[c.entry];
  const uint64_t target = rem - entryStartMs_[c.entry] + media.SendTime(0);
  uint64_t low = 0, high = media.PacketCount();  // last packet with send time <= target
  while (high - low > 1) {
    const uint64_t mid = (low + high) / 2;
    if (media.SendTime(mid) <= target)
      low = mid;
    else
      high = mid;
  }
  c.packet = low;
  return c;
}

bool LiveChannel::Advance(Cursor& c) const {
  if (++c.packet < entries_[c.entry]->PacketCount()) return false;
  c.packet = 0;
  if (++c.entry == entries_.size()) {
    c.entry = 0;
    ++c.cycle;
  }
  return true;
}

uint64_t LiveChannel::ScheduleMs(const Cursor& c) const {
  const MediaSource& media = *entries_[c.entry];
  return c.cycle * cycleMs_ + entryStartMs_[c.entry] + media.SendTime(c.packet) - media.SendTime(0);
}

uint32_t LiveChannel::LocationId(const Cursor& c) const {
  return static_cast<uint32_t>(kFirstLocationId + c.cycle * cyclePackets_ +
                               entryFirstPacket_[c.entry] + c.packet);
}

uint32_t LiveChannel::TimeDelta(const Cursor& c) const {
  const MediaSource& media = *entries_[c.entry];
  return static_cast<uint32_t>(kFirstSendTimeMs + c.cycle * cycleMs_ + entryStartMs_[c.entry] -
                               media.SendTime(0));
}

}  // namespace qor::server
