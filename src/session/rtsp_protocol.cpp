#include "session/rtsp_protocol.h"

#include <algorithm>
#include <functional>

#include "asf/asf.h"
#include "session/http_response.h"
#include "session/media_packet_path.h"
#include "session/save_file.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr auto kReportEvery = std::chrono::seconds(5);
constexpr uint8_t kBadUnit = 'X';
constexpr size_t kBadUnitShown = 64;

}  // namespace

RtspProtocol::RtspProtocol(SessionPort& port)
    : port_(port),
      target_{port.Config().Host, port.Config().ConnectPort},
      path_(port.Config().Path) {
  // Our RTCP source id: any number the server's own sources are unlikely to share.
  own_ssrc_ = static_cast<uint32_t>(std::hash<std::string>{}(port.Config().ClientGuid)) | 1u;
}

RtspProtocol::~RtspProtocol() = default;

// ---- Transport side (window thread) ----

void RtspProtocol::Connected() {
  pending_.clear();
  framing_failed_ = false;
  connections_.fetch_add(1);
  port_.Input().WakeLoop();
}

void RtspProtocol::ResponseHeader(const std::string& header) {
  // Something that speaks HTTP answered on the RTSP port (a web server, say): no stream follows.
  const std::vector<std::string> lines = SplitHeaderLines(header);
  port_.StopAll();
  port_.Post("RTSP: the server answered in HTTP, not RTSP" +
                 (lines.empty() ? std::string() : ": " + lines.front()),
             mcFatal);
}

void RtspProtocol::StoreUnit(UnitKind kind, uint16_t channelOrPort, const uint8_t* data,
                             size_t length) {
  const auto n = static_cast<uint32_t>(length);
  const uint8_t head[kUnitHead] = {static_cast<uint8_t>(kind),
                                   0,
                                   static_cast<uint8_t>(channelOrPort),
                                   static_cast<uint8_t>(channelOrPort >> 8),
                                   static_cast<uint8_t>(n),
                                   static_cast<uint8_t>(n >> 8),
                                   static_cast<uint8_t>(n >> 16),
                                   static_cast<uint8_t>(n >> 24)};
  SessionInput& input = port_.Input();
  if (input.Write(head, kUnitHead, false) && length > 0)
    input.Write(data, static_cast<int32_t>(length), false);
}

size_t RtspProtocol::FrameConnection(const uint8_t* data, size_t length) {
  size_t at = 0;
  while (at < length) {
    const RtspUnit unit = FrameRtspUnit(data + at, length - at);
    switch (unit.kind) {
      case RtspUnitKind::kNeedMore:
        if (unit.consumed == 0) return at;
        break;  // blank lines between messages
      case RtspUnitKind::kMessage:
        StoreUnit(kMessageUnit, 0, data + at, unit.consumed);
        break;
      case RtspUnitKind::kInterleaved:
        StoreUnit(kFrameUnit, unit.channel, data + at + 4, unit.consumed - 4);
        break;
      case RtspUnitKind::kBad:
        // Everything framed before it is still taken; the loop reports this when it gets here.
        framing_failed_ = true;
        StoreUnit(static_cast<UnitKind>(kBadUnit), 0, data + at,
                  std::min(length - at, kBadUnitShown));
        port_.Input().WakeLoop();
        return length;
    }
    at += unit.consumed;
  }
  return at;
}

void RtspProtocol::TcpData(const uint8_t* data, int32_t length) {
  size_t left = length > 0 ? static_cast<size_t>(length) : 0;
  while (left > 0 && !framing_failed_) {
    if (pending_.empty()) {
      // The usual case: the units are framed where the block lies, and only a unit cut by the
      // block's end waits for the next one.
      const size_t used = FrameConnection(data, left);
      if (!framing_failed_) pending_.assign(data + used, data + left);
      return;
    }
    // A "$" frame that waits takes only its own bytes from the block; anything else takes all.
    size_t take = left;
    if (pending_.front() == '$') {
      const size_t whole = pending_.size() < 4 ? 4 : 4 + ((size_t{pending_[2]} << 8) | pending_[3]);
      take = std::min(left, whole - pending_.size());
    }
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    left -= take;
    const size_t done = FrameConnection(pending_.data(), pending_.size());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  }
}

void RtspProtocol::UdpDatagram(const uint8_t* data, int32_t length, UdpOrigin origin) {
  if (length <= 0) return;
  StoreUnit(origin.control ? kRtcpUnit : kRtpUnit, origin.port, data, static_cast<size_t>(length));
}

bool RtspProtocol::FromServerPort(bool control, uint16_t port) const {
  // Once the server has named its ports, only they may send media or reports; before that no
  // media is due.
  const int32_t expected = control ? server_rtcp_port_ : server_rtp_port_;
  return expected == 0 || port == expected;
}

void RtspProtocol::WakeWaits() {
  sign_in_.Wake();
}

void RtspProtocol::Stopping() {
  SendTeardown(true);
}

// ---- The loop (session thread) ----

void RtspProtocol::Enter(State next) {
  state_.store(next);
}

bool RtspProtocol::Ended() const {
  const State state = state_.load();
  return state == State::kEnded || state == State::kTrackChanged;
}

void RtspProtocol::Run() {
  if (TSaveFile* file = port_.Media().File()) file->HandToDisk(!MediaOverUdp());
  while (!port_.Terminated()) {
    if (!WaitForUnit()) return;
    if (Ended()) {
      IdleUntilStopped();
      return;
    }
    if (!TakeUnit()) return;
  }
}

bool RtspProtocol::WaitForUnit() {
  SessionInput& input = port_.Input();
  TCB& ring = input.Ring();
  if (ring.Available() < kUnitHead && !port_.Media().Flush()) return false;
  for (;;) {
    const uint64_t mark = input.WakeMark();
    const uint32_t connections = connections_.load();
    if (connections != connections_seen_) {
      // A new connection (the first, or one a redirection asked for) opens with OPTIONS.
      connections_seen_ = connections;
      SendOptions();
    }
    if (ring.Available() >= kUnitHead) return true;
    if (MediaOverUdp()) {
      // The resend tick may have given up gaps that held packets back, and held packets of a
      // live stream may have waited long enough.
      receiver_.Release(packets_);
      if (!WritePackets(packets_)) return false;
    }
    if (state_.load() == State::kTail) EndIfTailDone();
    if (Ended()) return true;
    DoTimedWork();
    if (port_.Terminated()) return false;
    if (!input.Watch(kUnitHead)) {
      // The stream is cut: what was held back still belongs in the file.
      WriteHeld(Clock::time_point::max());
      return false;
    }
    const Clock::time_point until = std::min({NextTimedWork(), TailDeadline(), HeldDeadline()});
    if (input.WaitForRing(kUnitHead, mark, until)) return true;
  }
}

bool RtspProtocol::TakeUnit() {
  SessionInput& input = port_.Input();
  uint8_t head[kUnitHead];
  int32_t count = kUnitHead;
  input.Ring().Read(head, count);
  const auto channelOrPort = static_cast<uint16_t>(head[2] | (head[3] << 8));
  const uint32_t length = uint32_t{head[4]} | (uint32_t{head[5]} << 8) | (uint32_t{head[6]} << 16) |
                          (uint32_t{head[7]} << 24);
  if (buffer_.size() < length) buffer_.resize(length);
  if (length > 0) {
    if (!input.WaitForBytes(static_cast<int32_t>(length))) return false;
    count = static_cast<int32_t>(length);
    input.Ring().Read(buffer_.data(), count);
  }
  switch (head[0]) {
    case kMessageUnit:
      return TakeMessage(buffer_.data(), length);
    case kFrameUnit: {
      // Media and reports come on the channels SETUP gave; anything else is not ours.
      const auto channel = static_cast<uint8_t>(channelOrPort);
      const bool ours = std::any_of(setups_.begin(), setups_.end(), [&](const SetUpStream& s) {
        return s.channel == (channel & 0xFE);
      });
      if (!ours) return true;
      if ((channel & 1) == 0) return TakeRtp(buffer_.data(), length);
      TakeRtcp(buffer_.data(), length);
      return true;
    }
    case kRtpUnit:
      return !FromServerPort(false, channelOrPort) || TakeRtp(buffer_.data(), length);
    case kRtcpUnit:
      if (FromServerPort(true, channelOrPort)) TakeRtcp(buffer_.data(), length);
      return true;
    default:
      if (Ended()) return false;
      port_.Post("The current RTSP message failed - Closing now", mcMedia);
      port_.Post(THelper::HexDump(buffer_.data(), static_cast<int32_t>(length)), mcFatal);
      port_.Terminate();
      return false;
  }
}

void RtspProtocol::DoTimedWork() {
  const State state = state_.load();
  if (state == State::kOptions || state == State::kDescribe || state == State::kEnded) return;
  const Clock::time_point now = Clock::now();
  if (now - last_request_at_ >= std::chrono::milliseconds(keep_alive_ms_)) SendKeepAlive();
  if (MediaOverUdp() && (state == State::kStreaming || state == State::kTail) &&
      now >= next_report_at_) {
    SendReceiverReport();
    next_report_at_ = now + kReportEvery;
  }
}

RtspProtocol::Clock::time_point RtspProtocol::NextTimedWork() const {
  const State state = state_.load();
  if (state == State::kOptions || state == State::kDescribe || state == State::kEnded)
    return Clock::time_point::max();
  Clock::time_point next = last_request_at_ + std::chrono::milliseconds(keep_alive_ms_);
  if (MediaOverUdp() && (state == State::kStreaming || state == State::kTail))
    next = std::min(next, next_report_at_);
  return next;
}

void RtspProtocol::IdleUntilStopped() {
  SessionInput& input = port_.Input();
  TCB& ring = input.Ring();
  while (!port_.Terminated()) {
    const uint64_t mark = input.WakeMark();  // the stop request wakes the wait
    if (port_.Terminated()) return;
    if (ring.Available() < kUnitHead) {
      ring.WaitForAvailable(kUnitHead, TCB::Deadline::max(), mark);
      continue;
    }
    // The server's requests are still answered, and after a change the next entry's packets
    // are still kept; a unit that cannot be read ends nothing now.
    if (!TakeUnit()) return;
  }
}

}  // namespace qor
