#pragma once
// Time sources. Everything that waits or schedules asks a Clock, so tests can run timers and
// schedules on a manual clock without sleeping.

#include <cstdint>
#include <ctime>

namespace qor {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale (only differences mean anything).
  virtual int64_t MonotonicMs() const = 0;
  // Wall time, seconds since the epoch (UTC).
  virtual std::time_t WallTime() const = 0;
};

// The real clocks of the machine.
Clock& SystemClock();

}  // namespace qor
