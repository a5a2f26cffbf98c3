#pragma once
// Which packet indices of a download have been written. Over UDP a burst of losses longer than the
// 8-bit datagram sequence can tell, or losses at the very end with no datagram behind them, leave
// no trace in the resend table; the ledger finds them when the stream ends, so a file with holes
// is not reported as whole.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qor {

class PacketLedger {
 public:
  void Reset();
  void Mark(int64_t index);
  bool Has(int64_t index) const {
    return first_ >= 0 && index >= first_ && index <= highest_ &&
           marked_[static_cast<size_t>(index - first_)];
  }
  bool Empty() const { return first_ < 0; }
  int64_t First() const { return first_; }
  int64_t Highest() const { return highest_; }
  // Indices in [begin, end) never marked.
  uint64_t MissingIn(int64_t begin, int64_t end) const;

 private:
  std::vector<bool> marked_;  // one bit per index from first_ on
  int64_t first_ = -1;
  int64_t highest_ = -1;
};

}  // namespace qor
