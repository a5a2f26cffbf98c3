#include "session/http_protocol.h"

#include "asf/asf.h"
#include "session/http_requests.h"
#include "session/media_packet_path.h"
#include "session/save_file.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr int32_t kStandardHttpPort = 80;

}  // namespace

HttpProtocol::HttpProtocol(SessionPort& port)
    : port_(port), target_{port.Config().Host, port.Config().HttpPort}, path_(port.Config().Path) {}

void HttpProtocol::HandTurn(Turn turn) {
  turn_.store(turn, std::memory_order_release);
  port_.Input().WakeLoop();
}

void HttpProtocol::Enter(State next) {
  state_.store(next);
}

// ---- Requests (window thread) ----

bool HttpProtocol::Send(const std::string& request) {
  return port_.SendTcp(request.data(), static_cast<int32_t>(request.size())) ==
         static_cast<int32_t>(request.size());
}

std::string HttpProtocol::HostText() const {
  if (target_.port <= 0 || target_.port == kStandardHttpPort) return target_.host;
  return target_.host + ":" + std::to_string(target_.port);
}

void HttpProtocol::ConnectAgain() {
  port_.Connect(target_);
}

void HttpProtocol::Connected() {
  switch (port_.Counters().StreamKind.load()) {
    case skUnknown:
      SendDescribeRequest();
      break;
    case skPrerecorded:
      SendPrerecordedPlayRequest();
      break;
    case skLive:
      SendLivePlayRequest();
      break;
    default:
      port_.Post("HTTP: invalid stream type flag status on http startup", mcFatal);
      break;
  }
}

void HttpProtocol::SendDescribeRequest() {
  int64_t rangeFrom = -1;
  TSaveFile* file = port_.Media().File();
  if (port_.Config().Resuming() && file) {
    range_from_ = file->Size();
    rangeFrom = range_from_;
  }
  const HttpRequestTarget target{HostText(), path_, port_.Config().ClientGuid,
                                 port_.Config().UseProxy != 0};
  Send(WithAuthorization(BuildDescribeRequest(target, rangeFrom), Authorization(path_)));
}

void HttpProtocol::SendPrerecordedPlayRequest() {
  const SessionConfig& config = port_.Config();
  MediaPacketPath& media = port_.Media();
  uint32_t start = 0;
  uint32_t context = 2;
  if (config.Resuming()) {
    uint32_t missing = 0;
    const bool resumes = media.BeginResume(start, missing);
    port_.Counters().LostPackets += missing;
    if (!resumes) return;
    if (start != 0) context = 4;
  } else if (config.OffsetMs != 0) {
    start = config.OffsetMs;
    context = 4;
  }
  const HttpRequestTarget target{HostText(), path_, config.ClientGuid, config.UseProxy != 0};
  Send(WithAuthorization(
      BuildPrerecordedPlayRequest(target, start, context, port_.Asf(), media.LeftOutStreams()),
      Authorization(path_)));
}

void HttpProtocol::SendLivePlayRequest() {
  const SessionConfig& config = port_.Config();
  if (config.Resuming()) {
    port_.Post("HTTP: live stream detected !", mcWarning);
    port_.Post("HTTP: you cannot resume live streams, please select 'overwrite'", mcFatal);
    return;
  }
  if (config.OffsetMs != 0) {
    port_.Post("HTTP: seeking into live streams is not allowed !", mcWarning);
    port_.Post("HTTP: please select 0 for offset time", mcFatal);
    return;
  }
  const HttpRequestTarget target{HostText(), path_, config.ClientGuid, config.UseProxy != 0};
  Send(WithAuthorization(BuildLivePlayRequest(target, port_.Asf(), port_.Media().LeftOutStreams()),
                         Authorization(path_)));
}

void HttpProtocol::TcpData(const uint8_t* data, int32_t length) {
  port_.Input().Write(data, length, false);
}

// ---- The loop (session thread) ----

void HttpProtocol::Run() {
  SessionInput& input = port_.Input();
  while (!port_.Terminated()) {
    // Taken before the loop looks at the turn, the end marks and the stop request: a change of
    // any of them after this wakes the waits below.
    const uint64_t mark = input.WakeMark();
    const Turn turn = turn_.exchange(Turn::kNone, std::memory_order_acq_rel);
    if (turn != Turn::kNone) {
      if (!TakeTurn(turn)) return;
      continue;
    }
    switch (state_.load()) {
      case State::kSniffing:
        switch (SniffBody()) {
          case Sniff::Fail:
            return;
          case Sniff::Wait:
            if (!port_.Media().Flush()) return;
            // A connection that closes or stalls before the body's first four bytes ends the
            // session like any other wait for the network.
            if (!input.WaitForRing(4, mark) && !input.Watch(4)) return;
            continue;
          case Sniff::Decided:
            continue;
        }
        break;
      case State::kProgressive:
        if (!RunProgressive(mark)) return;
        break;
      case State::kTrackChanged:
        CarryUntilStopped();
        return;
      case State::kEnded:
        DrainUntilStopped();
        return;
      default:
        if (!TakeChunks()) return;
        if (state_.load() == State::kTrackChanged || state_.load() == State::kEnded) continue;
        break;
    }
    // A chunk's first four bytes, or any byte of a plain file, is what the loop can act on.
    const int32_t needed = state_.load() == State::kProgressive ? 1 : 4;
    if (input.Ring().Available() < needed && !port_.Media().Flush()) return;
    if (!input.WaitForRing(needed, mark) && !input.Watch(needed)) return;
  }
}

bool HttpProtocol::TakeTurn(Turn turn) {
  switch (turn) {
    case Turn::kSignIn:
      return SignIn();
    case Turn::kRedirect:
      // The describe request again, where the server pointed; what the old connection still
      // sent is dropped with the ring.
      ConnectAgain();
      return true;
    case Turn::kSniff:
      Enter(State::kSniffing);
      return true;
    case Turn::kPlainFile:
      Enter(State::kProgressive);
      return true;
    case Turn::kNone:
      break;
  }
  return true;
}

bool HttpProtocol::TakeChunks() {
  const TCB& ring = port_.Input().Ring();
  while ((has_sniffed_head_ || ring.Available() >= 4) && !port_.Terminated()) {
    // A redirection's body is no stream, and a plain file's bytes are no chunks.
    if (turn_.load(std::memory_order_acquire) != Turn::kNone) break;
    if (!HandleChunk()) return false;
    const State state = state_.load();
    if (state == State::kEnded || state == State::kTrackChanged) break;
  }
  return true;
}

}  // namespace qor
