#include "session/udp_resend_tracker.h"

#include <algorithm>
#include <cstdlib>

namespace qor::mms {

void UdpResendTracker::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  expected_ = 0;
  for (auto& p : pending_) p = 0;
  for (auto& p : pending_sequence_) p = 0;
  scan_index_ = 0;
  recovered_ = 0;
  lost_ = 0;
}

std::vector<uint32_t> UdpResendTracker::LossCheck(uint8_t s) {
  std::vector<uint32_t> requests;
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t e = static_cast<uint8_t>(expected_);
  if (s == e) {
    ++expected_;
    return requests;
  }
  int d = static_cast<int>(s) - static_cast<int>(e);
  if (std::abs(d) > 128) d = d > 0 ? d - 256 : d + 256;  // the 8-bit counter wrapped
  if (d <= 0) {
    recovered_.fetch_add(1, std::memory_order_relaxed);
    pending_[s] = 0;
    return requests;
  }
  requests.reserve(static_cast<size_t>(d));
  for (int k = 0; k < d; ++k) {
    const uint32_t sequence = expected_ + static_cast<uint32_t>(k);
    Track(sequence);
    requests.push_back(sequence);
  }
  expected_ += static_cast<uint32_t>(d) + 1;
  return requests;
}

std::vector<uint32_t> UdpResendTracker::RequestRange(uint32_t from, uint32_t end) {
  std::vector<uint32_t> requests;
  std::lock_guard<std::mutex> lock(mutex_);
  if (end <= from) return requests;
  const uint32_t count = std::min<uint32_t>(end - from, 255);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t sequence = from + k;
    Track(sequence);
    requests.push_back(sequence);
  }
  expected_ = std::max(expected_, from + count);
  return requests;
}

void UdpResendTracker::Track(uint32_t sequence) {
  const uint8_t q = static_cast<uint8_t>(sequence);
  // The slot of a datagram 256 further on: one still asked for there is given up now, counted,
  // rather than forgotten.
  if (pending_[q] != 0 && pending_sequence_[q] != sequence)
    lost_.fetch_add(1, std::memory_order_relaxed);
  pending_[q] = kScanAttempts;
  pending_sequence_[q] = sequence;
}

UdpResendTracker::ScanStep UdpResendTracker::Scan() {
  ScanStep step;
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t i = scan_index_++;
  step.index = i;
  if (pending_[i] != 0) {
    step.request = true;
    step.sequence = pending_sequence_[i];
    if (--pending_[i] == 0) {
      step.gaveUp = true;
      lost_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  return step;
}

uint32_t UdpResendTracker::Expected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return expected_;
}

uint8_t UdpResendTracker::Pending(uint8_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_[index];
}

}  // namespace qor::mms

namespace qor::mms {

bool UdpResendTracker::AnyPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint8_t p : pending_)
    if (p != 0) return true;
  return false;
}

}  // namespace qor::mms
