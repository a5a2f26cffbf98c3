#include <time.h>

#include "platform/clock.h"

namespace qor {

namespace {

class MachineClock final : public Clock {
 public:
  int64_t MonotonicMs() const override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
  }
  std::time_t WallTime() const override { return std::time(nullptr); }
};

}  // namespace

Clock& SystemClock() {
  static MachineClock clock;
  return clock;
}

}  // namespace qor
