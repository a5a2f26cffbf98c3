#pragma once
// TCB: the locked byte ring between a session's network handlers (writer) and its protocol loop
// (reader). Holds at most size - 1 unread bytes. A Write that does not fit whole is refused and
// leaves the ring as it was.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qor {

class TCB {
 public:
  TCB() = default;
  TCB(const TCB&) = delete;
  TCB& operator=(const TCB&) = delete;
  ~TCB();

  // False when size is 0 or the ring was already given its size. The storage is taken at the
  // first Write.
  bool Allocate(int32_t size);
  // Stores all count bytes, or none of them (false) when they do not fit, nothing is allocated or
  // the storage cannot be had.
  bool Write(const void* source, int32_t count);
  // The same without waking a waiting reader: a writer that stores several blocks in a row wakes
  // it once with WakeReaders when it is done, instead of once a block.
  bool WriteQuietly(const void* source, int32_t count);
  void WakeReaders();
  // Reads up to count bytes (-1: all unread); count returns what was delivered. False when fewer
  // than asked were there.
  bool Read(void* destination, int32_t& count);
  int32_t Available() const;
  // Free room for a Write: size - 1 - Available(), 0 when not allocated.
  int32_t Room() const;
  // Wait at most timeout until count bytes are unread (or there is room for count more); true when
  // they are. A Write, Read or Clear wakes the waiter at once, so the two sides of the ring need
  // not poll each other.
  bool WaitForAvailable(int32_t count, std::chrono::milliseconds timeout) const;
  bool WaitForRoom(int32_t count, std::chrono::milliseconds timeout) const;
  // The same, until deadline, and also ending (false) when Wake is called after Wakes() returned
  // mark. A waiter takes the mark before it looks at whatever else it waits for (a stop request,
  // a closed connection); a Wake that comes after that look cannot then go unseen.
  using Deadline = std::chrono::steady_clock::time_point;
  bool WaitForAvailable(int32_t count, Deadline deadline, uint64_t mark) const;
  bool WaitForRoom(int32_t count, Deadline deadline, uint64_t mark) const;
  // Wakes every waiter, so it looks again at what it waits for besides the ring (any thread).
  void Wake();
  uint64_t Wakes() const;
  // False when nothing is allocated; otherwise empties and zero-fills the ring.
  bool Clear();
  int32_t Size() const;

 private:
  int32_t AvailableLocked() const;
  // Waiters of one kind: how many, and what the last of them waits for (bytes, or room).
  struct Waiters {
    int32_t count = 0;
    int32_t wanted = 0;
  };
  void WakeWaiters();
  bool WriteLocked(const void* source, int32_t count);
  template <typename Pred>
  void WaitLocked(std::condition_variable_any& cv, Waiters& waiters, int32_t wanted,
                  std::unique_lock<std::recursive_mutex>& lock, Deadline deadline,
                  Pred ready) const;
  mutable std::recursive_mutex mutex_;
  mutable std::condition_variable_any readable_;
  mutable std::condition_variable_any writable_;
  mutable Waiters readers_;
  mutable Waiters writers_;
  uint64_t wakes_ = 0;
  struct FreeStorage {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, FreeStorage> data_;
  int32_t size_ = 0;
  int32_t write_ = 0;
  int32_t read_ = 0;
  bool allocated_ = false;
};

}  // namespace qor
