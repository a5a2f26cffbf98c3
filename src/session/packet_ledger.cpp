#include "session/packet_ledger.h"

#include <algorithm>

namespace qor {

void PacketLedger::Reset() {
  marked_.clear();
  first_ = highest_ = -1;
}

void PacketLedger::Mark(int64_t index) {
  if (index < 0) return;
  // Bits start at the first index marked: a resumed download begins far into its file.
  if (first_ < 0) {
    first_ = highest_ = index;
  } else if (index < first_) {
    marked_.insert(marked_.begin(), static_cast<size_t>(first_ - index), false);
    first_ = index;
  }
  const auto at = static_cast<size_t>(index - first_);
  if (at >= marked_.size()) marked_.resize(std::max(at + 1, marked_.size() * 2), false);
  marked_[at] = true;
  highest_ = std::max(highest_, index);
}

uint64_t PacketLedger::MissingIn(int64_t begin, int64_t end) const {
  if (end <= begin) return 0;
  if (first_ < 0) return static_cast<uint64_t>(end - std::max<int64_t>(begin, 0));
  begin = std::max<int64_t>(begin, 0);
  // Outside the marked range everything is missing; a server's packet count can be anything.
  const int64_t low = std::clamp(first_, begin, end);
  const int64_t high = std::clamp(highest_ + 1, low, end);
  uint64_t missing = static_cast<uint64_t>((low - begin) + (end - high));
  for (int64_t i = low; i < high; ++i) {
    if (!marked_[static_cast<size_t>(i - first_)]) ++missing;
  }
  return missing;
}

}  // namespace qor
