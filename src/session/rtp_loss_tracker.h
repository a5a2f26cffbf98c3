#pragma once
// Loss detection and resend bookkeeping for one RTP source over UDP. The session thread reports
// every RTP packet's sequence number (Arrived); the resend tick asks which missing ones are due to
// be asked for again (Due), and after a few unanswered requests gives them up as lost. A packet
// that comes after it was given up still counts as received. Sequence numbers are followed across
// their wrap (extended to 32 bits, as the receiver report states them). Thread-safe.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace qor {

class RtpLossTracker {
 public:
  using Clock = std::chrono::steady_clock;
  // Requests a missing packet gets, and the time between them.
  static constexpr int kAttempts = 5;
  static constexpr std::chrono::milliseconds kRetryAfter{250};
  // Missing packets followed at once; more is a burst no resend would save.
  static constexpr size_t kMaxPending = 4096;
  // A packet this far behind the highest one is a stray from an earlier play: ignored.
  static constexpr uint32_t kMaxBehind = 3000;

  enum class Kind {
    kNew,        // in order, or ahead (the ones between are now missing)
    kRecovered,  // one that was missing (resent, or late)
    kLate,       // one given up as lost before it came (CountLate if it is used after all)
    kDuplicate,  // already had it
    kStray,      // from far behind, or before the first
  };
  struct Arrival {
    Kind kind = Kind::kNew;
    uint32_t extended = 0;
    std::vector<uint16_t> missing;  // ask for these now
  };
  Arrival Arrived(uint16_t sequence, Clock::time_point now = Clock::now());
  // The server said which packet comes first (RTP-Info): one lost before the first arrival is
  // missed too. Returns the ones to ask for now.
  std::vector<uint16_t> ExpectFirst(uint16_t sequence, Clock::time_point now = Clock::now());

  // The requests due now; gaveUp gets the ones given up as lost.
  std::vector<uint16_t> Due(Clock::time_point now, std::vector<uint16_t>& gaveUp);
  // At the end: the packets from after the highest one up to, not including, next (the
  // sequence the server says it would send next) are missing too. Returns them to ask for.
  std::vector<uint16_t> MissingBefore(uint16_t next, Clock::time_point now = Clock::now());
  // Gives up on everything still asked for (the end cannot wait longer); returns how many.
  uint32_t GiveUpAll();
  // Gives up on the missing ones before extended (a reorder buffer that cannot wait longer).
  uint32_t GiveUpBefore(uint32_t extended);
  // A kLate packet was used after all: it counts as received, not lost.
  void CountLate();
  // The lowest extended number still asked for; false when none is.
  bool LowestPending(uint32_t& extended) const;
  // The extended number of the first packet expected (0 before any is).
  uint32_t First() const;

  bool AnyPending() const;
  bool Started() const;
  uint32_t ExtendedHighest() const;
  uint32_t Received() const;
  uint32_t Lost() const;
  uint32_t Recovered() const;
  // Packets expected (from the first to the highest), and those of them that have not come.
  uint32_t Expected() const;
  uint32_t MissingNow() const;

 private:
  struct Pending {
    int attempts = 0;
    Clock::time_point asked;
  };
  void Miss(uint32_t extended, Clock::time_point now, std::vector<uint16_t>& missing);

  mutable std::mutex mutex_;
  bool started_ = false;
  uint32_t first_ = 0;
  uint32_t highest_ = 0;  // extended
  uint32_t received_ = 0;
  uint32_t lost_ = 0;
  uint32_t recovered_ = 0;
  std::map<uint32_t, Pending> pending_;  // by extended number
  std::vector<uint32_t> given_up_;       // recent ones, so a late arrival is still taken
};

}  // namespace qor
