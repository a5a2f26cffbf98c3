#include "session/mms_protocol.h"

#include <algorithm>

#include "asf/asf.h"
#include "session/http_response.h"
#include "session/media_packet_path.h"
#include "session/mms_reply.h"
#include "session/save_file.h"
#include "session/session_input.h"
#include "session/session_port.h"
#include "session/udp_datagram.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr size_t kPacketBufferSize = 1000000;
constexpr uint8_t kTagHeader = 0x02;
constexpr uint8_t kTagMedia = 0x04;
constexpr uint8_t kTagTimingOrHeader = 0xFF;
constexpr uint8_t kTimingFlags = 0x10;

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The ring keeps one byte free, so this is the largest unit it can ever hold.
size_t LargestUnit(SessionPort& port) {
  return static_cast<size_t>(std::max(port.Input().Ring().Size() - 1, 0));
}

}  // namespace

MmsProtocol::MmsProtocol(SessionPort& port) : port_(port), framer_(LargestUnit(port)) {}

MmsProtocol::~MmsProtocol() = default;

bool MmsProtocol::MediaOverUdp() const {
  return port_.Config().MediaOverUdp();
}

// ---- Transport side (window thread) ----

void MmsProtocol::Connected() {
  const SessionConfig& config = port_.Config();
  constexpr int32_t kStandardMmsPort = 1755;
  Send(mms::BuildConnect(command_sequence_, config.ClientGuid,
                         port_.Counters().ProxyInUse.load() != 0,
                         config.HostText(config.ConnectPort, kStandardMmsPort)));
}

void MmsProtocol::ResponseHeader(const std::string& header) {
  // Something that speaks HTTP answered on the MMS port (a web server, say): no stream follows.
  std::string contentType;
  for (const std::string& line : SplitHeaderLines(header)) {
    const std::string lower = THelper::LowerCase(line);
    if (lower.find("content-type:") != std::string::npos) contentType = lower;
  }
  port_.StopAll();
  port_.Post("HTTP: Unknnown content type: " + contentType, mcFatal);
}

void MmsProtocol::TcpData(const uint8_t* data, int32_t length) {
  if (length <= 0 || framer_.Stopped()) return;
  SessionInput& input = port_.Input();
  const auto status =
      framer_.Feed(data, static_cast<size_t>(length), [&input](const uint8_t* unit, size_t size) {
        // Commands (pings, say) keep coming from a server whose stream has stopped.
        if (!mms::IsCommandUnit(unit)) input.NoteProgress();
        return input.Write(unit, static_cast<int32_t>(size), false);
      });
  if (status == mms::MmsUnitFramer::Status::Malformed) {
    framing_failed_.store(true);
    input.WakeLoop();
  }
}

void MmsProtocol::UdpDatagram(const uint8_t* data, int32_t length, UdpOrigin) {
  if (length <= 0) return;
  // Trailing bytes are not part of the packet; only the packet goes into the input.
  const size_t accepted = mms::AcceptedDatagramLength(data, static_cast<size_t>(length));
  if (accepted == 0) return;
  port_.Input().NoteProgress();
  port_.Input().Write(data, static_cast<int32_t>(accepted), false);
}

// ---- The loop (session thread) ----

void MmsProtocol::Enter(State next) {
  state_.store(next);
}

bool MmsProtocol::Ended() const {
  const State state = state_.load();
  return state == State::kEnded || state == State::kTrackChanged;
}

void MmsProtocol::PostHexDump(const uint8_t* data, size_t length, uint32_t code) {
  port_.Post(THelper::HexDump(data, static_cast<int32_t>(std::min<size_t>(length, 64))), code);
}

void MmsProtocol::PostFailedUnit(const uint8_t* unit, size_t length) {
  port_.Post("The current MMS packet failed - Closing now", mcMedia);
  PostHexDump(unit, length, mcFatal);
}

bool MmsProtocol::WaitForUnitBytes(int32_t count) {
  SessionInput& input = port_.Input();
  TCB& ring = input.Ring();
  if (ring.Available() < count && !port_.Media().Flush()) return false;
  for (;;) {
    const uint64_t mark = input.WakeMark();
    if (ring.Available() >= count) return true;
    if (state_.load() == State::kTail) EndIfUdpTailDone();
    if (framing_failed_.load() && ring.Available() == 0) {
      // The framer has stopped, so its record of the failed unit no longer changes.
      PostFailedUnit(framer_.FailedUnit().data(), framer_.FailedUnit().size());
      port_.Terminate();
      return false;
    }
    if (port_.Terminated() || !input.Watch(count)) return false;
    if (input.WaitForRing(count, mark, TailDeadline())) return true;
  }
}

bool MmsProtocol::ReadUnitBytes(size_t offset, uint32_t count) {
  if (count == 0) return true;
  if (!port_.Input().WaitForBytes(static_cast<int32_t>(count))) return false;
  int32_t read = static_cast<int32_t>(count);
  port_.Input().Ring().Read(buffer_.data() + offset, read);
  return true;
}

void MmsProtocol::Run() {
  // Sized here, not at construction: only a running session reads units into it.
  if (buffer_.size() < kPacketBufferSize) buffer_.resize(kPacketBufferSize);
  // Handing data to the disk can wait for it; over UDP the loop must keep taking datagrams, or
  // the socket overflows and they are lost.
  if (TSaveFile* file = port_.Media().File()) file->HandToDisk(!MediaOverUdp());
  port_.Media().KeepWrittenSlots(MediaOverUdp());
  TCB& ring = port_.Input().Ring();
  // Every unit in the ring is whole and its length fields were checked when it was written, so
  // once its first bytes are there the rest is too; the waits below still look at the stop
  // request.
  while (!port_.Terminated()) {
    if (!WaitForUnitBytes(8)) return;
    last_unit_ = std::chrono::steady_clock::now();
    int32_t count = 8;
    ring.Read(buffer_.data(), count);
    const uint8_t* head = buffer_.data();
    const bool more = mms::IsCommandUnit(head)
                          ? TakeCommand()
                          : TakeDataUnit(LoadU32(head), head[4], head[5],
                                         static_cast<uint32_t>(head[6] | (head[7] << 8)));
    if (!more) return;
  }
}

bool MmsProtocol::TakeCommand() {
  uint8_t* buffer = buffer_.data();
  if (!ReadUnitBytes(8, 40)) return false;
  const uint64_t total = uint64_t{LoadU32(buffer + 8)} + 16;
  if (total < mms::kMinimumCommandLength || total > LargestUnit(port_)) {
    PostFailedUnit(buffer, 48);
    port_.Terminate();
    return false;
  }
  const mms::ReplyView head(buffer, 48);
  if (head.Failed() && head.CommandId() != mms::kReplyPing) {
    port_.StopAll();
    port_.Post("Server Error Message : " + error_codes_.GetErrorText(head.ResultCode()), mcFatal);
    return false;
  }
  server_incarnation_ = head.SecondWord();
  if (!ReadUnitBytes(48, static_cast<uint32_t>(total - 48))) return false;
  HandleCommand(static_cast<uint32_t>(total));
  return true;
}

bool MmsProtocol::TakeDataUnit(uint32_t sequence, uint8_t tag, uint8_t flags, uint32_t length) {
  if (length < mms::kDataPacketHeaderLength) {  // the framer lets none of these through
    PostFailedUnit(buffer_.data(), 8);
    port_.Terminate();
    return false;
  }
  const uint32_t payload = length - 8;
  const bool timing = tag == kTagTimingOrHeader && flags == kTimingFlags;
  if (tag == kTagHeader || (tag == kTagTimingOrHeader && !timing)) {
    if (!ReadUnitBytes(0, payload)) return false;
    TakeHeaderPiece(payload, flags);
  } else if (tag == kTagMedia) {
    // The loss check comes first: it must see the datagram before anything else happens.
    const State state = state_.load();
    const bool own = state != State::kForeignHeader && !Ended() &&
                     (!MediaOverUdp() || PlausibleDatagramNumber(sequence));
    if (own && MediaOverUdp()) UdpLossCheck(flags);
    if (!ReadUnitBytes(0, payload)) return false;
    if (own) {
      TakeMediaPacket(sequence, payload, flags);
    } else if (state == State::kTrackChanged) {
      port_.Media().KeepForNextEntry(sequence, buffer_.data(), payload);
    }
  } else if (timing) {
    if (!ReadUnitBytes(0, payload)) return false;
    if (++timing_packets_ == 2) port_.Post("- UDP timing packet pairs were received", mcNormal);
  } else {
    PostFailedUnit(buffer_.data(), 8);
    port_.Terminate();
    return false;
  }
  return true;
}

// ---- The header ----

void MmsProtocol::TakeHeaderPiece(uint32_t length, uint8_t flags) {
  switch (state_.load()) {
    case State::kHeader:
    case State::kHeaderAgain:
      break;
    case State::kHandshake:
    case State::kStreaming:
      // Whatever media follows belongs to another header than the one the file holds; say so
      // once, or the file silently stops growing.
      port_.Post(
          "Warning, a stream header arrived unasked: media after it is not saved into this file",
          mcWarning);
      Enter(State::kForeignHeader);
      return;
    case State::kTail:
      // Nothing after it belongs to this file: the datagrams still awaited cannot come now.
      ReportUnnoticedLosses();
      PostEnd(tail_code_);
      return;
    default:
      return;
  }
  MediaPacketPath& media = port_.Media();
  switch (media.CollectHeader(buffer_.data(), length, flags)) {
    case HeaderCollector::Step::More:
      return;
    case HeaderCollector::Step::Complete:
      HeaderComplete();
      return;
    default:  // posted (8)
      Enter(State::kEnded);
      return;
  }
}

void MmsProtocol::HeaderComplete() {
  MediaPacketPath& media = port_.Media();
  if (!media.ReadHeader()) {
    Enter(State::kEnded);
    return;
  }
  SessionCounters& counters = port_.Counters();
  port_.Input().MarkHeaderComplete();
  if (state_.load() == State::kHeaderAgain) {
    // Already playing: the next entry's packets follow without another request.
    media.AdoptHeader();
    port_.Post("- Data extracted ok, waiting for streams...", mcNormal);
    Enter(State::kStreaming);
    return;
  }
  media.KeepHeader(counters.PacketSize.load());
  port_.Post("- Data extracted ok, waiting for streams...", mcNormal);
  Enter(State::kStreaming);
  SendStreamSelection();
}

// ---- Media ----

void MmsProtocol::TakeMediaPacket(uint32_t sequence, uint32_t length, uint8_t flags) {
  MediaPacketPath& media = port_.Media();
  if (media.StartedByChange()) {
    uint32_t lost = 0;
    const bool own = media.TakeCarried(sequence, lost);
    if (lost > 0) {
      tracker_.AddLost(lost);
      port_.Counters().LostPackets = tracker_.LostPackets();
    }
    if (!own) return;
  }
  WriteMediaPacket(sequence, length, flags);
}

void MmsProtocol::WriteMediaPacket(uint32_t sequence, uint32_t length, uint8_t flags) {
  MediaPacketPath& media = port_.Media();
  const bool udp = MediaOverUdp();
  // The datagram counter starts at 0 with the stream: a first arrival counting more means the
  // datagrams before it were lost and are being asked for.
  const uint32_t lateBy = udp && flags < 128 && sequence >= flags ? flags : 0;
  if (!media.HasFirstPacket() && udp && sequence >= flags) {
    have_datagram_base_ = true;
    datagram_base_ = sequence - flags;
  }
  if (media.Write(buffer_.data(), length, sequence, lateBy) == MediaPacketPath::Outcome::Stop)
    Enter(State::kEnded);
}

}  // namespace qor
