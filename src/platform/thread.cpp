#include "platform/thread.h"

#include <cstdio>
#include <exception>

#include "platform/window_thread.h"

namespace qor {

TThread::TThread() = default;

TThread::~TThread() {
  TerminateAndWait();
}

void TThread::Start() {
  std::lock_guard<std::mutex> lock(join_mutex_);
  bool expected = false;
  if (!started_.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return;
  try {
    thread_ = std::thread([this] { ThreadMain(); });
  } catch (...) {
    started_.store(false, std::memory_order_release);  // nothing runs, nothing to wait for
    throw;
  }
}

void TThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  TerminateRequested();
}

void TThread::ThreadMain() {
  try {
    Execute();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Qor: a thread ended with an exception: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "Qor: a thread ended with an unknown exception\n");
  }
  // Set under the lock so a window thread that is about to wait cannot miss the wake-up.
  std::lock_guard<std::mutex> lock(state_mutex_);
  finished_.store(true, std::memory_order_release);
  if (waiter_ != nullptr) waiter_->Notify();
}

void TThread::WaitFor() {
  if (!Started()) return;
  WindowThread* window = WindowThread::Current();
  if (window != nullptr && window->IsWindowThread()) {
    // The thread may be blocked handing its last event to us: keep the loop going until it ends.
    bool waiting = false;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      if (!Finished()) {
        waiter_ = window;
        waiting = true;
      }
    }
    if (waiting) {
      window->ProcessUntil([this] { return Finished(); });
      std::lock_guard<std::mutex> lock(state_mutex_);
      waiter_ = nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(join_mutex_);
  // A thread cannot join itself; its owner joins it later.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

}  // namespace qor
