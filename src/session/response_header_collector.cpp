#include "session/response_header_collector.h"

#include <algorithm>

namespace qor {

void ResponseHeaderCollector::Reset() {
  collecting_ = true;
  header_.clear();
}

ResponseHeaderCollector::Result ResponseHeaderCollector::Feed(const uint8_t* block, size_t length) {
  Result result;
  if (!collecting_) return result;
  static constexpr char kStatus[] = "HTTP";
  const size_t had = header_.size();
  // Only the first bytes of a connection may open a response header.
  const size_t check = std::min<size_t>(4, had + length);
  for (size_t i = had; i < check; ++i) {
    if (block[i - had] != static_cast<uint8_t>(kStatus[i])) {
      collecting_ = false;
      result.held.swap(header_);
      return result;
    }
  }
  const size_t take = std::min(kMaxHeader - had, length);
  header_.append(reinterpret_cast<const char*>(block), take);
  const size_t from = had >= 3 ? had - 3 : 0;
  const size_t end = header_.find("\r\n\r\n", from);
  if (end != std::string::npos) {
    header_.resize(end + 4);
    collecting_ = false;
    result.step = Step::kComplete;
    result.used = end + 4 - had;
    return result;
  }
  if (header_.size() >= kMaxHeader) {
    collecting_ = false;
    header_.clear();
    result.step = Step::kTooLong;
    result.used = length;
    return result;
  }
  result.step = Step::kMore;
  result.used = length;  // all of it belongs to the header
  return result;
}

}  // namespace qor
