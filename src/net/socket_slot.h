#pragma once
// One socket descriptor shared between the thread that owns it and the threads that send on it or
// stop it. Only the owner closes; everyone else may only shut it down, and only while the
// descriptor is known to be open, so a stop can never hit a descriptor number the process has
// already handed out again.

#include <atomic>
#include <shared_mutex>

namespace qor {

class SocketSlot {
 public:
  SocketSlot() = default;
  SocketSlot(const SocketSlot&) = delete;
  SocketSlot& operator=(const SocketSlot&) = delete;
  ~SocketSlot();

  // Owner: publishes a fresh descriptor. When a shutdown was asked before, the descriptor is
  // closed at once and false is returned: the owner must not use it.
  bool Install(int fd);
  // Any thread: remembers the request and shuts the descriptor down in both directions, which
  // makes a blocked connect, receive or send on it return.
  void RequestShutdown();
  bool ShutdownRequested() const { return shutdown_requested_.load(std::memory_order_acquire); }
  // Any thread: calls fn(fd) while the descriptor cannot be closed; returns -1 with errno
  // ENOTCONN when there is none.
  template <typename Fn>
  long Use(Fn&& fn) const {
    std::shared_lock lock(mutex_);
    if (fd_ < 0) return NoDescriptor();
    return fn(fd_);
  }
  // Owner: shuts down (so senders blocked on it return), waits for them to leave and closes.
  void Close();

 private:
  static long NoDescriptor();
  mutable std::shared_mutex mutex_;
  int fd_ = -1;
  std::atomic<bool> shutdown_requested_{false};
};

}  // namespace qor
