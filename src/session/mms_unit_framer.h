#pragma once
// Cuts the TCP byte stream of an MMS session into whole units (command messages and data
// packets) before they reach the session's ring. UDP datagrams share that ring, so a unit is
// only ever written there whole: a datagram can never land inside a half-delivered message, and
// the receive loop can trust every length it reads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qor::mms {

constexpr size_t kDataPacketHeaderLength = 8;
// Framing, result code and second word: the least a server command message can be.
constexpr size_t kMinimumCommandLength = 48;

// True when bytes 4 to 7 are the command signature (CE FA 0B B0). Needs at least 8 bytes.
bool IsCommandUnit(const uint8_t* unit);

class MmsUnitFramer {
 public:
  // Receives one whole unit; false means it could not be stored and framing stops.
  using Sink = std::function<bool(const uint8_t* unit, size_t length)>;

  // Units longer than maxUnit are refused (the ring and the loop's buffer must hold them).
  explicit MmsUnitFramer(size_t maxUnit);

  enum class Status { Ok, Malformed, SinkRefused };

  // Takes received bytes in any split. After anything but Ok the framer stays stopped and takes
  // no more bytes; FailedUnit() holds the start of the unit that could not be framed.
  Status Feed(const uint8_t* data, size_t length, const Sink& sink);

  bool Stopped() const { return stopped_; }
  const std::vector<uint8_t>& FailedUnit() const { return failed_; }
  size_t Pending() const { return partial_.size(); }

 private:
  // Nothing while more bytes are needed to know the length; otherwise the unit's declared length
  // (which may be invalid: see Valid).
  static std::optional<uint64_t> DeclaredLength(const uint8_t* data, size_t available);
  // Bytes needed before the length of a unit starting with these bytes is known.
  static size_t BytesForLength(const uint8_t* data, size_t available);
  bool Valid(const uint8_t* data, uint64_t declared) const;
  Status Fail(const uint8_t* data, size_t available);

  size_t max_unit_;
  std::vector<uint8_t> partial_;
  std::vector<uint8_t> failed_;
  bool stopped_ = false;
};

}  // namespace qor::mms
