#pragma once
// The window thread: the one thread that runs window logic, window timers, the session's Start
// and Stop and every transport event. Worker threads hand work to it with Synchronize and wait
// until it has run. The handover queue and the timers belong to this core object; a front end only
// drives it (the headless loop here, or Qt's event loop in the GUI, which is woken through
// SetWakeup to call ProcessMessages).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace qor {

class TTimer;

// A clock that only moves when told to. Advance() on a WindowThread that uses it runs every
// timer that falls due, in deadline order.
class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t startMs = 0, std::time_t startWall = 1'700'000'000);
  int64_t MonotonicMs() const override;
  std::time_t WallTime() const override;
  void Set(int64_t ms);
  void SetWall(std::time_t wall);

 private:
  mutable std::mutex mutex_;
  int64_t now_ms_;
  int64_t wall_base_ms_;  // wall time in ms at now_ms_ == start
  int64_t start_ms_;
};

class WindowThread {
 public:
  // The thread that constructs it becomes the window thread, and the object becomes the one
  // that Synchronize() reaches. Give a ManualClock for tests; by default the system clock.
  explicit WindowThread(Clock* clock = nullptr);
  // Shuts down, then waits until every worker inside Synchronize has left (they return false),
  // and restores the previously installed window thread, if any, as the current one.
  ~WindowThread();
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  // The installed window thread, or null before one exists.
  static WindowThread* Current();
  bool IsWindowThread() const { return std::this_thread::get_id() == owner_; }
  Clock& GetClock() const { return *clock_; }

  // Runs fn on the window thread and returns when it has run. Inline on the window thread.
  // Returns false (without running fn) once the window thread has shut down.
  // An exception escaping fn goes to the exception handler when one is set (Synchronize then
  // returns true); without a handler it is rethrown to the caller of Synchronize.
  bool Synchronize(const std::function<void()>& fn);
  // Runs fn on the window thread later, without waiting. Dropped after Shutdown.
  void Queue(std::function<void()> fn);

  // Receives, on the window thread, every exception that escapes a handover, a queued function
  // or a timer handler, so none unwinds through the loop. Without a handler, exceptions from
  // queued functions and timers are written to stderr.
  void SetExceptionHandler(std::function<void(std::exception_ptr)> handler);
  // Wakes a loop that is waiting so it looks again at whatever it waits for (any thread).
  void Notify();

  // Window thread only: runs pending handovers and due timers once. Returns true if anything ran.
  bool ProcessMessages();
  // Window thread only: serves handovers and timers until Quit(). With a manual clock it only
  // serves handovers; time moves through Advance().
  void Run();
  void Quit();
  bool QuitRequested() const;
  // Window thread only: serves handovers and timers until pred() is true or timeoutMs of real
  // time passed (negative = no limit). Returns pred(). Whoever makes pred() true from another
  // thread calls Notify() so the wait notices at once.
  bool ProcessUntil(const std::function<bool()>& pred, int64_t timeoutMs = -1);

  // Manual clock only (std::logic_error otherwise): moves the clock forward by ms, firing due
  // timers in deadline order, each at its own deadline, as it goes.
  void Advance(int64_t ms);

  // The GUI sets a function that wakes its event loop when a handover or a timer change
  // needs the window thread's attention. It may be called from any thread.
  void SetWakeup(std::function<void()> wakeup);
  // Milliseconds until the next enabled timer is due (-1: none). For front ends driving the loop.
  int64_t NextTimerDueInMs() const;

  // Ends the window thread's service: pending and later Synchronize calls return false.
  void Shutdown();
  bool IsShutDown() const;

 private:
  friend class TTimer;
  friend bool Synchronize(const std::function<void()>& fn);
  struct Handover;

  void AddTimer(TTimer* timer);
  void RemoveTimer(TTimer* timer);
  void TimerChanged(TTimer* timer, uint32_t interval, bool enabled);
  bool RunDueTimers(int64_t now);
  bool FireNextDueTimer(int64_t limit, bool moveManualClock);
  bool RunHandovers();
  // Runs fn; returns the exception it threw if no handler took it.
  std::exception_ptr Dispatch(const std::function<void()>& fn);
  void WaitForWork(bool forRun, std::chrono::steady_clock::time_point deadline);
  bool HasWorkLocked(bool forRun) const;
  // The earliest moment a timer that is wanted is due; coarse: the earliest moment one must
  // fire, each being allowed to fire up to 1/kCoarseShare of its interval late (as coarse timers
  // are), so timers due close together share a wakeup.
  int64_t NextDueLocked(bool coarse = false) const;
  static constexpr int64_t kCoarseShare = 20;
  void Wake();

  Clock* clock_;
  ManualClock* manual_;
  std::thread::id owner_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Handover>> handovers_;
  std::vector<TTimer*> timers_;
  std::function<void()> wakeup_;
  std::function<void(std::exception_ptr)> exception_handler_;
  bool quit_ = false;
  bool shut_down_ = false;
  bool notified_ = false;
  int callers_ = 0;    // workers inside the free Synchronize; guarded by the registry lock
  int in_flight_ = 0;  // workers inside the member Synchronize; guarded by mutex_
  std::condition_variable left_;  // a worker left Synchronize
};

// Synchronize through the installed window thread. With none installed fn runs inline.
// Workers should use this rather than a stored WindowThread pointer: it stays safe while the
// window thread is being destroyed (it then returns false).
bool Synchronize(const std::function<void()>& fn);

// A window timer: fires its handler on the window thread every Interval ms while enabled.
// Changing Interval or Enabled restarts the period from now, as window timers do (setting the
// value it already has changes nothing). An interval of
// 0 never fires. A late timer fires once and counts its next period from then (no catch-up
// bursts). Window thread only. A handler may change or delete any timer, its own included.
class TTimer {
 public:
  explicit TTimer(WindowThread* thread = nullptr);  // default: WindowThread::Current()
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  void SetInterval(uint32_t ms);
  uint32_t Interval() const { return interval_; }
  void SetEnabled(bool on);
  bool Enabled() const { return enabled_; }
  std::function<void()> OnTimer;
  // When set and false, the timer is no reason for a real-clock loop to wake: it waits for the
  // timer's work to appear, and still fires with any other wakeup once due. Asked on the window
  // thread (under its lock, so it must not call into the window thread) whenever the loop plans
  // its wait; whoever makes it true from another thread calls WindowThread::Notify.
  std::function<bool()> Wanted;

 private:
  friend class WindowThread;
  WindowThread* thread_;
  uint32_t interval_ = 1000;
  bool enabled_ = true;
  int64_t due_ = 0;
};

}  // namespace qor
