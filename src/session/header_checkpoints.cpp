#include "session/header_checkpoints.h"

#include <pthread.h>

#include <algorithm>
#include <limits>

#include "session/save_file.h"

namespace qor {

HeaderCheckpoints::~HeaderCheckpoints() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    pending_.reset();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HeaderCheckpoints::Begin() {
  started_ = false;
}

void HeaderCheckpoints::PacketWritten(const std::shared_ptr<TSaveFile>& file, int64_t index,
                                      uint32_t sendTime, uint32_t packetSize) {
  if (!file) return;
  const auto after = [](uint32_t time, uint32_t step) {
    return time > std::numeric_limits<uint32_t>::max() - step ? std::numeric_limits<uint32_t>::max()
                                                              : time + step;
  };
  const auto packetsPerStep =
      static_cast<int64_t>(std::max<uint64_t>(1, kBytes / std::max(packetSize, 1u)));
  if (!started_) {
    started_ = true;
    first_time_ = sendTime;
    next_index_ = index + packetsPerStep;
    next_time_ = after(sendTime, kFirstMediaMs);
    return;
  }
  if (index < next_index_ && sendTime < next_time_) return;
  const uint32_t age = sendTime > first_time_ ? sendTime - first_time_ : 0;
  next_index_ = index + packetsPerStep;
  next_time_ = after(sendTime, std::clamp(age, kFirstMediaMs, kMediaMs));
  Request(file);
}

void HeaderCheckpoints::Request(const std::shared_ptr<TSaveFile>& file) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    pending_ = file;
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_one();
}

void HeaderCheckpoints::Run() {
  // Named, so that where the time goes can be told per thread (top -H, /proc).
  ::pthread_setname_np(::pthread_self(), "qor-checkpoint");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || pending_; });
    if (stopping_) return;
    const std::shared_ptr<TSaveFile> file = std::move(pending_);
    pending_.reset();
    lock.unlock();
    file->Checkpoint();
    lock.lock();
  }
}

}  // namespace qor
