#pragma once
// The HTTP response header at the start of a connection, collected across receives however the
// network cuts it. Only a connection whose first bytes are "HTTP" has one; a block later in the
// connection that starts with "HTTP" is data. Takes (bytes, length) and says how many of them
// belonged to the header.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor {

class ResponseHeaderCollector {
 public:
  static constexpr size_t kMaxHeader = 256000;

  enum class Step {
    kNone,      // the connection has no response header (any more): the block is data
    kMore,      // all of the block belonged to an unfinished header
    kComplete,  // the header ended inside the block: Header() holds it, blank line included
    kTooLong,   // no end within kMaxHeader bytes
  };
  struct Result {
    Step step = Step::kNone;
    size_t used = 0;  // bytes of the block that belonged to the header
    // kNone after kMore: the bytes taken as a possible header's start, which are data after all.
    std::string held;
  };

  // A new connection.
  void Reset();
  Result Feed(const uint8_t* block, size_t length);
  const std::string& Header() const { return header_; }
  // The connection ended: true when it ended inside a header.
  bool EndedInside() const { return collecting_ && !header_.empty(); }

 private:
  bool collecting_ = true;
  std::string header_;
};

}  // namespace qor
