// The RTSP requests of a session and what each answer leads to: OPTIONS, DESCRIBE, the SETUP of
// each chosen stream, PLAY, keep-alive and TEARDOWN.

#include <algorithm>
#include <cstdlib>

#include "asf/asf.h"
#include "session/fast_delivery.h"
#include "session/media_packet_path.h"
#include "session/rtsp_protocol.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr int32_t kStandardRtspPort = 554;
constexpr int64_t kDefaultSessionSeconds = 60;
constexpr int64_t kShortestKeepAliveMs = 500;

// A parameter of a Transport header ("server_port" of "RTP/AVP;unicast;server_port=5000-5001").
std::string TransportParam(const std::string& transport, const std::string& name) {
  size_t at = 0;
  while (at < transport.size()) {
    size_t end = transport.find_first_of(";,", at);
    if (end == std::string::npos) end = transport.size();
    const std::string item = THelper::Trim(transport.substr(at, end - at));
    if (THelper::LowerCase(item).rfind(name + "=", 0) == 0) return item.substr(name.size() + 1);
    if (end < transport.size() && transport[end] == ',') break;  // the first choice only
    at = end + 1;
  }
  return std::string();
}

// "5000-5001" (or "5000"): the two numbers, the second one above the first when alone.
bool ReadPair(const std::string& text, int32_t& first, int32_t& second) {
  const size_t dash = text.find('-');
  const std::string a = text.substr(0, dash);
  const std::string b = dash == std::string::npos ? std::string() : text.substr(dash + 1);
  const auto number = [](const std::string& digits, int32_t& out) {
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    out = std::atoi(digits.c_str());
    return out <= 65535;
  };
  if (!number(a, first)) return false;
  if (b.empty()) {
    second = first + 1;
    return true;
  }
  return number(b, second);
}

}  // namespace

// ---- Sending ----

bool RtspProtocol::Send(const std::string& request) {
  last_request_at_ = Clock::now();
  return port_.SendTcp(request.data(), static_cast<int32_t>(request.size())) ==
         static_cast<int32_t>(request.size());
}

std::string RtspProtocol::Url() const {
  std::string host = target_.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  if (target_.port > 0 && target_.port != kStandardRtspPort)
    host += ":" + std::to_string(target_.port);
  return "rtsp://" + host + "/" + path_;
}

RtspRequestContext RtspProtocol::NextContext(const char* method, const std::string& url) {
  RtspRequestContext context;
  context.cseq = cseq_.fetch_add(1) + 1;
  context.clientGuid = port_.Config().ClientGuid;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    context.session = session_id_;
  }
  context.authorization = Authorization(method, url);
  return context;
}

void RtspProtocol::SendOptions() {
  Enter(State::kOptions);
  const std::string url = Url();
  const RtspRequestContext context = NextContext("OPTIONS", url);
  awaited_cseq_ = context.cseq;
  Send(BuildRtspOptions(url, context));
}

void RtspProtocol::SendDescribe() {
  Enter(State::kDescribe);
  const std::string url = Url();
  const RtspRequestContext context = NextContext("DESCRIBE", url);
  awaited_cseq_ = context.cseq;
  Send(BuildRtspDescribe(url, context));
}

void RtspProtocol::SendNextSetup() {
  Enter(State::kSetup);
  const SetUpStream& stream = setups_[next_setup_];
  RtspTransportRequest transport;
  if (MediaOverUdp()) {
    // The server sends as soon as it knows the ports; a receiver that has not bound yet would
    // miss the first packets.
    port_.WaitForUdpReceiver();
    transport.first = port_.UdpLocalPort();
    transport.second = port_.UdpControlPort();
    if (transport.first == 0 || transport.second == 0) {
      if (!port_.Terminated())
        port_.Post("RTSP: no UDP port pair could be bound, the data cannot be received", mcFatal);
      port_.Terminate();
      return;
    }
    // Said once, now that the receiver has bound the port it took.
    if (next_setup_ == 0 && transport.first == port_.Config().UdpPort) {
      port_.Post("Local UDP Port \t" + THelper::IntText(transport.first), mcNormal);
    } else if (next_setup_ == 0) {
      port_.Post("UDP port " + THelper::IntText(port_.Config().UdpPort) +
                     " is in use; receiving on " + THelper::IntText(transport.first) + " instead",
                 mcWarning);
    }
  } else {
    transport.interleaved = true;
    transport.first = stream.channel;
    transport.second = stream.channel + 1;
  }
  const RtspRequestContext context = NextContext("SETUP", stream.url);
  awaited_cseq_ = context.cseq;
  Send(BuildRtspSetup(stream.url, context, transport));
}

void RtspProtocol::SendPlay() {
  const SessionConfig& config = port_.Config();
  const bool live = port_.Counters().StreamKind.load() == skLive;
  std::optional<uint32_t> start;
  if (live && config.Resuming()) {
    port_.Post("RTSP: live stream detected !", mcWarning);
    port_.Post("RTSP: you cannot resume live streams, please select 'overwrite'", mcFatal);
    port_.Terminate();
    return;
  }
  if (live && config.OffsetMs != 0) {
    port_.Post("RTSP: seeking into live streams is not allowed !", mcWarning);
    port_.Post("RTSP: please select 0 for offset time", mcFatal);
    port_.Terminate();
    return;
  }
  if (config.Resuming()) {
    uint32_t from = 0, missing = 0;
    const bool resumes = port_.Media().BeginResume(from, missing);
    // Holes the file already had stay holes: counted as lost, as a resume cannot bring them.
    reported_lost_ += missing;
    port_.Counters().LostPackets += missing;
    if (!resumes) {
      port_.Terminate();
      return;
    }
    start = from;
  } else if (config.OffsetMs != 0) {
    start = config.OffsetMs;
  }
  NoteReportTarget();
  Enter(State::kPlay);
  const std::string url = teardown_url_;
  const RtspRequestContext context = NextContext("PLAY", url);
  awaited_cseq_ = context.cseq;
  const std::string fast = config.FastDelivery && !live ? FastDeliveryLines(start.value_or(0)) : "";
  Send(BuildRtspPlay(url, context, start, playlist_gen_id_, fast));
}

std::string RtspProtocol::FastDeliveryLines(uint32_t start) {
  // A server permits Speed when it lists the fast cache among what it supports; one that does not
  // is asked nothing it may refuse.
  if (!server_fast_cache_) {
    port_.Post(
        "- Fast delivery not asked: the server does not offer it (no "
        "com.microsoft.wm.fastcache in its OPTIONS answer)",
        mcNormal);
    return std::string();
  }
  const FastDeliveryAsk ask = FastDeliveryFor(port_.Asf(), start);
  fast_asked_ = true;
  port_.Post("- Asking for fast delivery: " + FastDeliveryAskText(ask, true), mcNormal);
  return FastDeliveryRtspHeaders(ask);
}

void RtspProtocol::SendKeepAlive() {
  const std::string url = teardown_url_.empty() ? Url() : teardown_url_;
  Send(BuildRtspGetParameter(url, NextContext("GET_PARAMETER", url)));
}

void RtspProtocol::SendTeardown(bool now) {
  std::string url, session;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    url = teardown_url_;
    session = session_id_;
  }
  // Only a session the server made has anything to tear down; once is enough.
  if (session.empty() || teardown_sent_.exchange(true)) return;
  RtspRequestContext context;
  context.cseq = cseq_.fetch_add(1) + 1;
  context.clientGuid = port_.Config().ClientGuid;
  context.session = session;
  // At a stop the loop may be signing the next request: the Digest count is the loop's, so the
  // last word goes without it (a server that insists simply lets the session time out).
  if (!now) context.authorization = Authorization("TEARDOWN", url);
  const std::string text = BuildRtspTeardown(url, context);
  if (now) {
    port_.SendTcpNow(text.data(), static_cast<int32_t>(text.size()));
  } else {
    Send(text);
  }
}

// ---- Answers ----

bool RtspProtocol::TakeMessage(const uint8_t* text, size_t length) {
  RtspMessage message;
  if (!ParseRtspMessage(text, length, message)) {
    if (Ended()) return false;
    port_.Post("The current RTSP message failed - Closing now", mcMedia);
    port_.Post(THelper::HexDump(text, static_cast<int32_t>(std::min<size_t>(length, 64))), mcFatal);
    port_.Terminate();
    return false;
  }
  return message.IsAnswer() ? TakeAnswer(message) : TakeServerRequest(message);
}

bool RtspProtocol::Refused(const RtspMessage& answer, const std::string& what) {
  // A server that insists on an extension of its own names it: the user learns which.
  const std::string unsupported = answer.Header("Unsupported");
  port_.Post(
      what + " refused: RTSP/1.0 " + std::to_string(answer.status) +
          (answer.reason.empty() ? std::string() : " " + answer.reason) +
          (unsupported.empty() ? std::string() : " (the server insists on " + unsupported + ")"),
      mcFatal);
  port_.Terminate();
  return false;
}

bool RtspProtocol::TakeAnswer(const RtspMessage& answer) {
  // Keep-alive answers, and answers to a request given up on, lead nowhere.
  if (answer.CSeq() != awaited_cseq_ || awaited_cseq_ < 0) return true;
  awaited_cseq_ = -1;
  // The server's first answer to a signed request tells whether the credentials were right.
  sign_in_.ReportAnswer(port_.Config().Prompts, answer.status != 401);
  const State state = state_.load();
  if (answer.status == 401) return SignIn(answer);
  if (answer.status >= 300 && answer.status < 400 &&
      (state == State::kOptions || state == State::kDescribe))
    return Redirect(answer);
  switch (state) {
    case State::kOptions:
      return TakeOptionsAnswer(answer);
    case State::kDescribe:
      return TakeDescribeAnswer(answer);
    case State::kSetup:
      return TakeSetupAnswer(answer);
    case State::kPlay:
      return TakePlayAnswer(answer);
    default:
      return true;
  }
}

bool RtspProtocol::TakeOptionsAnswer(const RtspMessage& answer) {
  // A server that does not answer OPTIONS may still describe: it only says what it can do.
  const std::string server = answer.Header("Server");
  if (!server.empty()) {
    MmsServerTexts texts;
    texts.ServerVersion = server;
    port_.Counters().SetServerTexts(texts);
    port_.Post("Server: \t" + server, mcNormal);
  }
  const std::string supported = THelper::LowerCase(answer.Header("Supported"));
  server_takes_notices_ = supported.find("com.microsoft.wm.eosmsg") != std::string::npos;
  server_fast_cache_ = supported.find("com.microsoft.wm.fastcache") != std::string::npos;
  SendDescribe();
  return true;
}

bool RtspProtocol::TakeDescribeAnswer(const RtspMessage& answer) {
  if (answer.status != 200) return Refused(answer, "DESCRIBE");
  base_url_ = answer.Header("Content-Base");
  if (base_url_.empty()) base_url_ = answer.Header("Content-Location");
  if (base_url_.empty()) base_url_ = Url();
  playlist_gen_id_ = answer.Header("X-Playlist-Gen-Id");
  return TakeDescription(answer.body, true);
}

bool RtspProtocol::TakeSetupAnswer(const RtspMessage& answer) {
  SetUpStream& stream = setups_[next_setup_];
  if (answer.status != 200) {
    if (stream.retransmission) {
      // Resends are a help, not a need: without them losses are counted.
      port_.Post("RTSP: the server did not set up its retransmission stream", mcWarning);
      setups_.erase(setups_.begin() + static_cast<std::ptrdiff_t>(next_setup_));
      if (next_setup_ < setups_.size()) {
        SendNextSetup();
      } else {
        SendPlay();
      }
      return true;
    }
    if (answer.status == 461 && MediaOverUdp()) {
      port_.Post("RTSP: the server does not send media over UDP (461 Unsupported Transport)",
                 mcFatal);
      port_.Terminate();
      return false;
    }
    return Refused(answer, "SETUP");
  }
  const std::string session = answer.Header("Session");
  if (!session.empty()) {
    const size_t semicolon = session.find(';');
    int64_t seconds = kDefaultSessionSeconds;
    const std::string timeout =
        TransportParam(session.substr(std::min(semicolon, session.size())), "timeout");
    if (!timeout.empty() && timeout.size() < 7 &&
        timeout.find_first_not_of("0123456789") == std::string::npos)
      seconds = std::max<int64_t>(1, std::atoll(timeout.c_str()));
    // Well inside the server's limit, so a late answer to the last one does not matter.
    keep_alive_ms_ = std::max(kShortestKeepAliveMs, seconds * 1000 / 2);
    std::lock_guard<std::mutex> lock(session_mutex_);
    session_id_ = THelper::Trim(session.substr(0, semicolon));
  }
  const std::string transport = answer.Header("Transport");
  int32_t first = 0, second = 0;
  if (MediaOverUdp() && ReadPair(TransportParam(transport, "server_port"), first, second)) {
    // One pair for every stream; a server that uses several is checked by its address alone.
    const bool firstPair = server_rtp_port_ == 0 && next_setup_ == 0;
    if (firstPair || (server_rtp_port_ == first && server_rtcp_port_ == second)) {
      server_rtp_port_ = first;
      server_rtcp_port_ = second;
    } else {
      server_rtp_port_ = 0;
      server_rtcp_port_ = 0;
    }
  }
  if (!MediaOverUdp() && ReadPair(TransportParam(transport, "interleaved"), first, second) &&
      first < 255)
    stream.channel = static_cast<uint8_t>(first & 0xFE);
  const std::string ssrc = TransportParam(transport, "ssrc");
  if (!ssrc.empty() && ssrc.size() <= 8 &&
      ssrc.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
    stream.ssrc = static_cast<uint32_t>(std::strtoul(ssrc.c_str(), nullptr, 16));
    stream.haveSsrc = true;
  }
  if (++next_setup_ < setups_.size()) {
    SendNextSetup();
  } else {
    SendPlay();
  }
  return true;
}

bool RtspProtocol::TakePlayAnswer(const RtspMessage& answer) {
  if (answer.status == 457 && port_.Config().Resuming()) {
    port_.Post(
        "Cannot resume: the server refused to play from where the file ends "
        "(457 Invalid Range)",
        mcFatal);
    port_.Terminate();
    return false;
  }
  if (answer.status != 200) return Refused(answer, "PLAY");
  if (fast_asked_) {
    fast_asked_ = false;
    const FastDeliveryGrant grant =
        ReadRtspFastDeliveryGrant(answer.Header("Speed"), answer.Header("X-Accelerate-Streaming"));
    port_.Post(grant.Said() ? "- The server grants " + FastDeliveryGrantText(grant)
                            : "- The server does not say how fast it sends the clip",
               mcNormal);
  }
  // RTP-Info names the first packet of each stream: one lost before the first to arrive is
  // then missed like any other.
  const std::string info = answer.Header("RTP-Info");
  for (const SetUpStream& stream : setups_) {
    if (stream.retransmission || !stream.haveSsrc) continue;
    const size_t at = info.find(stream.url);
    if (at == std::string::npos) continue;
    const std::string rest = info.substr(at + stream.url.size());
    const std::string seq = TransportParam(rest.substr(0, rest.find(',')), "seq");
    if (seq.empty() || seq.size() > 5 || seq.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const long value = std::atol(seq.c_str());
    if (value > 65535) continue;
    receiver_.ExpectFirst(stream.ssrc, static_cast<uint16_t>(value), nacks_);
  }
  SendNacks(nacks_);
  port_.Post("", mcStarted);
  next_report_at_ = Clock::now() + std::chrono::seconds(1);
  if (state_.load() == State::kPlay) Enter(State::kStreaming);
  return true;
}

}  // namespace qor
