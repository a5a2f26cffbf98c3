// The media of an RTSP session: RTP packets made into ASF packets and written, RTCP read and sent
// (receiver reports, NACKs for lost packets over UDP), the resend tick, and the end of the stream
// or of a play-list entry, which over UDP waits for the last resends.

#include <algorithm>
#include <cstdio>

#include "asf/asf.h"
#include "session/media_packet_path.h"
#include "session/rtsp_protocol.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr UdpOrigin kControl{true, 0};
// After the end came over UDP, the media counts as all in once nothing has come for this long
// and nothing is asked for any more; the last resends are waited for at most kTailLimit.
constexpr auto kTailQuiet = std::chrono::milliseconds(300);
constexpr auto kTailLimit = std::chrono::seconds(15);
// Lines about losses given up: the first few, then only the summary at the end.
constexpr uint32_t kLossLines = 10;
// How long a live stream's packets wait over UDP: the end-of-entry notice comes over the
// connection and may be overtaken by the next entry's first datagrams by a few milliseconds.
constexpr auto kEntryHold = std::chrono::milliseconds(250);
constexpr const char* kRtxCnameSuffix = "@WMS:7ff42e07-3c7c-4eb5-9c17-6bdd11ad90de";

}  // namespace

bool RtspProtocol::TakeRtp(const uint8_t* data, size_t length) {
  last_media_at_ = Clock::now();
  const State state = state_.load();
  // A header still to come (the next entry's) decides the packets' layout: nothing goes before.
  if (state == State::kOptions || state == State::kDescribe || state == State::kHeaderAgain ||
      state == State::kEnded)
    return true;
  packets_.clear();
  const auto outcome = receiver_.Take(data, length, packets_, nacks_);
  if (!nacks_.empty()) {
    SendNacks(nacks_);
    port_.ResendsPending();
  }
  if (outcome == RtpAsfReceiver::Outcome::kNotRtp ||
      outcome == RtpAsfReceiver::Outcome::kMalformed) {
    if (!warned_not_rtp_)
      port_.Post("Warning, an RTP packet that could not be read was dropped", mcWarning);
    warned_not_rtp_ = true;
  }
  return WritePackets(packets_);
}

bool RtspProtocol::WritePackets(std::vector<AsfFromRtp>& packets) {
  const bool hold = HoldsPackets();
  const Clock::time_point now = Clock::now();
  bool more = true;
  for (AsfFromRtp& packet : packets) {
    if (hold) {
      held_.push_back({std::move(packet), now});
    } else if (more) {
      more = WritePacket(packet);
    }
  }
  packets.clear();
  return more && WriteHeld(now - kEntryHold);
}

bool RtspProtocol::HoldsPackets() const {
  const State state = state_.load();
  return MediaOverUdp() && port_.Counters().StreamKind.load() == skLive &&
         (state == State::kPlay || state == State::kStreaming || state == State::kTail);
}

bool RtspProtocol::WriteHeld(Clock::time_point cutoff) {
  while (!held_.empty() && held_.front().at <= cutoff) {
    Held next = std::move(held_.front());
    held_.pop_front();
    if (!WritePacket(next.packet)) return false;
  }
  return true;
}

bool RtspProtocol::WriteHeldBefore(uint16_t next) {
  while (!held_.empty() && static_cast<int16_t>(held_.front().packet.rtpSequence - next) < 0) {
    Held first = std::move(held_.front());
    held_.pop_front();
    if (!WritePacket(first.packet)) return false;
  }
  return true;
}

RtspProtocol::Clock::time_point RtspProtocol::HeldDeadline() const {
  return held_.empty() ? Clock::time_point::max() : held_.front().at + kEntryHold;
}

bool RtspProtocol::WritePacket(AsfFromRtp& packet) {
  if (next_entry_from_ && static_cast<int16_t>(packet.rtpSequence - *next_entry_from_) < 0)
    return true;
  // Without location ids the packets are numbered as they come, counting the RTP packets given up
  // before each as one ASF packet apiece.
  next_location_ += packet.lostBefore;
  const uint32_t location = packet.hasLocationId ? packet.locationId : next_location_;
  location_ids_ = location_ids_ || packet.hasLocationId;
  next_location_ = location + 1;
  MediaPacketPath& media = port_.Media();
  const State state = state_.load();
  if (state == State::kTrackChanged) {
    media.KeepForNextEntry(location, packet.packet.data(), packet.packet.size());
    return true;
  }
  if (state == State::kEnded) return true;
  port_.Input().NoteProgress();
  if (media.StartedByChange()) {
    uint32_t lost = 0;
    const bool own = media.TakeCarried(location, lost);
    port_.Counters().LostPackets += lost;
    reported_lost_ += lost;
    if (!own) return true;
  }
  // The file is numbered from the first packet the server sent, also when that one was lost: a
  // recorded clip played from its start begins with packet 0, and otherwise the RTP packets given
  // up before the first arrival are counted.
  uint32_t lateBy = 0;
  if (!media.HasFirstPacket()) {
    const SessionConfig& config = port_.Config();
    const bool fromStart = port_.Counters().StreamKind.load() == skPrerecorded &&
                           !config.Resuming() && config.OffsetMs == 0 && packet.hasLocationId;
    lateBy = fromStart ? location : std::min(packet.lostBefore, location);
  }
  if (media.Write(packet.packet.data(), packet.packet.size(), location, lateBy) ==
      MediaPacketPath::Outcome::Stop) {
    Enter(State::kEnded);
    port_.Terminate();
    return false;
  }
  return true;
}

void RtspProtocol::TakeRtcp(const uint8_t* data, size_t length) {
  const RtcpSummary summary = ReadRtcp(data, length);
  const auto now = Clock::now();
  for (const auto& report : summary.senderReports)
    receiver_.SenderReport(report.ssrc, report.ntpMiddle, now);
  const State state = state_.load();
  if (state != State::kStreaming && state != State::kPlay) return;
  // A goodbye from the source of the media ends the stream (a server that sends the end notice
  // sends it right after; the first one counts).
  for (uint32_t ssrc : summary.byes) {
    if (receiver_.KnownSource(ssrc) && !server_takes_notices_) {
      EndOfStream(mcCompleted, std::nullopt);
      return;
    }
  }
}

void RtspProtocol::NoteReportTarget() {
  const auto rtx = std::find_if(setups_.begin(), setups_.end(),
                                [](const SetUpStream& s) { return s.retransmission; });
  std::lock_guard<std::mutex> lock(session_mutex_);
  report_port_ = MediaOverUdp() ? server_rtcp_port_ : 0;
  // The server takes a NACK only with the retransmission stream's ssrc in the CNAME.
  resends_offered_ = rtx != setups_.end();
  cname_ = resends_offered_ ? std::to_string(rtx->ssrc) + kRtxCnameSuffix
                            : "qor@" + port_.LocalAddress();
}

void RtspProtocol::SendNacks(std::vector<RtpAsfReceiver::Nack>& nacks) {
  int32_t to = 0;
  std::string cname;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    if (resends_offered_) to = report_port_;
    cname = cname_;
  }
  // Without the retransmission stream nothing is resent: the losses are only counted.
  if (to == 0) {
    nacks.clear();
    return;
  }
  for (RtpAsfReceiver::Nack& nack : nacks) {
    while (!nack.sequences.empty()) {
      std::vector<uint8_t> packet = BuildRtcpReceiverReport(own_ssrc_, {}, cname);
      AppendRtcpNack(own_ssrc_, nack.ssrc, nack.sequences, packet);
      port_.SendUdpTo(kControl, to, packet.data(), static_cast<int32_t>(packet.size()));
    }
  }
  nacks.clear();
}

void RtspProtocol::SendReceiverReport() {
  int32_t to = 0;
  std::string cname;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    to = report_port_;
    cname = cname_;
  }
  if (to == 0) return;
  const std::vector<uint8_t> report =
      BuildRtcpReceiverReport(own_ssrc_, receiver_.Reports(Clock::now()), cname);
  port_.SendUdpTo(kControl, to, report.data(), static_cast<int32_t>(report.size()));
}

void RtspProtocol::ResendTick() {
  std::vector<RtpAsfReceiver::Nack> nacks;
  const uint32_t gaveUp = receiver_.Due(Clock::now(), nacks);
  SendNacks(nacks);
  SessionCounters& counters = port_.Counters();
  counters.RecoveredPackets = receiver_.Recovered();
  if (gaveUp > 0) {
    counters.LostPackets = receiver_.Lost() + reported_lost_.load();
    if (counters.LostPackets.load() - gaveUp < kLossLines)
      port_.Post("RTSP: " + THelper::IntText(gaveUp) +
                     " RTP packet(s) never came, not even when asked for again (at " +
                     THelper::FormatTime(counters.SendTime.load()) + ")",
                 mcMedia);
    // Packets held behind the gap can go on now, and the end may be waiting for this.
    port_.Input().WakeLoop();
  }
  // Last: once stopped, this tick takes no lock of the session any more.
  port_.ResendsSettled([this] { return receiver_.AnyPending(); });
}

// ---- The end ----

void RtspProtocol::EndOfStream(uint32_t code, std::optional<uint16_t> nextSequence) {
  if (state_.load() == State::kTail || Ended()) return;
  port_.Input().MarkEndPosted();
  if (code == mcNewTrack) {
    // What is still missing of the ended entry will not be in its file.
    if (MediaOverUdp()) {
      receiver_.GiveUpAll(packets_);
      WritePackets(packets_);
      port_.Counters().LostPackets = receiver_.Lost() + reported_lost_.load();
    }
    // The packets from the server's next number on are the next entry's.
    if (nextSequence) {
      WriteHeldBefore(*nextSequence);
    } else {
      WriteHeld(Clock::time_point::max());
    }
    port_.Media().EntryEnded();
    PostEnd(code);
    // The notice comes over the connection and can overtake the ended entry's last datagrams.
    next_entry_from_ = nextSequence;
    WriteHeld(Clock::time_point::max());  // kept for the next session now
    return;
  }
  if (!MediaOverUdp()) {
    PostEnd(code);
    return;
  }
  tail_next_ = nextSequence;
  tail_requested_ = false;
  tail_code_ = code;
  tail_since_ = Clock::now();
  Enter(State::kTail);
  EndIfTailDone();
}

void RtspProtocol::EndIfTailDone() {
  if (state_.load() != State::kTail) return;
  const auto now = Clock::now();
  receiver_.Release(packets_);
  if (!WritePackets(packets_)) return;
  if (!tail_requested_ && now - last_media_at_ >= kTailQuiet) {
    // The notice comes over the connection, often ahead of the last datagrams: once they have
    // had their moment, a lost last packet (nothing after it shows the gap) is asked for by the
    // server's next number.
    tail_requested_ = true;
    receiver_.ExpectEnd(tail_next_.value_or(0), tail_next_.has_value(), nacks_);
    if (!nacks_.empty()) {
      SendNacks(nacks_);
      port_.ResendsPending();
      return;
    }
  }
  const bool settled = tail_requested_ && !receiver_.AnyPending() && !receiver_.Holding();
  if (!settled && now - tail_since_ < kTailLimit) return;
  if (settled && now - last_media_at_ < kTailQuiet) return;
  if (!settled) {
    // The server had long enough: what is still missing is lost.
    receiver_.GiveUpAll(packets_);
    WritePackets(packets_);
  }
  if (!WriteHeld(Clock::time_point::max())) return;
  port_.Counters().LostPackets = receiver_.Lost() + reported_lost_.load();
  port_.Counters().RecoveredPackets = receiver_.Recovered();
  ReportUnnoticedLosses();
  PostEnd(tail_code_);
}

RtspProtocol::Clock::time_point RtspProtocol::TailDeadline() const {
  if (state_.load() != State::kTail) return Clock::time_point::max();
  const Clock::time_point quiet = last_media_at_ + kTailQuiet;
  if (quiet > Clock::now()) return quiet;
  return tail_since_ + kTailLimit;
}

void RtspProtocol::PostEnd(uint32_t code) {
  // What is gathered must be in the file before anything is called complete; a failed write ends
  // the download as a failure (posted by the flush).
  MediaPacketPath& media = port_.Media();
  if (!media.Flush()) {
    Enter(State::kEnded);
    return;
  }
  const uint32_t lost = port_.Counters().LostPackets.load();
  if (lost > 0)
    port_.Post("Warning, RTP packets that never arrived are missing from the file: " +
                   THelper::IntText(lost),
               mcWarning);
  if (code != mcNewTrack) SendTeardown(false);
  Enter(code == mcNewTrack ? State::kTrackChanged : State::kEnded);
  if (code == mcCompleted && !media.AnyWritten() && !port_.Config().Resuming()) {
    // A stream that ends with nothing saved is no recording.
    port_.Post(kNothingReceived, mcFatal);
  } else {
    port_.Post("", code);
  }
}

void RtspProtocol::ReportUnnoticedLosses() {
  // With location ids the file tells which packets are missing, also ones no gap in the RTP
  // numbers showed (a first packet lost before any came, say).
  const MediaPacketPath& media = port_.Media();
  const PacketLedger& written = media.Written();
  if (!location_ids_ || written.Empty() || !media.LeftOutStreams().empty()) return;
  const TASF& asf = port_.Asf();
  int64_t end = written.Highest() + 1;
  if (!(asf.FileFlags & ffBroadcast) && asf.DataPacketsCount > 0 &&
      asf.DataPacketsCount < static_cast<uint64_t>(INT64_MAX))
    end = std::max<int64_t>(
        end, port_.Config().Resuming()
                 ? static_cast<int64_t>(asf.DataPacketsCount) + media.IndexShift()
                 : static_cast<int64_t>(asf.DataPacketsCount) - int64_t{media.FirstLocation()});
  // A new file starts at packet 0, whether or not that one came.
  const int64_t first = port_.Config().Resuming() ? written.First() : 0;
  const uint64_t missing = written.MissingIn(first, end);
  const uint32_t counted = port_.Counters().LostPackets.load();
  if (missing <= counted) return;
  port_.Counters().LostPackets = static_cast<uint32_t>(std::min<uint64_t>(missing, UINT32_MAX));
}

}  // namespace qor
