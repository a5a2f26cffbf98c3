#pragma once
// A worker thread in the shape the engine expects: created suspended, configured by its owner,
// started with one call, asked to end with Terminate and joined with WaitFor. An exception that
// escapes Execute is written to stderr and ends the thread (it cannot reach anyone else).

#include <atomic>
#include <mutex>
#include <thread>

namespace qor {

class WindowThread;

class TThread {
 public:
  TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Terminates and waits. A derived class whose Execute touches its own members must call
  // TerminateAndWait() in its own destructor, before those members go away.
  virtual ~TThread();

  // Starts Execute on a new thread. Only the first call starts anything.
  void Start();
  // Asks Execute to return at its next look at Terminated(), and calls TerminateRequested so a
  // thread blocked in a wait of its own can be woken.
  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  // Waits until Execute has returned. On the window thread it keeps serving handovers
  // (Synchronize calls) and due timers while it waits, so a thread that is handing over its
  // last event can finish. Returns at once for a thread never started. Safe to call twice.
  void WaitFor();
  void TerminateAndWait();
  bool Started() const { return started_.load(std::memory_order_acquire); }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

 protected:
  virtual void Execute() = 0;
  // Called by Terminate (on the caller's thread) once Terminated() is true. A thread that waits on
  // something other than Terminated() wakes that wait here instead of polling the flag.
  virtual void TerminateRequested() {}

 private:
  void ThreadMain();

  std::thread thread_;
  std::mutex join_mutex_;           // guards thread_
  std::mutex state_mutex_;          // guards waiter_ and the moment finished_ is set
  WindowThread* waiter_ = nullptr;  // a window thread serving its loop while it waits for us
  std::atomic<bool> terminated_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace qor
