#include "session/carry_over.h"

namespace qor {

void CarryOver::SetPreviousLast(uint32_t location) {
  std::lock_guard<std::mutex> lock(mutex_);
  previous_last_ = location;
  have_previous_ = true;
}

bool CarryOver::Keep(uint32_t location, const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (taken_ || packets_.size() >= kMaxPackets || bytes_ + length > kMaxBytes) return false;
  packets_.push_back(Packet{location, std::vector<uint8_t>(data, data + length)});
  bytes_ += length;
  kept_.notify_all();
  return true;
}

std::vector<CarryOver::Packet> CarryOver::TakeBefore(uint32_t first,
                                                     std::chrono::milliseconds bound,
                                                     const std::function<bool()>& stopped) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  const auto reached = [&] {
    // Nothing to wait for when the new connection starts right after the ended entry.
    if (have_previous_ && first <= previous_last_ + 1) return true;
    if (packets_.size() >= kMaxPackets) return true;
    return !packets_.empty() && packets_.back().location + 1 >= first;
  };
  // Keep wakes the wait, and so does a stop request (Interrupt).
  kept_.wait_until(lock, deadline, [&] { return reached() || stopped(); });
  taken_ = true;
  bytes_ = 0;
  return std::move(packets_);
}

void CarryOver::Interrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  kept_.notify_all();
}

std::vector<CarryOver::Packet> CarryOver::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  taken_ = true;
  bytes_ = 0;
  return std::move(packets_);
}

bool CarryOver::Taken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taken_;
}

bool CarryOver::PreviousLast(uint32_t& location) const {
  std::lock_guard<std::mutex> lock(mutex_);
  location = previous_last_;
  return have_previous_;
}

}  // namespace qor
