#include "session/carry_over.h"

namespace qor {

void CarryOver::SetPreviousLast(uint32_t location) {
  std::lock_guard<std::mutex> lock(mutex_);
  previous_last_ = location;
  have_previous_ = true;
}

bool CarryOver::Keep(uint32_t location, const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (taken_ || packets_.size() >= kMaxPackets || bytes_ + length > kMaxBytes) return false;
  packets_.push_back(Packet{location, std::vector<uint8_t>(data, data + length)});
  bytes_ += length;
  return true;
}

std::vector<CarryOver::Packet> CarryOver::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  taken_ = true;
  bytes_ = 0;
  return std::move(packets_);
}

bool CarryOver::Taken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taken_;
}

bool CarryOver::PreviousLast(uint32_t& location) const {
  std::lock_guard<std::mutex> lock(mutex_);
  location = previous_last_;
  return have_previous_;
}

}  // namespace qor
