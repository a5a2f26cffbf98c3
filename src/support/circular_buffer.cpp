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
  WakeWaiters();
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
  if (waiters_ > 0) changed_.notify_all();
}

bool TCB::WaitForAvailable(int32_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  ++waiters_;
  const bool ready =
      changed_.wait_for(lock, timeout, [&] { return allocated_ && AvailableLocked() >= count; });
  --waiters_;
  return ready;
}

bool TCB::WaitForRoom(int32_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  ++waiters_;
  const bool ready = changed_.wait_for(
      lock, timeout, [&] { return allocated_ && size_ - 1 - AvailableLocked() >= count; });
  --waiters_;
  return ready;
}

int32_t TCB::Size() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return size_;
}

}  // namespace qor
