// Window timers: kept by the window thread, fired by its loop or, on a manual clock, by Advance.

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/window_thread.h"

namespace qor {

TTimer::TTimer(WindowThread* thread)
    : thread_(thread != nullptr ? thread : WindowThread::Current()) {
  if (thread_ != nullptr) thread_->AddTimer(this);
}

TTimer::~TTimer() {
  if (thread_ != nullptr) thread_->RemoveTimer(this);
}

void TTimer::SetInterval(uint32_t ms) {
  if (ms == interval_) return;
  if (thread_ != nullptr) {
    thread_->TimerChanged(this, ms, enabled_);
  } else {
    interval_ = ms;
  }
}

void TTimer::SetEnabled(bool on) {
  if (on == enabled_) return;
  if (thread_ != nullptr) {
    thread_->TimerChanged(this, interval_, on);
  } else {
    enabled_ = on;
  }
}

void WindowThread::AddTimer(TTimer* timer) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timer->due_ = clock_->MonotonicMs() + timer->interval_;
    timers_.push_back(timer);
  }
  Wake();
}

void WindowThread::RemoveTimer(TTimer* timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(timers_, timer);
}

void WindowThread::TimerChanged(TTimer* timer, uint32_t interval, bool enabled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timer->interval_ = interval;
    timer->enabled_ = enabled;
    timer->due_ = clock_->MonotonicMs() + interval;
  }
  // A front end driving its own loop must re-arm for the new deadline.
  Wake();
}

int64_t WindowThread::NextDueLocked(bool coarse) const {
  int64_t next = -1;
  for (const TTimer* timer : timers_) {
    if (!timer->enabled_ || timer->interval_ == 0) continue;
    if (timer->Wanted && !timer->Wanted()) continue;
    const int64_t at = timer->due_ + (coarse ? timer->interval_ / kCoarseShare : 0);
    if (next < 0 || at < next) next = at;
  }
  return next;
}

int64_t WindowThread::NextTimerDueInMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t next = NextDueLocked();
  if (next < 0) return -1;
  int64_t in = next - clock_->MonotonicMs();
  return in > 0 ? in : 0;
}

bool WindowThread::FireNextDueTimer(int64_t limit, bool moveManualClock) {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    TTimer* next = nullptr;
    // Earliest deadline first; among equal deadlines the older timer.
    for (TTimer* timer : timers_) {
      if (!timer->enabled_ || timer->interval_ == 0 || timer->due_ > limit) continue;
      if (next == nullptr || timer->due_ < next->due_) next = timer;
    }
    if (next == nullptr) return false;
    int64_t firedAt = limit;
    if (moveManualClock) {
      firedAt = std::max(next->due_, manual_->MonotonicMs());
      manual_->Set(firedAt);
    }
    // The next period counts from this firing: a late timer fires once, not in a burst.
    next->due_ = firedAt + next->interval_;
    // A copy, because the handler may delete its own timer and with it OnTimer.
    handler = next->OnTimer;
  }
  if (handler) {
    if (std::exception_ptr error = Dispatch(handler)) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "Qor: unhandled exception in a timer handler: %s\n", e.what());
      } catch (...) {
        std::fprintf(stderr, "Qor: unhandled exception in a timer handler\n");
      }
    }
  }
  return true;
}

bool WindowThread::RunDueTimers(int64_t now) {
  bool any = false;
  // Each firing moves its timer past now, so this ends.
  while (FireNextDueTimer(now, false)) any = true;
  return any;
}

void WindowThread::Advance(int64_t ms) {
  if (manual_ == nullptr) throw std::logic_error("WindowThread::Advance needs a manual clock");
  int64_t target = manual_->MonotonicMs() + ms;
  while (FireNextDueTimer(target, true)) {
  }
  if (manual_->MonotonicMs() < target) manual_->Set(target);
}

}  // namespace qor
