#pragma once
// Loss detection and resend bookkeeping for MMS media over UDP. The session thread reports the
// 8-bit sequence of every media datagram (LossCheck); the resend timer visits one table entry per
// tick (Scan). Both run under one lock; the requests they ask for are returned and sent by the
// caller after the lock is released.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qor::mms {

class UdpResendTracker {
 public:
  // Requests a missing packet gets from the scan after the one sent when the gap was seen.
  static constexpr uint8_t kScanAttempts = 5;

  // Back to the state of a new session.
  void Reset();

  // Returns the datagram sequences to request now (the gap before s, if any).
  std::vector<uint32_t> LossCheck(uint8_t s);

  struct ScanStep {
    bool request = false;  // send a request for sequence
    uint32_t sequence = 0;
    bool gaveUp = false;  // that was the last attempt: report index as lost
    uint8_t index = 0;
  };
  ScanStep Scan();
  // The stream has ended and datagrams [from, end) were never seen: asks for them like any other
  // gap (at most the 255 the table can follow). Returns the requests to send now.
  std::vector<uint32_t> RequestRange(uint32_t from, uint32_t end);

  // Losses found some other way (the sequence cannot tell a long burst or a lost tail).
  void AddLost(uint32_t count) { lost_.fetch_add(count, std::memory_order_relaxed); }
  uint32_t RecoveredPackets() const { return recovered_.load(std::memory_order_relaxed); }
  uint32_t LostPackets() const { return lost_.load(std::memory_order_relaxed); }
  // Datagram sequence expected next, counting wraps.
  uint32_t Expected() const;
  uint8_t Pending(uint8_t index) const;
  // True while some datagram is still being asked for.
  bool AnyPending() const;

 private:
  // Asks for sequence from now on (under the lock).
  void Track(uint32_t sequence);

  mutable std::mutex mutex_;
  uint32_t expected_ = 0;  // low byte is the expected 8-bit flags value
  uint8_t pending_[256] = {};
  uint32_t pending_sequence_[256] = {};
  uint8_t scan_index_ = 0;
  std::atomic<uint32_t> recovered_{0};
  std::atomic<uint32_t> lost_{0};
};

}  // namespace qor::mms
