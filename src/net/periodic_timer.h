#pragma once
// TMMTimer: a periodic tick on a thread of its own, for work that must run every few milliseconds
// whatever the window and the session are doing (the UDP resend scan).
//
// Ticks are due at absolute times on the monotonic clock (start + n x delay), so they do not drift;
// after a tick that ran late the schedule starts again from now instead of firing the missed ticks
// in a burst. OnTimer runs on the timer's thread, never on the window thread.
//
// Stop returns only when no tick handler of this timer is running or can start any more. Called
// from inside OnTimer, Stop returns at once: the tick in progress is the caller's own and no later
// tick starts. Start may be called from inside OnTimer too. Destroying the timer from inside
// OnTimer is not allowed.
//
// The resolution is bookkeeping only (the clock here needs no request); it follows the rule that
// the first Stop after a successful Start ends the ticks and keeps the resolution, and a Stop
// with no ticks running releases it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace qor {

class TMMTimer {
 public:
  static constexpr uint32_t kRunningMarker = 0xF5F5F5F5;
  static constexpr uint32_t kMinPeriodMs = 1;
  static constexpr uint32_t kMaxPeriodMs = 1000000;

  TMMTimer();
  ~TMMTimer();  // Stop twice: ends the ticks and releases the resolution
  TMMTimer(const TMMTimer&) = delete;
  TMMTimer& operator=(const TMMTimer&) = delete;

  // Set before Start. Called on each tick with this timer.
  std::function<void(TMMTimer* timer)> OnTimer;

  // Starts ticking every delayMs (clamped into [1, 1 000 000]). errorCode is 0 on return unless
  // the platform refused the resolution; false with errorCode 0 when no tick thread could be
  // made. A Start while ticks are running replaces them.
  bool Start(uint32_t delayMs, uint32_t& errorCode, uint32_t resolutionMs);
  void Stop();

  uint32_t Delay() const;
  uint32_t Resolution() const;
  uint32_t TimerId() const;
  // kRunningMarker while ticks are meant to be delivered, 0 otherwise.
  uint32_t RunningMarker() const;

 private:
  class TickThread;
  void Tick();
  bool OnOwnTickThread() const;

  mutable std::mutex control_mutex_;  // serialises Start and Stop of callers off the tick thread
  mutable std::mutex state_mutex_;    // the fields below; never held while a tick runs or a join
  uint32_t delay_ = 0;
  uint32_t resolution_ = 0;
  uint32_t timer_id_ = 0;
  uint32_t next_id_ = 1;
  std::atomic<uint32_t> marker_{0};
  std::unique_ptr<TickThread> ticker_;
  std::vector<std::unique_ptr<TickThread>> retired_;  // stopped from their own tick; joined later
};

}  // namespace qor
