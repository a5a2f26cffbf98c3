#include "platform/window_thread.h"

namespace qor {

ManualClock::ManualClock(int64_t startMs, std::time_t startWall)
    : now_ms_(startMs), wall_base_ms_(static_cast<int64_t>(startWall) * 1000), start_ms_(startMs) {}

int64_t ManualClock::MonotonicMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_ms_;
}

std::time_t ManualClock::WallTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t wallMs = wall_base_ms_ + (now_ms_ - start_ms_);
  // Floor division, so a moment just before the epoch does not round up to it.
  int64_t seconds = wallMs / 1000;
  if (wallMs % 1000 < 0) --seconds;
  return static_cast<std::time_t>(seconds);
}

void ManualClock::Set(int64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ms_ = ms;
}

void ManualClock::SetWall(std::time_t wall) {
  std::lock_guard<std::mutex> lock(mutex_);
  wall_base_ms_ = static_cast<int64_t>(wall) * 1000 - (now_ms_ - start_ms_);
}

}  // namespace qor
