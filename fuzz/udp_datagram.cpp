// The UDP side of an MMS session: datagrams from anyone judged for the file, and a stream of
// sequence numbers (lost, late, repeated, wrapped) driven through the loss and resend bookkeeping
// with resend ticks between them. Every resend request built is read back by the reference
// server's parser and must name the sequence asked for.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "data_units.h"
#include "session/udp_datagram.h"
#include "session/udp_resend_tracker.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const uint8_t kClientId[4] = {0x11, 0x22, 0x33, 0x44};

void CheckRequest(uint32_t sequence) {
  const auto request = qor::mms::BuildResendRequest(kClientId, sequence);
  qor::server::ResendRequest parsed;
  Check(qor::server::ParseResendRequest(request.data(), request.size(), parsed));
  Check(parsed.sequences.size() == 1 && parsed.sequences[0] == sequence);
  // A datagram we send ourselves is never taken for media.
  Check(qor::mms::AcceptedDatagramLength(request.data(), request.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    // An exact-size copy, so a read one byte past the datagram is caught.
    const std::vector<uint8_t> datagram(data, data + size);
    const size_t accepted = qor::mms::AcceptedDatagramLength(datagram.data(), datagram.size());
    Check(accepted == 0 || (accepted >= 8 && accepted <= size));
  }

  // Each byte of the first kSteps: the top bit set means resend ticks, else the low bits step the
  // sequence. More steps add nothing the table of 256 cannot show, and would slow every run that
  // starts from a whole media packet.
  constexpr size_t kSteps = 1024;
  qor::mms::UdpResendTracker tracker;
  uint8_t next = 0;
  // Reported missing and not received since, by sequence: a step moves the sequence at most 64
  // on, so kSteps steps stay below kSequences. A flat table, cleared as far as the run went: a
  // tree here cost more than the tracker it checks.
  constexpr size_t kSequences = kSteps * 64 + 256;
  static std::vector<uint8_t> missing(kSequences);
  const size_t steps = size < kSteps ? size : kSteps;
  for (size_t i = 0; i < steps; ++i) {
    const uint8_t b = data[i];
    if (b & 0x80) {
      for (int ticks = (b & 0x0F) + 1; ticks > 0; --ticks) {
        const auto step = tracker.Scan();
        if (step.request) {
          Check(step.sequence < kSequences && missing[step.sequence] == 1);
          if (step.gaveUp) {
            missing[step.sequence] = 0;
            // Once per sequence: the request's form depends on the sequence only.
            CheckRequest(step.sequence);
          }
        }
      }
      continue;
    }
    // 0..63 ahead of the expected sequence (a gap), 64..127 behind it (late or repeated).
    const uint8_t delta = b & 0x3F;
    const uint8_t s =
        (b & 0x40) ? static_cast<uint8_t>(next - 1 - delta) : static_cast<uint8_t>(next + delta);
    const uint32_t before = tracker.Expected();
    const std::vector<uint32_t> requests = tracker.LossCheck(s);
    if (tracker.Expected() == before) {
      // Late or repeated: the datagram sequence it stands for is no longer asked for.
      int d = static_cast<int>(s) - static_cast<int>(static_cast<uint8_t>(before));
      if (d > 0) d -= 256;
      if (before >= static_cast<uint32_t>(-d)) missing[before + static_cast<uint32_t>(d)] = 0;
    }
    for (uint32_t sequence : requests) {
      Check(sequence >= before && sequence < tracker.Expected() && sequence < kSequences);
      missing[sequence] = 1;
    }
    // The ends of a gap are enough to check the request's form; all of them would slow each run.
    if (!requests.empty()) {
      CheckRequest(requests.front());
      CheckRequest(requests.back());
    }
    Check(tracker.Expected() >= before);
    next = static_cast<uint8_t>(tracker.Expected());
  }
  std::fill(missing.begin(), missing.begin() + std::min<size_t>(tracker.Expected(), kSequences), 0);
  Check(tracker.RecoveredPackets() <= size);
  Check(tracker.LostPackets() <= tracker.Expected());
  return 0;
}
