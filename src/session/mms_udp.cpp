// Media over UDP: which datagrams are taken, the loss check and the resend tick, and the end of a
// stream, which over UDP waits for the datagrams still on their way.

#include <algorithm>

#include "asf/asf.h"
#include "session/media_packet_path.h"
#include "session/mms_commands.h"
#include "session/mms_protocol.h"
#include "session/session_input.h"
#include "session/session_port.h"
#include "session/udp_datagram.h"
#include "support/helper.h"

namespace qor {

namespace {

// After the end arrives over TCP, UDP media counts as all in once the ring has stayed empty this
// long and no resend is outstanding.
constexpr auto kUdpTailQuiet = std::chrono::milliseconds(300);
// The longest the end waits for the last resends: the resend timer stops with the TCP connection,
// and a server that closes it at the end leaves nobody to give up on what is still asked for.
constexpr auto kUdpTailLimit = std::chrono::seconds(15);
// A live datagram may be this many packets, plus this many seconds at the stream's bit rate, ahead
// of the highest one taken.
constexpr uint64_t kLiveDatagramSlack = 1000;
constexpr uint64_t kLiveDatagramAheadSeconds = 60;
constexpr uint64_t kLivePacketsPerSecondAtLeast = 20;
// Refused datagram numbers logged one by one; the rest are dropped silently.
constexpr uint32_t kImplausibleReports = 10;

}  // namespace

bool MmsProtocol::PlausibleDatagramNumber(uint32_t sequence) {
  const TASF& asf = port_.Asf();
  const SessionCounters& counters = port_.Counters();
  const auto now = std::chrono::steady_clock::now();
  bool plausible = true;
  if (counters.StreamKind.load() != skLive && !(asf.FileFlags & ffBroadcast) &&
      asf.DataPacketsCount > 0) {
    plausible = sequence < asf.DataPacketsCount;
  } else if (have_highest_datagram_ && sequence > highest_datagram_) {
    // The window grows with the time since the last packet taken, so a stream that comes back
    // after an outage is followed again, also when the server gave no bit rate.
    const uint64_t perSecond =
        std::max<uint64_t>(uint64_t{counters.MaxStreamRate.load()} / 8 /
                               std::max<uint32_t>(counters.PacketSize.load(), 1),
                           kLivePacketsPerSecondAtLeast);
    const auto quiet =
        std::chrono::duration_cast<std::chrono::seconds>(now - highest_datagram_at_).count();
    const uint64_t window = kLiveDatagramSlack + perSecond * (kLiveDatagramAheadSeconds +
                                                              2 * static_cast<uint64_t>(quiet));
    plausible = sequence - highest_datagram_ <= window;
  }
  if (!plausible) {
    // A flood of them must not flood the log as well.
    if (implausible_datagrams_++ < kImplausibleReports) {
      port_.Post("Warning, a packet with an invalid index was dropped: " +
                     THelper::IntText(static_cast<int64_t>(sequence)),
                 mcWarning);
    }
    return false;
  }
  if (!have_highest_datagram_ || sequence > highest_datagram_) {
    have_highest_datagram_ = true;
    highest_datagram_ = sequence;
    highest_datagram_at_ = now;
  }
  return true;
}

void MmsProtocol::SendResendRequest(uint32_t sequence) {
  const uint32_t id = port_.Counters().ClientId.load();
  const uint8_t token[4] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                            static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
  const auto request = mms::BuildResendRequest(token, sequence);
  port_.SendUdp(request.data(), static_cast<int32_t>(request.size()));
}

void MmsProtocol::UdpLossCheck(uint8_t sequence) {
  const std::vector<uint32_t> missing = tracker_.LossCheck(sequence);
  for (uint32_t each : missing) SendResendRequest(each);
  if (!missing.empty()) port_.ResendsPending();
  port_.Counters().RecoveredPackets = tracker_.RecoveredPackets();
}

void MmsProtocol::ResendTick() {
  const auto step = tracker_.Scan();
  if (step.request) {
    SendResendRequest(step.sequence);
    if (step.gaveUp) {
      port_.Counters().LostPackets = tracker_.LostPackets();
      port_.Post("TMMS: UDP resend failed at seq: " + THelper::IntText(step.index) +
                     " at time point: " + THelper::FormatTime(port_.Counters().SendTime.load()),
                 mcMedia);
      // The end of a UDP stream may be waiting for the last request to be given up.
      port_.Input().WakeLoop();
    }
  }
  // Last: once stopped, this tick takes no lock of the session any more.
  port_.ResendsSettled([this] { return tracker_.AnyPending(); });
}

// ---- The end ----

void MmsProtocol::EndOfStream(uint32_t code) {
  if (state_.load() == State::kTail) return;  // the first end counts
  port_.Input().MarkEndPosted();
  // Only the very end waits for stragglers: after a change of track the datagrams that follow
  // belong to the next entry, and none of them may reach this file.
  if (MediaOverUdp() && code == mcCompleted && state_.load() == State::kForeignHeader) {
    // Nothing that still comes belongs to this file: there is no tail to wait for.
    ReportUnnoticedLosses();
  } else if (MediaOverUdp() && code == mcCompleted) {
    tail_code_ = code;
    tail_since_ = std::chrono::steady_clock::now();
    Enter(State::kTail);
    EndIfUdpTailDone();
    return;
  }
  PostEnd(code);
}

void MmsProtocol::PostEnd(uint32_t code) {
  // What is gathered must be in the file before anything is called complete; a failed write ends
  // the download as a failure (posted by the flush).
  MediaPacketPath& media = port_.Media();
  if (!media.Flush()) {
    Enter(State::kEnded);
    return;
  }
  if (code == mcCompleted && !media.AnyWritten() && !port_.Config().Resuming()) {
    // A stream that ends with nothing saved is no recording (every datagram lost, say).
    port_.Post(kNothingReceived, mcFatal);
  } else {
    port_.Post("", code);
  }
  Enter(code == mcNewTrack ? State::kTrackChanged : State::kEnded);
}

void MmsProtocol::EndIfUdpTailDone() {
  if (state_.load() != State::kTail || port_.Input().Ring().Available() != 0) return;
  const auto now = std::chrono::steady_clock::now();
  // With every packet the header promises in the file there is nothing left on its way.
  if (now - last_unit_ < kUdpTailQuiet && !AllPromisedPacketsIn()) return;
  if (!tail_requested_) {
    // A lost last datagram has nothing behind it to show the gap: ask for the tail the header
    // promises like any other gap.
    tail_requested_ = true;
    if (RequestMissingTail()) return;
  }
  // Each is resent or given up within a few seconds while the resend timer runs.
  if (tracker_.AnyPending() && now - tail_since_ < kUdpTailLimit) return;
  ReportUnnoticedLosses();
  PostEnd(tail_code_);
}

TCB::Deadline MmsProtocol::TailDeadline() const {
  if (state_.load() != State::kTail) return TCB::Deadline::max();
  // The quiet spell first; after it only the last resends (whose arrival or abandonment wakes
  // the loop) or the limit on them can end the wait.
  const TCB::Deadline quiet = last_unit_ + kUdpTailQuiet;
  if (quiet > std::chrono::steady_clock::now()) return quiet;
  return tail_since_ + kUdpTailLimit;
}

bool MmsProtocol::RequestMissingTail() {
  const MediaPacketPath& media = port_.Media();
  if (!have_datagram_base_ || !media.AnyWritten()) return false;
  const TASF& asf = port_.Asf();
  if (!HeaderCountIsTheStreams()) return false;
  if ((asf.FileFlags & ffBroadcast) || asf.DataPacketsCount == 0 ||
      asf.DataPacketsCount > UINT32_MAX)
    return false;
  // Packet sequences are the clip's own numbers; datagram n carried sequence datagram_base_ + n.
  const auto lastSequence = static_cast<uint32_t>(asf.DataPacketsCount - 1);
  const int64_t highestSequence =
      media.Written().Highest() -
      (port_.Config().Resuming() ? media.IndexShift() : -int64_t{media.FirstLocation()});
  if (lastSequence < datagram_base_ || highestSequence < datagram_base_) return false;
  const std::vector<uint32_t> requests =
      tracker_.RequestRange(static_cast<uint32_t>(highestSequence - datagram_base_ + 1),
                            lastSequence - datagram_base_ + 1);
  for (uint32_t sequence : requests) SendResendRequest(sequence);
  if (requests.empty()) return false;
  port_.ResendsPending();
  return true;
}

bool MmsProtocol::HeaderCountIsTheStreams() const {
  // With streams left out the server packs the chosen ones into fewer packets than the header
  // counts: the count is only an upper bound then, and the packets behind the last one that came
  // were never sent.
  return port_.Media().LeftOutStreams().empty();
}

int64_t MmsProtocol::PromisedEnd() const {
  // A whole recorded file tells how many packets it has; a live one does not.
  const TASF& asf = port_.Asf();
  if (!HeaderCountIsTheStreams() || (asf.FileFlags & ffBroadcast) || asf.DataPacketsCount == 0 ||
      asf.DataPacketsCount >= static_cast<uint64_t>(INT64_MAX))
    return -1;
  const auto count = static_cast<int64_t>(asf.DataPacketsCount);
  const MediaPacketPath& media = port_.Media();
  return port_.Config().Resuming() ? count + media.IndexShift()
                                   : count - int64_t{media.FirstLocation()};
}

bool MmsProtocol::AllPromisedPacketsIn() const {
  const int64_t end = PromisedEnd();
  const PacketLedger& written = port_.Media().Written();
  // The scan of the ledger last: while resends are pending it would run at every wake.
  return end > 0 && !written.Empty() && written.Highest() + 1 == end && !tracker_.AnyPending() &&
         written.MissingIn(written.First(), end) == 0;
}

void MmsProtocol::ReportUnnoticedLosses() {
  const PacketLedger& written = port_.Media().Written();
  if (written.Empty()) return;
  const int64_t end = std::max(written.Highest() + 1, PromisedEnd());
  const uint64_t missing = written.MissingIn(written.First(), end);
  const uint64_t reported = tracker_.LostPackets();
  if (missing <= reported) return;
  const auto unnoticed = static_cast<uint32_t>(std::min<uint64_t>(missing - reported, UINT32_MAX));
  tracker_.AddLost(unnoticed);
  port_.Counters().LostPackets = tracker_.LostPackets();
  port_.Post("Warning, packets that never arrived are missing from the file: " +
                 THelper::IntText(unnoticed),
             mcWarning);
}

}  // namespace qor
