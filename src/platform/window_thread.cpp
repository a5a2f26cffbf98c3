// The handover queue and the loop of the window thread. Timers live in window_timers.cpp.

#include "platform/window_thread.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace qor {

struct WindowThread::Handover {
  const std::function<void()>* call = nullptr;  // Synchronize: the caller's function, it waits
  std::function<void()> owned;                  // Queue: nobody waits
  bool done = false;
  bool ran = false;
  std::exception_ptr error;
  std::condition_variable finished;
};

namespace {

// Every live window thread, newest last; the newest is the current one.
std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::condition_variable& RegistryChanged() {
  static std::condition_variable changed;
  return changed;
}
std::vector<WindowThread*>& Registry() {
  static std::vector<WindowThread*> registry;
  return registry;
}

void WriteUnhandled(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Qor: unhandled exception in a window handler: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Qor: unhandled exception in a window handler\n");
  }
}

}  // namespace

WindowThread::WindowThread(Clock* clock)
    : clock_(clock != nullptr ? clock : &SystemClock()),
      manual_(dynamic_cast<ManualClock*>(clock_)),
      owner_(std::this_thread::get_id()) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().push_back(this);
}

WindowThread::~WindowThread() {
  Shutdown();
  {
    // Workers that entered the free Synchronize before we left the registry still hold this
    // object; they return quickly now that we are shut down.
    std::unique_lock<std::mutex> lock(RegistryMutex());
    auto& registry = Registry();
    registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
    RegistryChanged().wait(lock, [this] { return callers_ == 0; });
  }
  std::unique_lock<std::mutex> lock(mutex_);
  left_.wait(lock, [this] { return in_flight_ == 0; });
  for (TTimer* timer : timers_) timer->thread_ = nullptr;
  timers_.clear();
}

WindowThread* WindowThread::Current() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  return Registry().empty() ? nullptr : Registry().back();
}

bool Synchronize(const std::function<void()>& fn) {
  WindowThread* window = nullptr;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (!Registry().empty()) {
      window = Registry().back();
      ++window->callers_;
    }
  }
  if (window == nullptr) {
    fn();
    return true;
  }
  struct Leave {
    WindowThread* window;
    ~Leave() {
      std::lock_guard<std::mutex> lock(RegistryMutex());
      --window->callers_;
      RegistryChanged().notify_all();
    }
  } leave{window};
  return window->Synchronize(fn);
}

bool WindowThread::Synchronize(const std::function<void()>& fn) {
  if (IsWindowThread()) {
    if (IsShutDown()) return false;
    if (std::exception_ptr error = Dispatch(fn)) std::rethrow_exception(error);
    return true;
  }
  auto handover = std::make_shared<Handover>();
  handover->call = &fn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_down_) return false;
    handovers_.push_back(handover);
    ++in_flight_;
  }
  Wake();
  std::unique_lock<std::mutex> lock(mutex_);
  handover->finished.wait(lock, [&] { return handover->done; });
  // The destructor waits for this before our mutex goes away.
  --in_flight_;
  left_.notify_all();
  if (handover->error) {
    // Taken out under the lock, so the exception's last owner is this thread alone.
    std::exception_ptr error = std::move(handover->error);
    lock.unlock();
    std::rethrow_exception(error);
  }
  return handover->ran;
}

void WindowThread::Queue(std::function<void()> fn) {
  auto handover = std::make_shared<Handover>();
  handover->owned = std::move(fn);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_down_) return;
    handovers_.push_back(std::move(handover));
  }
  Wake();
}

void WindowThread::SetExceptionHandler(std::function<void(std::exception_ptr)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  exception_handler_ = std::move(handler);
}

std::exception_ptr WindowThread::Dispatch(const std::function<void()>& fn) {
  try {
    fn();
    return nullptr;
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    std::function<void(std::exception_ptr)> handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handler = exception_handler_;
    }
    if (!handler) return error;
    try {
      handler(error);
    } catch (...) {
      // The handler itself failed: nothing above the loop could take it either.
      WriteUnhandled(std::current_exception());
    }
    return nullptr;
  }
}

bool WindowThread::RunHandovers() {
  // Only what is waiting now: a handover that queues another must not keep us here forever.
  size_t count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = handovers_.size();
  }
  bool any = false;
  for (; count > 0; --count) {
    std::shared_ptr<Handover> handover;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (handovers_.empty()) break;  // a nested loop took them
      handover = std::move(handovers_.front());
      handovers_.pop_front();
    }
    any = true;
    if (handover->call == nullptr) {
      if (std::exception_ptr error = Dispatch(handover->owned)) WriteUnhandled(error);
      continue;
    }
    std::exception_ptr error = Dispatch(*handover->call);
    std::lock_guard<std::mutex> lock(mutex_);
    handover->error = std::move(error);
    handover->ran = true;
    handover->done = true;
    handover->finished.notify_all();
  }
  return any;
}

bool WindowThread::ProcessMessages() {
  bool any = RunHandovers();
  if (RunDueTimers(clock_->MonotonicMs())) any = true;
  return any;
}

bool WindowThread::HasWorkLocked(bool forRun) const {
  return !handovers_.empty() || notified_ || (forRun && quit_);
}

void WindowThread::WaitForWork(bool forRun, std::chrono::steady_clock::time_point deadline) {
  using Steady = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!HasWorkLocked(forRun)) {
    Steady::time_point wakeAt = deadline;
    if (manual_ == nullptr) {
      // Timers due close together are served by one wakeup.
      int64_t next = NextDueLocked(true);
      if (next >= 0) {
        int64_t in = next - clock_->MonotonicMs();
        if (in <= 0) break;
        wakeAt = std::min(wakeAt, Steady::now() + std::chrono::milliseconds(in));
      }
    }
    if (wakeAt == Steady::time_point::max()) {
      cv_.wait(lock);
    } else {
      cv_.wait_until(lock, wakeAt);
      if (Steady::now() >= deadline) break;
    }
  }
  notified_ = false;
}

void WindowThread::Run() {
  for (;;) {
    ProcessMessages();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) {
        quit_ = false;
        return;
      }
    }
    WaitForWork(true, std::chrono::steady_clock::time_point::max());
  }
}

void WindowThread::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  Wake();
}

bool WindowThread::QuitRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

bool WindowThread::ProcessUntil(const std::function<bool()>& pred, int64_t timeoutMs) {
  using Steady = std::chrono::steady_clock;
  Steady::time_point deadline = timeoutMs < 0
                                    ? Steady::time_point::max()
                                    : Steady::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ProcessMessages();
    if (pred()) return true;
    if (Steady::now() >= deadline) return pred();
    WaitForWork(false, deadline);
  }
}

void WindowThread::Notify() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    notified_ = true;
  }
  Wake();
}

void WindowThread::Wake() {
  std::function<void()> wakeup;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cv_.notify_all();
    wakeup = wakeup_;
  }
  if (wakeup) wakeup();
}

void WindowThread::SetWakeup(std::function<void()> wakeup) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeup_ = std::move(wakeup);
}

void WindowThread::Shutdown() {
  std::deque<std::shared_ptr<Handover>> pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_down_ = true;
    pending.swap(handovers_);
    for (auto& handover : pending) {
      handover->done = true;  // ran stays false
      handover->finished.notify_all();
    }
    cv_.notify_all();
  }
  // Queued functions are destroyed here, outside the lock: their captures may do anything.
}

bool WindowThread::IsShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shut_down_;
}

}  // namespace qor
