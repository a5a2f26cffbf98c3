#include "session/mms_protocol.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/carry_over.h"
#include "session/mms_reply.h"
#include "session/save_file.h"
#include "session/session.h"
#include "session/udp_datagram.h"

namespace qor {

namespace {

constexpr size_t kPacketBufferSize = 1000000;
// The ring keeps one byte free, so this is the largest unit it can ever hold.
constexpr size_t kLargestUnit = TMMS::kRingSize - 1;
constexpr uint32_t kMinPacketSize = 1;
constexpr uint32_t kMaxPacketSize = 1000000;

constexpr uint8_t kTagHeader = 0x02;
constexpr uint8_t kTagMedia = 0x04;
constexpr uint8_t kTagTimingOrHeader = 0xFF;
constexpr uint8_t kTimingFlags = 0x10;
// After the end arrives over TCP, UDP media counts as all in once the ring has stayed empty this
// long and no resend is outstanding.
constexpr auto kUdpTailQuiet = std::chrono::milliseconds(300);
// How long a session started by a change of entry waits for the previous session to keep the
// entry's packets before its own first one.
constexpr auto kCarryWait = std::chrono::milliseconds(1500);
// A live datagram may be this many packets, plus this many seconds at the stream's bit rate, ahead
// of the highest one taken.
constexpr uint64_t kLiveDatagramSlack = 1000;
constexpr int32_t kStandardMmsPort = 1755;
constexpr uint64_t kLiveDatagramAheadSeconds = 60;
constexpr uint64_t kLivePacketsPerSecondAtLeast = 20;
// Refused datagram numbers logged one by one; the rest are dropped silently.
constexpr uint32_t kImplausibleReports = 10;
// The longest the end waits for the last resends: the resend timer stops with the TCP connection,
// and a server that closes it at the end leaves nobody to give up on what is still asked for.
constexpr auto kUdpTailLimit = std::chrono::seconds(15);

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// The window thread's answer to a password challenge. Shared, so an answer that comes after the
// session gave up (or was destroyed) lands in an object that still exists.
MmsProtocol::MmsProtocol(TMMS& session)
    : session_(session), framer_(kLargestUnit) {}

MmsProtocol::~MmsProtocol() = default;

void MmsProtocol::InitFields() {
  command_sequence_ = 0;
  file_number_ = 1;
  server_incarnation_ = 0;
  timing_state_ = 0;
  framer_ = mms::MmsUnitFramer(kLargestUnit);
  framing_failed_ = false;
  timing_replies_ = 0;
  timing_packets_ = 0;
  credentials_sent_ = false;
  have_first_media_ = false;
  first_sequence_ = 0;
  first_timecode_ = 0;
  have_highest_datagram_ = false;
  highest_datagram_ = 0;
  implausible_datagrams_ = 0;
  ended_ = false;
  deferred_end_ = 0;
  have_datagram_base_ = false;
  datagram_base_ = 0;
  tail_requested_ = false;
  track_changed_ = false;
  carry_checked_ = false;
  replacing_header_ = false;
  highest_sequence_ = 0;
  header_expected_ = false;
  next_entry_seen_ = false;
  written_.Reset();
  tracker_.Reset();
}

// ---- Sending ----

void MmsProtocol::Send(const mms::Bytes& message) {
  session_.SendTcp(message.data(), static_cast<int32_t>(message.size()));
  command_sequence_.fetch_add(1);
}

void MmsProtocol::SendConnect() {
  Send(mms::BuildConnect(command_sequence_, session_.ClientGuid, session_.ProxyInUse != 0,
                         session_.HostText(session_.ConnectPort, kStandardMmsPort)));
}

void MmsProtocol::SendTransportSelect() {
  const bool udp = (session_.ProtocolFlags & pfMmsUdp) != 0;
  // The server starts sending to the port once it knows it; a receiver thread that has not bound
  // it yet would miss the timing test and the first packets.
  if (udp) {
    session_.WaitForUdpReceiver();
    const int32_t bound = session_.UdpLocalPort();
    if (bound == 0) {
      // Telling the server a port nobody here listens on would send the clip to whoever holds it.
      if (!session_.Terminated())
        session_.Post("TMMS: no UDP port could be bound, the data cannot be received", mcFatal);
      session_.Terminate();
      return;
    }
    if (bound != session_.UdpPort)
      session_.Post("UDP port " + THelper::IntText(session_.UdpPort) + " is in use; receiving on " +
                        THelper::IntText(bound) + " instead",
                    mcWarning);
  }
  const uint32_t port =
      static_cast<uint32_t>(udp ? session_.UdpLocalPort() : session_.LocalPort.load());
  Send(mms::BuildTransportSelect(command_sequence_, server_incarnation_, session_.LocalAddress, udp,
                                 port));
}

void MmsProtocol::SendOpenFile() {
  Send(mms::BuildOpenFile(command_sequence_, file_number_, session_.Path));
}

void MmsProtocol::SendStartPlay(uint32_t positionMs) {
  if (mms::StartPlayRefused(positionMs, session_.StreamKind)) {
    session_.Post(mms::kLiveSeekRefusal, mcFatal);
    return;
  }
  Send(mms::BuildStartPlay(command_sequence_, file_number_, positionMs));
}

void MmsProtocol::SendHeaderRequest() {
  header_expected_ = true;
  Send(mms::BuildHeaderRequest(command_sequence_, file_number_));
}

void MmsProtocol::SendTimingRequest() {
  int32_t state = timing_state_;
  const mms::Bytes message =
      mms::BuildTimingRequest(command_sequence_, state, (session_.ProtocolFlags & pfMmsUdp) != 0);
  timing_state_ = state;
  Send(message);
}

void MmsProtocol::SendPasswordResponse(const std::string& credentials) {
  Send(mms::BuildPasswordResponse(command_sequence_, file_number_, credentials));
}

void MmsProtocol::SendPong() {
  Send(mms::BuildPong(command_sequence_, file_number_));
  session_.Acknowledgements.fetch_add(1);
}

void MmsProtocol::SendStreamSelection() {
  std::vector<uint16_t> streams;
  const TASF& asf = *session_.Asf;
  const uint32_t count = std::min<uint32_t>(asf.StreamCount, kAsfSlots);
  for (uint32_t i = 0; i < count; ++i) streams.push_back(asf.StreamNumbers[i]);
  const std::vector<uint16_t> off(session_.LeftOutStreams.begin(), session_.LeftOutStreams.end());
  Send(mms::BuildStreamSelection(command_sequence_, streams, off));
}

void MmsProtocol::SendResendRequest(uint32_t sequence) {
  const uint32_t id = session_.ClientId;
  const uint8_t token[4] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                            static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
  const auto request = mms::BuildResendRequest(token, sequence);
  session_.SendUdp(request.data(), static_cast<int32_t>(request.size()));
}

// ---- Transport side (window thread) ----

void MmsProtocol::OnTcpData(const uint8_t* data, int32_t length) {
  if (length <= 0 || framer_.Stopped()) return;
  const auto status =
      framer_.Feed(data, static_cast<size_t>(length), [this](const uint8_t* unit, size_t size) {
        return session_.WriteRing(unit, static_cast<int32_t>(size), false);
      });
  if (status == mms::MmsUnitFramer::Status::Malformed) {
    framing_failed_.store(true);
    session_.WakeLoop();
  }
}

bool MmsProtocol::OnUdpDatagram(const uint8_t* data, int32_t length) {
  if (length <= 0) return false;
  const size_t accepted = mms::AcceptedDatagramLength(data, static_cast<size_t>(length));
  if (accepted == 0) return false;
  if (accepted == static_cast<size_t>(length)) return true;
  // Trailing bytes are not part of the packet; only the packet goes into the ring.
  session_.WriteRing(data, static_cast<int32_t>(accepted), false);
  return false;
}

// ---- UDP loss and resend ----

void MmsProtocol::UdpLossCheck(uint8_t sequence) {
  const std::vector<uint32_t> missing = tracker_.LossCheck(sequence);
  for (uint32_t each : missing) SendResendRequest(each);
  if (!missing.empty()) session_.ResendsPending();
  session_.RecoveredPackets = tracker_.RecoveredPackets();
}

void MmsProtocol::ResendScan() {
  const auto step = tracker_.Scan();
  if (step.request) {
    SendResendRequest(step.sequence);
    if (step.gaveUp) {
      session_.LostPackets = tracker_.LostPackets();
      session_.Post("TMMS: UDP resend failed at seq: " + THelper::IntText(step.index) +
                        " at time point: " + THelper::FormatTime(session_.SendTime.load()),
                    mcMedia);
      // The end of a UDP stream may be waiting for the last request to be given up.
      session_.WakeLoop();
    }
  }
  // Last: once stopped, this tick takes no lock of the session any more.
  session_.ResendsSettled([this] { return tracker_.AnyPending(); });
}

// ---- Receive loop (session thread) ----

void MmsProtocol::PostHexDump(const uint8_t* data, size_t length, uint32_t code) {
  session_.Post(THelper::HexDump(data, static_cast<int32_t>(std::min<size_t>(length, 64))), code);
}

void MmsProtocol::PostFailedUnit(const uint8_t* unit, size_t length) {
  session_.Post("The current MMS packet failed - Closing now", mcMedia);
  PostHexDump(unit, length, mcFatal);
}

void MmsProtocol::Ended() {
  ended_ = true;
}

void MmsProtocol::EndOfStream(uint32_t code) {
  if (deferred_end_ != 0) return;  // the first end counts
  session_.MarkEndPosted();
  // Only the very end waits for stragglers: after a change of track the datagrams that follow
  // belong to the next entry, and none of them may reach this file.
  if ((session_.ProtocolFlags & pfMmsUdp) && code == mcCompleted) {
    deferred_end_ = code;
    deferred_since_ = std::chrono::steady_clock::now();
    EndIfUdpTailDone();
    return;
  }
  PostEnd(code);
}

void MmsProtocol::PostEnd(uint32_t code) {
  // What is gathered must be in the file before anything is called complete; a failed write ends
  // the download as a failure (posted by the flush).
  if (!session_.FlushSaveFile()) {
    Ended();
    return;
  }
  if (code == mcCompleted && written_.Empty() && !session_.Resuming()) {
    // A stream that ends with nothing saved is no recording (every datagram lost, say).
    session_.Post(kNothingReceived, mcFatal);
  } else {
    session_.Post("", code);
  }
  Ended();
}

void MmsProtocol::EndIfUdpTailDone() {
  if (ended_ || session_.Ring().Available() != 0) return;
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
  if (tracker_.AnyPending() && now - deferred_since_ < kUdpTailLimit) return;
  ReportUnnoticedLosses();
  PostEnd(deferred_end_);
}

bool MmsProtocol::RequestMissingTail() {
  if (!have_datagram_base_ || written_.Empty()) return false;
  const TASF& asf = *session_.Asf;
  if (!HeaderCountIsTheStreams()) return false;
  if ((asf.FileFlags & ffBroadcast) || asf.DataPacketsCount == 0 ||
      asf.DataPacketsCount > UINT32_MAX)
    return false;
  // Packet sequences are the clip's own numbers; datagram n carried sequence datagram_base_ + n.
  const auto lastSequence = static_cast<uint32_t>(asf.DataPacketsCount - 1);
  const int64_t highestSequence =
      written_.Highest() -
      (session_.Resuming() ? session_.Packets().IndexShift() : -int64_t{first_sequence_});
  if (lastSequence < datagram_base_ || highestSequence < datagram_base_) return false;
  const std::vector<uint32_t> requests =
      tracker_.RequestRange(static_cast<uint32_t>(highestSequence - datagram_base_ + 1),
                            lastSequence - datagram_base_ + 1);
  for (uint32_t sequence : requests) SendResendRequest(sequence);
  if (requests.empty()) return false;
  session_.ResendsPending();
  return true;
}

bool MmsProtocol::HeaderCountIsTheStreams() const {
  // With streams left out the server packs the chosen ones into fewer packets than the header
  // counts: the count is only an upper bound then, and the packets behind the last one that came
  // were never sent.
  return session_.LeftOutStreams.empty();
}

int64_t MmsProtocol::PromisedEnd() const {
  // A whole recorded file tells how many packets it has; a live one does not.
  const TASF& asf = *session_.Asf;
  if (!HeaderCountIsTheStreams() || (asf.FileFlags & ffBroadcast) || asf.DataPacketsCount == 0 ||
      asf.DataPacketsCount >= static_cast<uint64_t>(INT64_MAX))
    return -1;
  const auto count = static_cast<int64_t>(asf.DataPacketsCount);
  return session_.Resuming() ? count + session_.Packets().IndexShift() : count - first_sequence_;
}

bool MmsProtocol::AllPromisedPacketsIn() const {
  const int64_t end = PromisedEnd();
  // The scan of the ledger last: while resends are pending it would run at every wake.
  return end > 0 && !written_.Empty() && written_.Highest() + 1 == end &&
         !tracker_.AnyPending() && written_.MissingIn(written_.First(), end) == 0;
}

void MmsProtocol::ReportUnnoticedLosses() {
  if (written_.Empty()) return;
  const int64_t end = std::max(written_.Highest() + 1, PromisedEnd());
  const uint64_t missing = written_.MissingIn(written_.First(), end);
  const uint64_t reported = tracker_.LostPackets();
  if (missing <= reported) return;
  const auto unnoticed = static_cast<uint32_t>(std::min<uint64_t>(missing - reported, UINT32_MAX));
  tracker_.AddLost(unnoticed);
  session_.LostPackets = tracker_.LostPackets();
  session_.Post("Warning, packets that never arrived are missing from the file: " +
                    THelper::IntText(unnoticed),
                mcWarning);
}

bool MmsProtocol::WaitForUnitBytes(int32_t count) {
  TCB& ring = session_.Ring();
  if (ring.Available() < count && !session_.FlushSaveFile()) return false;
  for (;;) {
    const uint64_t mark = session_.WakeMark();
    if (ring.Available() >= count) return true;
    if (deferred_end_ != 0) EndIfUdpTailDone();
    if (framing_failed_.load() && ring.Available() == 0) {
      // The framer has stopped, so its record of the failed unit no longer changes.
      PostFailedUnit(framer_.FailedUnit().data(), framer_.FailedUnit().size());
      session_.Terminate();
      return false;
    }
    if (session_.Terminated() || !session_.Watch(count)) return false;
    if (session_.WaitForRing(count, mark, TailDeadline())) return true;
  }
}

TCB::Deadline MmsProtocol::TailDeadline() const {
  if (deferred_end_ == 0 || ended_) return TCB::Deadline::max();
  // The quiet spell first; after it only the last resends (whose arrival or abandonment wakes
  // the loop) or the limit on them can end the wait.
  const TCB::Deadline quiet = last_unit_ + kUdpTailQuiet;
  if (quiet > std::chrono::steady_clock::now()) return quiet;
  return deferred_since_ + kUdpTailLimit;
}

void MmsProtocol::RunReceiveLoop() {
  // Sized here, not at construction: only a running MMS session reads units into it, and a
  // session made for HTTP, or never started, would otherwise fill a megabyte for nothing.
  if (buffer_.size() < kPacketBufferSize) buffer_.resize(kPacketBufferSize);
  // Handing data to the disk can wait for it; over UDP the loop must keep taking datagrams, or
  // the socket overflows and they are lost.
  if (session_.SaveFile) session_.SaveFile->HandToDisk(!(session_.ProtocolFlags & pfMmsUdp));
  uint8_t* buffer = buffer_.data();
  TCB& ring = session_.Ring();
  // Every unit in the ring is whole and its length fields were checked when it was written, so
  // once its first bytes are there the rest is too; the waits below still look at the stop
  // request.
  while (!session_.Terminated()) {
    if (!WaitForUnitBytes(8)) return;
    last_unit_ = std::chrono::steady_clock::now();
    int32_t count = 8;
    ring.Read(buffer, count);
    const uint32_t sequence = LoadU32(buffer);
    const uint8_t tag = buffer[4];
    const uint8_t flags = buffer[5];
    const uint32_t length = static_cast<uint32_t>(buffer[6] | (buffer[7] << 8));

    if (mms::IsCommandUnit(buffer)) {
      if (!session_.WaitForBytes(40)) return;
      count = 40;
      ring.Read(buffer + 8, count);
      const uint64_t total = uint64_t{LoadU32(buffer + 8)} + 16;
      if (total < mms::kMinimumCommandLength || total > kLargestUnit) {
        PostFailedUnit(buffer, 48);
        session_.Terminate();
        return;
      }
      const mms::ReplyView head(buffer, 48);
      if (head.Failed() && head.CommandId() != mms::kReplyPing) {
        session_.Stop();
        session_.Post(
            "Server Error Message : " + session_.ErrorCodes().GetErrorText(head.ResultCode()),
            mcFatal);
        return;
      }
      server_incarnation_ = head.SecondWord();
      const int32_t rest = static_cast<int32_t>(total - 48);
      if (rest > 0) {
        if (!session_.WaitForBytes(rest)) return;
        count = rest;
        ring.Read(buffer + 48, count);
      }
      if (HandleCommand(static_cast<uint32_t>(total)) == Next::Leave) return;
      continue;
    }

    if (length < mms::kDataPacketHeaderLength) {  // the framer lets none of these through
      PostFailedUnit(buffer, 8);
      session_.Terminate();
      return;
    }
    const uint32_t payload = length - 8;
    const bool timing = tag == kTagTimingOrHeader && flags == kTimingFlags;
    if (tag == kTagHeader || (tag == kTagTimingOrHeader && !timing)) {
      if (payload > 0) {
        if (!session_.WaitForBytes(static_cast<int32_t>(payload))) return;
        count = static_cast<int32_t>(payload);
        ring.Read(buffer, count);
      }
      if (!header_expected_) {
        // Whatever media follows belongs to another header than the one the file holds; say so
        // once, or the file silently stops growing.
        if (!next_entry_seen_ && !ended_ && deferred_end_ == 0) {
          session_.Post(
              "Warning, a stream header arrived unasked: media after it is not saved into this "
              "file",
              mcWarning);
        }
        next_entry_seen_ = true;
      } else if (!ended_ && deferred_end_ == 0) {
        HandleHeaderPiece(payload, flags);
      }
    } else if (tag == kTagMedia) {
      // The loss check comes first: it must see the datagram before anything else happens.
      const bool udp = (session_.ProtocolFlags & pfMmsUdp) != 0;
      const bool ours = !ended_ && !next_entry_seen_ && (!udp || PlausibleDatagramNumber(sequence));
      if (ours && udp) UdpLossCheck(flags);
      if (payload > 0) {
        if (!session_.WaitForBytes(static_cast<int32_t>(payload))) return;
        count = static_cast<int32_t>(payload);
        ring.Read(buffer, count);
      }
      if (ours) {
        HandleMediaPacket(sequence, payload, flags);
      } else if (track_changed_ && session_.NextEntry) {
        session_.NextEntry->Keep(sequence, buffer, payload);
      }
    } else if (timing) {
      if (payload > 0) {
        if (!session_.WaitForBytes(static_cast<int32_t>(payload))) return;
        count = static_cast<int32_t>(payload);
        ring.Read(buffer, count);
      }
      if (++timing_packets_ == 2)
        session_.Post("- UDP timing packet pairs were received", mcNormal);
    } else {
      PostFailedUnit(buffer, 8);
      session_.Terminate();
      return;
    }
  }
}

MmsProtocol::Next MmsProtocol::HandleCommand(uint32_t total) {
  const mms::ReplyView reply(buffer_.data(), total);
  const uint8_t id = reply.CommandId();
  // After the end, pings are still answered so the server does not drop us before we stop.
  if (ended_ && id != mms::kReplyPing) return Next::Continue;
  switch (id) {
    case mms::kReplyConnected:
      HandleConnected(total);
      break;
    case mms::kReplyTransportAccepted:
      SendOpenFile();
      break;
    case mms::kReplyTransportRefused:
      session_.Post("Error: 02 protocol select failure", mcFatal);
      break;
    case mms::kReplyStartedPlaying:
      session_.Post("", mcStarted);
      break;
    case mms::kReplyFileOpened:
      HandleFileOpened(total);
      break;
    case mms::kReplyHeaderNotification:
      session_.Post("- Header notification received...", mcNormal);
      break;
    case mms::kReplyFunnelInfo:
      HandleFunnelInfo(total);
      break;
    case mms::kReplyPasswordRequired:
      HandlePasswordRequired(total);
      break;
    case mms::kReplyPing:
      SendPong();
      break;
    case mms::kReplyEndOfStream:
      // Result 1: this play-list entry is over and a stream change follows; the change is what
      // the window acts on.
      if (reply.ResultCode() != 1) EndOfStream(mcCompleted);
      break;
    case mms::kReplyStreamChange:
      if (JoinedBeforeTheChange()) {
        // The entry this session is for begins now: its header replaces the one in the file.
        session_.Header().Clear();
        header_expected_ = true;
        replacing_header_ = true;
        next_entry_seen_ = false;
        break;
      }
      if (session_.NextEntry && !written_.Empty())
        session_.NextEntry->SetPreviousLast(highest_sequence_);
      track_changed_ = true;
      EndOfStream(mcNewTrack);
      break;
    case mms::kReplyStreamSelectionAccepted:
      HandleStreamSelectionAccepted();
      break;
    default:
      session_.Post("The current MMS command was unhandled", mcMedia);
      PostHexDump(buffer_.data(), total, mcFatal);
      session_.Terminate();
      break;
  }
  return Next::Continue;
}

void MmsProtocol::HandleConnected(uint32_t total) {
  const mms::ReplyView reply(buffer_.data(), total);
  session_.SetServerTexts({});
  if (mms::ServerRunsNoTimingTests(reply)) {
    session_.Post("Server does not support timing packets", mcWarning);
    timing_state_ = 0;
  } else {
    timing_state_ = 3;
  }
  const mms::ServerTexts texts = mms::ReadServerTexts(reply);
  session_.SetServerTexts(
      {texts.ServerVersion, texts.ToolVersion, texts.UpdateUrl, texts.EncryptionType});
  SendTimingRequest();
}

void MmsProtocol::HandleFileOpened(uint32_t total) {
  const mms::OpenFileFields fields = mms::ReadOpenFile(mms::ReplyView(buffer_.data(), total));
  session_.StreamKind = fields.Live() ? skLive : skPrerecorded;
  if (fields.packetSize < kMinPacketSize || fields.packetSize > kMaxPacketSize) {
    session_.Post("TMMS: invalid packet size from server", mcFatal);
    session_.Terminate();
    return;
  }
  if (credentials_sent_ && CredentialsAccepted) {
    credentials_sent_ = false;
    WindowThread* window = WindowThread::Current();
    if (window == nullptr || window->IsWindowThread()) {
      CredentialsAccepted();
    } else {
      window->Queue(CredentialsAccepted);
    }
  }
  session_.PacketSize = fields.packetSize;
  session_.MaxStreamRate = fields.maxStreamRate;
  session_.HeaderLength = fields.headerLength;
  if (fields.Live() && session_.Resuming()) {
    session_.Post("Error: - A live stream was detected !", mcWarning);
    session_.Post("You cannot resume live streams, please select overwrite", mcFatal);
    return;
  }
  session_.Post("- Requesting ASF header...waiting", mcNormal);
  SendHeaderRequest();
}

void MmsProtocol::HandleFunnelInfo(uint32_t total) {
  const mms::ReplyView reply(buffer_.data(), total);
  uint8_t id[4];
  mms::ReadClientId(reply, id);
  session_.ClientId = LoadU32(id);
  ++timing_replies_;
  if (timing_state_ == 1) {
    // A server that cannot run the test says so in its one funnel reply instead of sending three.
    const bool declined = reply.SecondWord() == mms::kNoTimingTestsAlt;
    if (timing_replies_ < 3 && !declined) return;
    timing_replies_ = 0;
    if (!declined) session_.Post("TCP network timing packets received", mcNormal);
  }
  SendTransportSelect();
}

void MmsProtocol::HandlePasswordRequired(uint32_t total) {
  session_.ChallengeText += mms::ReadChallenge(mms::ReplyView(buffer_.data(), total));
  const std::optional<std::string> credentials = WaitForCredentials(session_.ChallengeText);
  if (!credentials) {
    if (!session_.Terminated()) session_.Post("Session aborted, connection now closing", mcFatal);
    return;
  }
  session_.Credentials = *credentials;
  credentials_sent_ = true;
  session_.RestartStageClock();
  SendPasswordResponse(session_.Credentials);
  file_number_.fetch_add(1);
}

std::optional<std::string> MmsProtocol::WaitForCredentials(const std::string& challenge) {
  if (!AskCredentials) return std::nullopt;
  // A stop while the user is still looking at the dialog wakes the wait (WakeWaits).
  std::optional<std::string> answer;
  credentials_answer_.Ask([prompt = AskCredentials, host = session_.Host,
                           challenge] { return prompt(host, challenge); },
                          [this] { return session_.Terminated(); }, answer);
  return answer;
}

void MmsProtocol::WakeWaits() { credentials_answer_.Wake(); }

void MmsProtocol::HandleStreamSelectionAccepted() {
  if (!session_.Resuming()) {
    SendStartPlay(session_.OffsetMs);
    return;
  }
  uint32_t start = 0;
  if (session_.BeginResume(start)) SendStartPlay(start);
}

void MmsProtocol::HandleHeaderPiece(uint32_t length, uint8_t flags) {
  HeaderCollector& header = session_.Header();
  const auto step =
      header.Append(buffer_.data(), length, flags, session_.SaveFile.get(), session_.Resuming());
  if (step != HeaderCollector::Step::More) header_expected_ = false;
  switch (step) {
    case HeaderCollector::Step::More:
      return;
    case HeaderCollector::Step::TooLarge:
      header.Clear();
      session_.Post("- Header extraction failed, cannot continue", mcFatal);
      return;
    case HeaderCollector::Step::WriteFailed:
      session_.HeaderLength = static_cast<uint32_t>(header.Length());
      header.Clear();
      session_.Post("Could not access local file to write header", mcFatal);
      return;
    case HeaderCollector::Step::Complete:
      break;
  }
  session_.HeaderLength = static_cast<uint32_t>(header.Length());
  session_.Post(session_.Resuming() ? "- Header received but not saved, resuming session"
                                    : "- Header received and saving",
                mcNormal);
  session_.Post("- Extracting header object data...", mcNormal);
  if (!session_.Asf->ParseHeader(header.Bytes(), header.Length())) {
    session_.Post("- Header extraction failed, cannot continue", mcFatal);
    return;
  }
  if (!session_.ChooseStreams(header.Bytes(), header.Length())) return;
  if (!replacing_header_) session_.Packets().KeepHeader(header.Bytes(), header.Length());
  header.Clear();
  session_.MarkHeaderComplete();
  session_.Post("- Data extracted ok, waiting for streams...", mcNormal);
  if (replacing_header_) {
    // Already playing: the next entry's packets follow without another request.
    replacing_header_ = false;
    if (session_.Asf->PacketSize >= kMinPacketSize && session_.Asf->PacketSize <= kMaxPacketSize)
      session_.PacketSize = session_.Asf->PacketSize;
    session_.Packets().SetLayout(session_.HeaderLength, session_.PacketSize);
    return;
  }
  session_.Packets().SetLayout(session_.HeaderLength, session_.PacketSize);
  SendStreamSelection();
}

bool MmsProtocol::PlausibleDatagramNumber(uint32_t sequence) {
  const TASF& asf = *session_.Asf;
  const auto now = std::chrono::steady_clock::now();
  bool plausible = true;
  if (session_.StreamKind != skLive && !(asf.FileFlags & ffBroadcast) && asf.DataPacketsCount > 0) {
    plausible = sequence < asf.DataPacketsCount;
  } else if (have_highest_datagram_ && sequence > highest_datagram_) {
    // The window grows with the time since the last packet taken, so a stream that comes back
    // after an outage is followed again, also when the server gave no bit rate.
    const uint64_t perSecond = std::max<uint64_t>(
        uint64_t{session_.MaxStreamRate.load()} / 8 / std::max<uint32_t>(session_.PacketSize, 1),
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
      session_.Post("Warning, a packet with an invalid index was dropped: " +
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

bool MmsProtocol::JoinedBeforeTheChange() const {
  return session_.PreviousEntry && written_.Empty() && !ended_ && deferred_end_ == 0;
}

bool MmsProtocol::TakeCarriedPackets(uint32_t sequence) {
  uint32_t previous = 0;
  const bool knowPrevious = session_.PreviousEntry->PreviousLast(previous);
  if (knowPrevious && sequence <= previous) return false;
  if (carry_checked_) return true;
  carry_checked_ = true;
  std::vector<CarryOver::Packet> carried = session_.PreviousEntry->TakeBefore(
      sequence, kCarryWait, [this] { return session_.Terminated(); });
  bool any = false;
  uint32_t last = 0;
  for (CarryOver::Packet& p : carried) {
    if (p.location >= sequence) break;  // from here on this connection brings them itself
    if ((knowPrevious && p.location <= previous) || p.bytes.empty()) continue;
    WriteMediaPacket(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()), p.location, 0, false);
    any = true;
    last = p.location;
  }
  if (any && sequence > last + 1) {
    // Sent while the old connection was closing and the new one joining: nobody received them.
    const uint32_t gap = sequence - last - 1;
    tracker_.AddLost(gap);
    session_.LostPackets = tracker_.LostPackets();
    session_.Post("Warning, packets sent while reconnecting for the next entry are missing: " +
                      THelper::IntText(gap),
                  mcWarning);
  }
  return true;
}

void MmsProtocol::HandleMediaPacket(uint32_t sequence, uint32_t length, uint8_t flags) {
  if (session_.PreviousEntry && !TakeCarriedPackets(sequence)) return;
  WriteMediaPacket(buffer_.data(), length, sequence, flags, true);
}

void MmsProtocol::WriteMediaPacket(uint8_t* payload, uint32_t length, uint32_t sequence,
                                   uint8_t flags, bool own) {
  const bool udp = own && (session_.ProtocolFlags & pfMmsUdp) != 0;
  // The datagram counter starts at 0 with the stream: a first arrival counting more means the
  // datagrams before it were lost and are being asked for, and the file is numbered from the
  // first one the server sent, so that they find their place when they come.
  const uint32_t before = udp && flags < 128 && sequence >= flags ? flags : 0;
  if (!have_first_media_) {
    first_sequence_ = sequence - before;
    if (udp && sequence >= flags) {
      have_datagram_base_ = true;
      datagram_base_ = sequence - flags;
    }
  }
  uint32_t time = 0;
  uint16_t duration = 0;
  bool keyFrame = false;
  if (!session_.Asf->ParsePacket(payload, length, time, duration, 0, false, keyFrame)) {
    session_.Post("ASF timecode parse failure, continuing...", mcWarning);
    PostHexDump(payload, length, mcMedia);
  }
  if (!have_first_media_) {
    // A recorded clip played from its start needs no shift; when its first packet is late, its
    // time is not known yet, so the zero of the clip is kept.
    const bool fromStart = session_.OffsetMs == 0 && session_.StreamKind == skPrerecorded;
    first_timecode_ = before > 0 && fromStart ? 0 : time;
    have_first_media_ = true;
  }
  // A resumed download shifts times as the file's first download did, and the writer places
  // the server's numbers where the file holds the same packets.
  PacketWriter& writer = session_.Packets();
  const bool resuming = session_.Resuming();
  if (!resuming) writer.SetTimeBase(first_timecode_);
  // A packet that was resent after later ones arrived may be older than the first one seen.
  const uint32_t base = std::min(time, resuming ? writer.TimeBase() : first_timecode_);
  const int64_t index =
      resuming ? int64_t{sequence} : static_cast<int64_t>(sequence) - first_sequence_;
  const uint32_t sendTime = time - base;
  uint32_t shifted = 0;
  if (base != 0 && !session_.Asf->ParsePacket(payload, length, shifted, duration,
                                              static_cast<int32_t>(base), true, keyFrame)) {
    session_.Post("ASF timecode update failure, continuing...", mcWarning);
    PostHexDump(payload, length, mcMedia);
  }
  session_.SendTime = sendTime;
  const auto outcome =
      writer.Write(session_.SaveFile.get(), resuming, payload, length, index, sendTime,
                   [this](const std::string& text, uint32_t code) { session_.Post(text, code); });
  session_.PacketNumber = static_cast<int32_t>(writer.LastIndex());
  if (outcome == PacketWriter::Outcome::Written) {
    written_.Mark(writer.LastIndex());
    highest_sequence_ = std::max(highest_sequence_, sequence);
    session_.MarkMediaArrived();
  }
  if (outcome == PacketWriter::Outcome::Stop) Ended();
}

}  // namespace qor
