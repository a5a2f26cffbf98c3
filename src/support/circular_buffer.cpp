#include "support/circular_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qor {

void TCB::FreeStorage::operator()(uint8_t* p) const { std::free(p); }

TCB::~TCB() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  allocated_ = false;
}

bool TCB::Allocate(int32_t size) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (size <= 0 || allocated_) return false;
  // The storage itself comes with the first write: a session that never gets past the server's
  // response header (refused, redirected, failed) never needs its megabyte.
  data_.reset();
  size_ = size;
  write_ = 0;
  read_ = 0;
  allocated_ = true;
  return true;
}

int32_t TCB::AvailableLocked() const {
  if (!allocated_) return 0;
  const int32_t diff = write_ - read_;
  return diff >= 0 ? diff : diff + size_;
}

bool TCB::Write(const void* source, int32_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!WriteLocked(source, count)) return false;
  WakeWaiters();
  return true;
}

bool TCB::WriteQuietly(const void* source, int32_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return WriteLocked(source, count);
}

void TCB::WakeReaders() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  WakeWaiters();
}

bool TCB::WriteLocked(const void* source, int32_t count) {
  if (!allocated_ || count < 0) return false;
  if (count == 0) return true;
  if (source == nullptr) return false;
  // A block that does not fit whole would make the indices meet and the ring read as empty,
  // losing everything unread; refusing it keeps the ring intact for the caller to retry.
  if (count > size_ - 1 - AvailableLocked()) return false;
  if (!data_) {
    // calloc: zero-filled, from fresh pages the system gives as zeros, so only the pages the
    // ring really fills are ever touched.
    data_.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size_), 1)));
    if (!data_) return false;
  }
  const auto* bytes = static_cast<const uint8_t*>(source);
  const int32_t first = std::min(count, size_ - write_);
  std::memcpy(data_.get() + write_, bytes, static_cast<size_t>(first));
  if (first < count) std::memcpy(data_.get(), bytes + first, static_cast<size_t>(count - first));
  write_ += count;
  if (write_ >= size_) write_ -= size_;
  return true;
}

bool TCB::Read(void* destination, int32_t& count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const int32_t available = AvailableLocked();
  if (count == -1) count = available;
  if (count < 0) {
    count = 0;
    return false;
  }
  if (count == 0) return true;
  if (destination == nullptr) {
    count = 0;
    return false;
  }
  const int32_t wanted = count;
  const int32_t take = std::min(wanted, available);
  if (take > 0) {
    auto* bytes = static_cast<uint8_t*>(destination);
    const int32_t first = std::min(take, size_ - read_);
    std::memcpy(bytes, data_.get() + read_, static_cast<size_t>(first));
    if (first < take) std::memcpy(bytes + first, data_.get(), static_cast<size_t>(take - first));
    read_ += take;
    if (read_ >= size_) read_ -= size_;
    WakeWaiters();
  }
  count = take;
  return take == wanted;
}

int32_t TCB::Available() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return AvailableLocked();
}

int32_t TCB::Room() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!allocated_) return 0;
  return size_ - 1 - AvailableLocked();
}

bool TCB::Clear() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (size_ == 0 || !allocated_) return false;
  if (data_) std::memset(data_.get(), 0, static_cast<size_t>(size_));
  write_ = 0;
  read_ = 0;
  WakeWaiters();
  return true;
}

void TCB::WakeWaiters() {
  // A waiter is woken only when what it waits for is there: a loop that reads a ring full of
  // small units must not wake a writer waiting for room for a whole block at every unit. With
  // more than one waiter of a kind, each is woken and looks for itself.
  if (readers_.count > 0 &&
      (readers_.count > 1 || (allocated_ && AvailableLocked() >= readers_.wanted)))
    readable_.notify_all();
  if (writers_.count > 0 &&
      (writers_.count > 1 || (allocated_ && size_ - 1 - AvailableLocked() >= writers_.wanted)))
    writable_.notify_all();
}

template <typename Pred>
void TCB::WaitLocked(std::condition_variable_any& cv, Waiters& waiters, int32_t wanted,
                     std::unique_lock<std::recursive_mutex>& lock, Deadline deadline,
                     Pred ready) const {
  ++waiters.count;
  waiters.wanted = wanted;
  // No deadline: a plain wait, which needs no arithmetic on the largest time point.
  if (deadline == Deadline::max()) {
    cv.wait(lock, ready);
  } else {
    cv.wait_until(lock, deadline, ready);
  }
  // Whoever still waits may want less than the last to come: wake it at every change.
  if (--waiters.count > 0) waiters.wanted = 0;
}

bool TCB::WaitForAvailable(int32_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  const auto ready = [&] { return allocated_ && AvailableLocked() >= count; };
  WaitLocked(readable_, readers_, count, lock, std::chrono::steady_clock::now() + timeout, ready);
  return ready();
}

bool TCB::WaitForRoom(int32_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  const auto ready = [&] { return allocated_ && size_ - 1 - AvailableLocked() >= count; };
  WaitLocked(writable_, writers_, count, lock, std::chrono::steady_clock::now() + timeout, ready);
  return ready();
}

bool TCB::WaitForAvailable(int32_t count, Deadline deadline, uint64_t mark) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  const auto ready = [&] { return allocated_ && AvailableLocked() >= count; };
  WaitLocked(readable_, readers_, count, lock, deadline, [&] { return ready() || wakes_ != mark; });
  return ready();
}

bool TCB::WaitForRoom(int32_t count, Deadline deadline, uint64_t mark) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  const auto ready = [&] { return allocated_ && size_ - 1 - AvailableLocked() >= count; };
  WaitLocked(writable_, writers_, count, lock, deadline, [&] { return ready() || wakes_ != mark; });
  return ready();
}

void TCB::Wake() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++wakes_;
  readable_.notify_all();
  writable_.notify_all();
}

uint64_t TCB::Wakes() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return wakes_;
}

int32_t TCB::Size() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return size_;
}

}  // namespace qor
