#include "net/socket_slot.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace qor {

SocketSlot::~SocketSlot() {
  Close();
}

bool SocketSlot::Install(int fd) {
  std::unique_lock lock(mutex_);
  if (shutdown_requested_.load(std::memory_order_acquire)) {
    lock.unlock();
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SocketSlot::RequestShutdown() {
  shutdown_requested_.store(true, std::memory_order_release);
  std::shared_lock lock(mutex_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void SocketSlot::Close() {
  {
    std::shared_lock lock(mutex_);
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_RDWR);
  }
  int fd = -1;
  {
    std::unique_lock lock(mutex_);
    fd = fd_;
    fd_ = -1;
  }
  if (fd >= 0) ::close(fd);
}

long SocketSlot::NoDescriptor() {
  errno = ENOTCONN;
  return -1;
}

}  // namespace qor
