#include "session/rtp_loss_tracker.h"

#include <algorithm>

namespace qor {

namespace {

// Extended numbers start one cycle up, so that the arithmetic for packets from just before the
// first one seen never goes below zero.
constexpr uint32_t kCycle = 0x10000;
constexpr size_t kGivenUpKept = 4096;

}  // namespace

void RtpLossTracker::Miss(uint32_t extended, Clock::time_point now,
                          std::vector<uint16_t>& missing) {
  if (pending_.size() >= kMaxPending) {
    ++lost_;  // a burst this long is past saving: counted, not asked for
    given_up_.push_back(extended);
    return;
  }
  pending_[extended] = Pending{1, now};
  missing.push_back(static_cast<uint16_t>(extended));
}

RtpLossTracker::Arrival RtpLossTracker::Arrived(uint16_t sequence, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  Arrival arrival;
  if (!started_) {
    started_ = true;
    first_ = highest_ = kCycle + sequence;
    received_ = 1;
    arrival.extended = highest_;
    return arrival;
  }
  const auto delta = static_cast<int16_t>(sequence - static_cast<uint16_t>(highest_));
  const uint32_t extended = highest_ + static_cast<uint32_t>(static_cast<int32_t>(delta));
  arrival.extended = extended;
  if (delta > 0) {
    for (uint32_t e = highest_ + 1; e < extended; ++e) Miss(e, now, arrival.missing);
    highest_ = extended;
    ++received_;
    return arrival;
  }
  // The highest itself may be missing: the end names the last number before it comes.
  if (pending_.erase(extended) != 0) {
    arrival.kind = Kind::kRecovered;
    ++received_;
    ++recovered_;
    return arrival;
  }
  const auto late = std::find(given_up_.begin(), given_up_.end(), extended);
  if (late != given_up_.end()) {
    // Given up on, and here after all.
    given_up_.erase(late);
    arrival.kind = Kind::kLate;
    return arrival;
  }
  arrival.kind = delta != 0 && (extended < first_ || highest_ - extended > kMaxBehind)
                     ? Kind::kStray
                     : Kind::kDuplicate;
  return arrival;
}

std::vector<uint16_t> RtpLossTracker::ExpectFirst(uint16_t sequence, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint16_t> missing;
  if (!started_) {
    // Nothing yet: the first packet is the one after this "highest".
    started_ = true;
    first_ = kCycle + sequence;
    highest_ = first_ - 1;
    return missing;
  }
  const auto delta = static_cast<int16_t>(sequence - static_cast<uint16_t>(first_));
  if (delta >= 0 || -delta > static_cast<int32_t>(kMaxBehind)) return missing;
  const uint32_t expected = first_ + static_cast<uint32_t>(static_cast<int32_t>(delta));
  for (uint32_t e = expected; e < first_; ++e) Miss(e, now, missing);
  first_ = expected;
  return missing;
}

std::vector<uint16_t> RtpLossTracker::Due(Clock::time_point now, std::vector<uint16_t>& gaveUp) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint16_t> due;
  for (auto it = pending_.begin(); it != pending_.end();) {
    Pending& p = it->second;
    if (now - p.asked < kRetryAfter) {
      ++it;
      continue;
    }
    if (p.attempts >= kAttempts) {
      gaveUp.push_back(static_cast<uint16_t>(it->first));
      given_up_.push_back(it->first);
      ++lost_;
      it = pending_.erase(it);
      continue;
    }
    ++p.attempts;
    p.asked = now;
    due.push_back(static_cast<uint16_t>(it->first));
    ++it;
  }
  if (given_up_.size() > kGivenUpKept)
    given_up_.erase(given_up_.begin(), given_up_.begin() + static_cast<std::ptrdiff_t>(
                                                               given_up_.size() - kGivenUpKept));
  return due;
}

std::vector<uint16_t> RtpLossTracker::MissingBefore(uint16_t next, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint16_t> missing;
  if (!started_) return missing;
  const auto delta = static_cast<int16_t>(next - static_cast<uint16_t>(highest_));
  if (delta <= 1) return missing;
  const uint32_t end = highest_ + static_cast<uint32_t>(delta);
  for (uint32_t e = highest_ + 1; e < end; ++e) Miss(e, now, missing);
  highest_ = end - 1;
  return missing;
}

uint32_t RtpLossTracker::GiveUpAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto count = static_cast<uint32_t>(pending_.size());
  for (const auto& [extended, p] : pending_) given_up_.push_back(extended);
  lost_ += count;
  pending_.clear();
  return count;
}

uint32_t RtpLossTracker::GiveUpBefore(uint32_t extended) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t count = 0;
  for (auto it = pending_.begin(); it != pending_.end() && it->first < extended; ++count) {
    given_up_.push_back(it->first);
    it = pending_.erase(it);
  }
  lost_ += count;
  return count;
}

void RtpLossTracker::CountLate() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lost_ > 0) --lost_;
  ++received_;
  ++recovered_;
}

bool RtpLossTracker::LowestPending(uint32_t& extended) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return false;
  extended = pending_.begin()->first;
  return true;
}

uint32_t RtpLossTracker::First() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_ ? first_ : 0;
}

uint32_t RtpLossTracker::Expected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_ && highest_ + 1 >= first_ ? highest_ + 1 - first_ : 0;
}

bool RtpLossTracker::AnyPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !pending_.empty();
}

bool RtpLossTracker::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

uint32_t RtpLossTracker::ExtendedHighest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return highest_ - kCycle;
}

uint32_t RtpLossTracker::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

uint32_t RtpLossTracker::Lost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

uint32_t RtpLossTracker::Recovered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return recovered_;
}

uint32_t RtpLossTracker::MissingNow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!started_ || highest_ + 1 < first_) return 0;
  const uint32_t expected = highest_ + 1 - first_;
  return expected > received_ ? expected - received_ : 0;
}

}  // namespace qor
