#include "net/periodic_timer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

namespace qor {

namespace {

// The timer whose tick the current thread is running, so Start and Stop called from inside a
// tick know not to wait for themselves.
thread_local const TMMTimer* tl_ticking_timer = nullptr;

uint32_t Clamp(uint32_t ms) {
  return std::clamp(ms, TMMTimer::kMinPeriodMs, TMMTimer::kMaxPeriodMs);
}

}  // namespace

// One run of periodic ticks. Its own stop flag means a stopped run never ticks again, even if
// the timer is started anew before the old thread has noticed.
class TMMTimer::TickThread {
 public:
  TickThread(TMMTimer* timer, uint32_t delayMs) : timer_(timer), period_(delayMs) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TickThread() {
    RequestStop();
    if (thread_.joinable()) thread_.join();
  }
  TickThread(const TickThread&) = delete;
  TickThread& operator=(const TickThread&) = delete;

  void RequestStop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void Run() {
    tl_ticking_timer = timer_;
    using Clock = std::chrono::steady_clock;
    auto due = Clock::now() + period_;
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (wake_.wait_until(lock, due, [this] { return stop_; })) break;
      lock.unlock();
      timer_->Tick();
      lock.lock();
      due += period_;
      const auto now = Clock::now();
      if (due <= now) due = now + period_;  // late: start again from now, no catch-up burst
    }
  }

  TMMTimer* timer_;
  std::chrono::milliseconds period_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;  // last: starts only when everything it reads is in place
};

TMMTimer::TMMTimer() = default;

TMMTimer::~TMMTimer() {
  Stop();
  Stop();
}

void TMMTimer::Tick() {
  if (marker_.load(std::memory_order_acquire) != kRunningMarker) return;
  if (OnTimer) OnTimer(this);
}

bool TMMTimer::OnOwnTickThread() const {
  return tl_ticking_timer == this;
}

bool TMMTimer::Start(uint32_t delayMs, uint32_t& errorCode, uint32_t resolutionMs) {
  const bool fromTick = OnOwnTickThread();
  std::unique_lock<std::mutex> control;
  if (!fromTick) control = std::unique_lock(control_mutex_);

  errorCode = 0;
  marker_.store(kRunningMarker, std::memory_order_release);
  std::unique_ptr<TickThread> previous;
  std::vector<std::unique_ptr<TickThread>> retired;
  uint32_t delay = 0;
  {
    std::lock_guard lock(state_mutex_);
    resolution_ = Clamp(resolutionMs);
    delay_ = Clamp(delayMs);
    delay = delay_;
    previous = std::move(ticker_);
    timer_id_ = 0;
    if (previous && previous->IsCurrentThread()) retired_.push_back(std::move(previous));
    // Runs that stopped from their own tick are collected here too, so a timer that stops and
    // starts again and again (the resend tick) does not pile up finished threads.
    if (!fromTick) {
      retired = std::move(retired_);
      retired_.clear();
    }
  }
  // A second Start must not leave the first run ticking unseen.
  previous.reset();
  retired.clear();

  std::unique_ptr<TickThread> ticker;
  try {
    ticker = std::make_unique<TickThread>(this, delay);
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_ptr<TickThread> displaced;  // a run started meanwhile from inside a tick
  {
    std::lock_guard lock(state_mutex_);
    displaced = std::move(ticker_);
    ticker_ = std::move(ticker);
    timer_id_ = next_id_++;
    if (next_id_ == 0) next_id_ = 1;
    if (displaced && displaced->IsCurrentThread()) retired_.push_back(std::move(displaced));
  }
  return true;  // displaced (if any) is stopped and joined here, outside the state lock
}

void TMMTimer::Stop() {
  const bool fromTick = OnOwnTickThread();
  std::unique_lock<std::mutex> control;
  if (!fromTick) control = std::unique_lock(control_mutex_);

  std::unique_ptr<TickThread> ticker;
  std::vector<std::unique_ptr<TickThread>> retired;
  {
    std::lock_guard lock(state_mutex_);
    marker_.store(0, std::memory_order_release);
    const bool killed = timer_id_ != 0;
    timer_id_ = 0;
    ticker = std::move(ticker_);
    if (!killed) {
      // Nothing was ticking: this is the Stop that gives the resolution back.
      resolution_ = 0;
      delay_ = 0;
    }
    if (ticker) ticker->RequestStop();
    if (fromTick) {
      // This thread is the tick in progress; it ends once the handler returns. Whoever stops or
      // destroys the timer next collects it.
      if (ticker) retired_.push_back(std::move(ticker));
      return;
    }
    retired = std::move(retired_);
    retired_.clear();
  }
  // Joins outside the state lock: a handler still running may call Stop or read the fields.
  ticker.reset();
  retired.clear();
}

uint32_t TMMTimer::Delay() const {
  std::lock_guard lock(state_mutex_);
  return delay_;
}

uint32_t TMMTimer::Resolution() const {
  std::lock_guard lock(state_mutex_);
  return resolution_;
}

uint32_t TMMTimer::TimerId() const {
  std::lock_guard lock(state_mutex_);
  return timer_id_;
}

uint32_t TMMTimer::RunningMarker() const {
  return marker_.load(std::memory_order_acquire);
}

}  // namespace qor
