// The RTSP side: the requests of the Windows Media dialect of RTSP, sign-in as over HTTP, the
// streams set up one by one, and the requested faults.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>

#include "asf/asf.h"
#include "rtsp_description.h"
#include "rtsp_session.h"
#include "support/base64.h"
#include "support/http_auth.h"

namespace qor::server {

namespace {

constexpr const char* kServerName = "WMServer/9.1.1.5001";
constexpr const char* kRealm = "qor-server";
constexpr const char* kNonce = "7a3c9e1f5b2d4068a1c3";
constexpr const char* kPublic =
    "OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, GET_PARAMETER, SET_PARAMETER, TEARDOWN";

// "npt=12.5-" and the like: the start in milliseconds; false for another unit or none.
bool ParseNptStart(const std::string& range, uint32_t& ms) {
  const size_t at = range.find("npt=");
  if (at == std::string::npos) return false;
  const std::string value = range.substr(at + 4);
  if (value.rfind("now", 0) == 0) {
    ms = 0;
    return true;
  }
  char* end = nullptr;
  const double seconds = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || !(seconds >= 0 && seconds < 4e6)) return false;
  ms = static_cast<uint32_t>(seconds * 1000 + 0.5);
  return true;
}

// "client_port=5000-5001" style parameter values of a Transport header.
std::string TransportParam(const std::string& transport, const std::string& name) {
  size_t at = 0;
  while (at < transport.size()) {
    size_t end = transport.find_first_of(";,", at);
    if (end == std::string::npos) end = transport.size();
    const std::string item = transport.substr(at, end - at);
    if (item.rfind(name + "=", 0) == 0) return item.substr(name.size() + 1);
    if (item == name) return "1";
    if (end < transport.size() && transport[end] == ',') break;  // the first choice only
    at = end + 1;
  }
  return "";
}

bool ParsePair(const std::string& text, int& first, int& second) {
  char* end = nullptr;
  const long a = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || a < 0 || a > 65535) return false;
  long b = a + 1;
  if (*end == '-') {
    char* end2 = nullptr;
    b = std::strtol(end + 1, &end2, 10);
    if (end2 == end + 1 || b < 0 || b > 65535) return false;
  }
  first = static_cast<int>(a);
  second = static_cast<int>(b);
  return true;
}

// An RTSP Speed value ("2.5"); 0 when it is none.
double SpeedValue(const std::string& text) {
  if (text.empty()) return 0;
  char* end = nullptr;
  const double speed = std::strtod(text.c_str(), &end);
  while (*end == ' ') ++end;
  return *end == '\0' && speed > 0 ? std::min(speed, 4294967295.0) : 0;
}

}  // namespace

RtspSession::RtspSession(Server& server, Connection& connection, uint64_t id,
                         const sockaddr_storage& peer)
    : server_(server), c_(connection), id_(id), peer_(peer), random_(1) {
  sessionId_ = 13856065358275900000ull + id * 7919;
}

bool RtspSession::SendText(const std::string& text) {
  if (!FlushBatch()) return false;
  const int pieces = std::max(1, faults_.splitHeader);
  const size_t step = (text.size() + static_cast<size_t>(pieces) - 1) / static_cast<size_t>(pieces);
  for (size_t at = 0; at < text.size(); at += step) {
    if (!c_.WriteAll(reinterpret_cast<const uint8_t*>(text.data()) + at,
                     std::min(step, text.size() - at)))
      return false;
    if (pieces > 1 && at + step < text.size() && !c_.Pause(20)) return false;
  }
  return true;
}

bool RtspSession::Answer(const RtspRequest& request, int status, const std::string& headers,
                         const std::string& body) {
  Log("rtsp-status", std::to_string(status) + " " + request.method);
  std::string common = "Server: " + std::string(kServerName) + "\r\n";
  if (sessionMade_) common += SessionHeader();
  return SendText(BuildRtspResponse(status, request.CSeq(), common + headers, body));
}

std::string RtspSession::SessionHeader() const {
  return "Session: " + std::to_string(sessionId_) +
         ";timeout=" + std::to_string(server_.Options().rtspTimeoutSeconds) + "\r\n";
}

std::string RtspSession::BaseUrl(const RtspRequest& request) const {
  std::string url = request.url.substr(0, request.url.find('?'));
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

bool RtspSession::Authorized(const RtspRequest& request) const {
  const std::string& credentials =
      faults_.password.empty() ? server_.Options().password : faults_.password;
  if (credentials.empty()) return true;
  const std::string header = request.Header("Authorization");
  if (server_.Options().digestAuth) {
    AuthChallenge answer;
    if (!ParseAuthChallenge(header, answer) || answer.scheme != "digest") return false;
    const size_t colon = credentials.find(':');
    const std::string user = credentials.substr(0, colon);
    const std::string password = colon == std::string::npos ? "" : credentials.substr(colon + 1);
    if (answer.Param("username") != user || answer.Param("realm") != kRealm ||
        answer.Param("nonce") != kNonce)
      return false;
    const std::string expected =
        DigestResponse(user, kRealm, password, request.method, answer.Param("uri"), kNonce,
                       answer.Param("nc"), answer.Param("cnonce"), answer.Param("qop"));
    return answer.Param("response") == expected;
  }
  const std::string scheme = "Basic ";
  if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0) return false;
  return Base64Coder::DecodeString(header.substr(scheme.size())) == credentials;
}

void RtspSession::Run() {
  std::string error;
  if (!ParseFaults(server_.Options().faults, faults_, error)) Log("rtsp-bad-faults", error);
  random_.seed(faults_.seed);
  uint8_t block[16384];
  for (;;) {
    // Until the next packet is due, or the session's limit when nothing is playing.
    const int limitMs = sessionMade_ ? server_.Options().rtspTimeoutSeconds * 1000
                                     : server_.Options().idleTimeoutMs;
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastRequest_).count();
    int waitMs = static_cast<int>(std::clamp<int64_t>(limitMs - idle, 0, 1000));
    if (playing_ && !Pump(waitMs)) return;
    bool readable = false;
    if (!Wait(waitMs, readable)) return;
    if (readable) {
      size_t got = 0;
      const auto read = c_.ReadSome(block, sizeof block, got, 0);
      if (read == Connection::Read::kData) {
        input_.append(reinterpret_cast<const char*>(block), got);
      } else if (read != Connection::Read::kTimeout) {
        if (!input_.empty()) Log("rtsp-incomplete-request", std::to_string(input_.size()));
        Log("rtsp-disconnect");
        return;
      }
    }
    for (;;) {
      size_t consumed = 0;
      RtspRequest message;
      uint8_t channel = 0;
      std::string frame;
      const RtspUnit unit = TakeRtspUnit(input_, consumed, message, channel, frame);
      input_.erase(0, consumed);
      if (unit == RtspUnit::kNeedMore) break;
      if (unit == RtspUnit::kBad) {
        Log("rtsp-bad-request", std::to_string(input_.size()) + " bytes");
        RtspRequest none;
        Answer(none, 400);
        return;
      }
      lastRequest_ = Clock::now();
      if (unit == RtspUnit::kInterleaved) {
        // RTCP from a client taking its media in the connection: its NACKs are not for us
        // (nothing is lost on TCP); receiver reports only keep the session alive.
        continue;
      }
      if (message.method.empty()) {
        Log("rtsp-answer", std::to_string(message.status) + " CSeq " + message.Header("CSeq"));
        continue;
      }
      if (!Handle(message)) return;
    }
    // Over TCP the media flowing is the sign of life; otherwise the client must ask now and then.
    const bool tcpPlaying = playing_ && !streams_.empty() && !streams_.front().udp;
    const int limit = sessionMade_ ? server_.Options().rtspTimeoutSeconds * 1000
                                   : server_.Options().idleTimeoutMs;
    if (!tcpPlaying && Clock::now() - lastRequest_ > std::chrono::milliseconds(limit)) {
      Log(sessionMade_ ? "rtsp-session-timeout" : "rtsp-idle", "closing");
      return;
    }
  }
}

bool RtspSession::Wait(int ms, bool& readable) {
  readable = false;
  const int stopFd = server_.Stopping().Fd();
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (server_.Stopping().Raised()) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p[3] = {{c_.Fd(), POLLIN, 0}, {rtcpSocket_.Fd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int wait = static_cast<int>(std::clamp<int64_t>(left, 0, stopFd < 0 ? 100 : INT32_MAX));
    const int r = poll(p, 3, wait);
    if (r > 0 && p[1].revents != 0) ReadRtcp();
    if (r > 0 && p[0].revents != 0) {
      readable = true;
      return true;
    }
    if (left <= 0) return true;
  }
}

bool RtspSession::ReadFaults(const RtspRequest& request) {
  std::string path, query;
  request.SplitUrl(path, query);
  if (!faultsRead_ && !query.empty()) {
    std::string error;
    Faults asked = faults_;
    if (!ParseFaults(query, asked, error)) {
      Log("rtsp-bad-faults", error);
      return false;
    }
    faults_ = asked;
    random_.seed(faults_.seed);
  }
  faultsRead_ = true;
  return true;
}

bool RtspSession::FindEntry(const RtspRequest& request, std::string& name) {
  if (!ReadFaults(request)) return false;
  std::string path, query;
  request.SplitUrl(path, query);
  name = PercentDecode(path);
  entry_ = server_.Media().Find(name);
  return entry_.kind == Catalog::Kind::kStream || entry_.kind == Catalog::Kind::kLive;
}

bool RtspSession::Handle(const RtspRequest& request) {
  Log("rtsp-request", request.method + " " + request.url + " " + request.version);
  for (const auto& [key, value] : request.headers) Log("rtsp-header", key + ": " + value);
  if (request.version != "RTSP/1.0") return Answer(request, 505);
  if (request.Has("Session") && sessionMade_ &&
      request.Header("Session").substr(0, request.Header("Session").find(';')) !=
          std::to_string(sessionId_))
    return Answer(request, 454);
  const std::string& m = request.method;
  if (m == "OPTIONS")
    return Answer(request, 200,
                  "Public: " + std::string(kPublic) +
                      "\r\nSupported: com.microsoft.wm.srvppair, com.microsoft.wm.sswitch, "
                      "com.microsoft.wm.eosmsg, com.microsoft.wm.predstrm, "
                      "com.microsoft.wm.fastcache, com.microsoft.wm.locid, "
                      "com.microsoft.wm.rtx\r\n");
  // A password asked for in the query applies to the DESCRIBE that names it.
  if (m == "DESCRIBE" && !ReadFaults(request)) return Answer(request, 400);
  if (!Authorized(request)) {
    return Answer(request, 401,
                  server_.Options().digestAuth
                      ? std::string("WWW-Authenticate: Digest realm=\"") + kRealm + "\", nonce=\"" +
                            kNonce + "\", qop=\"auth\", algorithm=MD5\r\n"
                      : std::string("WWW-Authenticate: Basic realm=\"") + kRealm + "\"\r\n");
  }
  if (m == "DESCRIBE") return OnDescribe(request);
  if (m == "SETUP") return OnSetup(request);
  if (m == "PLAY") return OnPlay(request);
  if (m == "PAUSE") {
    if (!sessionMade_) return Answer(request, 454);
    if (!FlushBatch() || !FlushStreams()) return false;
    playing_ = false;
    Log("rtsp-pause", std::to_string(sent_) + " packets");
    return Answer(request, 200);
  }
  if (m == "GET_PARAMETER" || m == "SET_PARAMETER") return Answer(request, 200);
  if (m == "TEARDOWN") return OnTeardown(request);
  return Answer(request, 501, "Allow: " + std::string(kPublic) + "\r\n");
}

std::string RtspSession::DescriptionFor(const Bytes& header) {
  const MediaSource& media = entry_.kind == Catalog::Kind::kLive
                                 ? entry_.live->Entry(entry_.live->At(Clock::now()).entry)
                                 : *entry_.media;
  SdpOffer offer;
  offer.baseUrl = baseUrl_;
  offer.live = entry_.kind == Catalog::Kind::kLive;
  // Offered always: a client of the dialect sets the retransmission stream up before it takes
  // media over UDP, and will not take it without one.
  offer.retransmission = true;
  offer.sessionId = sessionId_;
  offer.version = generation_;
  return BuildSdp(media, header, offer);
}

bool RtspSession::OnDescribe(const RtspRequest& request) {
  std::string name;
  if (!FindEntry(request, name)) {
    if (!faultsRead_) return Answer(request, 400);
    return Answer(request, 404);
  }
  if (faults_.httpStatus != 0) return Answer(request, faults_.httpStatus);
  entryName_ = Catalog::CleanName(name);
  baseUrl_ = BaseUrl(request);
  // A Windows Media player lists what it takes; other clients get the plain RTSP of the dialect.
  dialect_ = request.Supports("com.microsoft.wm.eosmsg");
  eosNotice_ = dialect_;
  locationIds_ = request.Supports("com.microsoft.wm.locid");
  const bool live = entry_.kind == Catalog::Kind::kLive;
  const Bytes& header =
      live ? entry_.live->Entry(entry_.live->At(Clock::now()).entry).BroadcastHeader()
           : entry_.media->Header();
  const std::string sdp = DescriptionFor(header);
  Log("rtsp-describe",
      entryName_ + (live ? " live" : "") + " " + std::to_string(sdp.size()) + " bytes");
  std::string headers = "Content-Type: application/sdp\r\nContent-Base: " + baseUrl_ +
                        "/\r\nX-Playlist-Gen-Id: " + std::to_string(generation_) +
                        "\r\nX-Broadcast-Id: " + (live ? "1" : "0") +
                        "\r\nCache-Control: no-cache\r\nVary: Accept\r\n";
  if (faults_.cutHeader) {
    // The answer stops in the middle of the ASF header's text, and the connection with it.
    const std::string whole = BuildRtspResponse(
        200, request.CSeq(), "Server: " + std::string(kServerName) + "\r\n" + headers, sdp);
    const size_t cut = whole.find("base64,");
    SendText(whole.substr(0, cut == std::string::npos ? whole.size() / 2 : cut + 40));
    Log("fault-cut-header");
    return false;
  }
  return Answer(request, 200, headers, sdp);
}

bool RtspSession::OpenUdp(std::string& error) {
  if (rtpSocket_.Valid()) return true;
  // An even RTP port with its RTCP port just above it, as clients expect of a pair.
  // In the family the client connected with: a server given no IPv6 address of its own also
  // listens on the IPv6 loopback.
  const std::string& given = server_.Options().host;
  const bool v6Peer = peer_.ss_family == AF_INET6;
  const std::string host = v6Peer && given.find(':') == std::string::npos ? "::1" : given;
  for (int attempt = 0; attempt < 64; ++attempt) {
    Socket rtp, rtcp;
    uint16_t port = 0;
    if (!OpenListener(host, port, true, rtp, error)) return false;
    if (port % 2 != 0 || port == 65535) continue;
    uint16_t next = static_cast<uint16_t>(port + 1);
    std::string ignored;
    if (!OpenListener(host, next, true, rtcp, ignored)) continue;
    rtpSocket_ = std::move(rtp);
    rtcpSocket_ = std::move(rtcp);
    serverRtpPort_ = port;
    return true;
  }
  error = "no free UDP port pair";
  return false;
}

bool RtspSession::OnSetup(const RtspRequest& request) {
  if (entry_.kind == Catalog::Kind::kMissing) {
    std::string name;
    if (!FindEntry(request, name)) return Answer(request, 404);
    entryName_ = Catalog::CleanName(name);
    baseUrl_ = BaseUrl(request).substr(0, BaseUrl(request).rfind('/'));
  }
  if (playing_) return Answer(request, 455);
  std::string path, query;
  request.SplitUrl(path, query);
  const std::string last = path.substr(path.rfind('/') + 1);
  const bool rtx = last == "rtx";
  uint16_t number = 0;
  if (!rtx) {
    if (last.rfind("stream=", 0) != 0) return Answer(request, 404);
    number = static_cast<uint16_t>(std::atoi(last.c_str() + 7));
    const MediaSource& media = entry_.kind == Catalog::Kind::kLive
                                   ? entry_.live->Entry(entry_.live->At(Clock::now()).entry)
                                   : *entry_.media;
    const auto& numbers = media.StreamNumbers();
    if (std::find(numbers.begin(), numbers.end(), number) == numbers.end())
      return Answer(request, 404);
  }
  const std::string transport = request.Header("Transport");
  if (faults_.refuseTransport) {
    Log("fault-refuse-transport");
    return Answer(request, 461);
  }
  Stream stream;
  stream.number = number;
  stream.control = rtx ? RetransmissionControl(baseUrl_) : StreamControl(baseUrl_, number);
  const bool tcp = transport.find("RTP/AVP/TCP") != std::string::npos;
  std::string reply;
  if (tcp) {
    if (rtx) return Answer(request, 461);  // nothing is lost in the connection
    int first = static_cast<int>(streams_.size()) * 2, second = first + 1;
    const std::string asked = TransportParam(transport, "interleaved");
    if (!asked.empty() && (!ParsePair(asked, first, second) || first > 255 || second > 255))
      return Answer(request, 400);
    stream.channel = static_cast<uint8_t>(first);
    reply =
        "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(first) + "-" + std::to_string(second);
  } else if (transport.find("RTP/AVP") != std::string::npos) {
    int rtpPort = 0, rtcpPort = 0;
    if (!ParsePair(TransportParam(transport, "client_port"), rtpPort, rtcpPort) || rtpPort == 0)
      return Answer(request, 461);
    std::string error;
    if (!OpenUdp(error)) {
      Log("rtsp-udp-failed", error);
      return Answer(request, 500);
    }
    stream.udp = true;
    stream.rtpTo = peer_;
    SetAddressPort(stream.rtpTo, static_cast<uint16_t>(rtpPort));
    stream.rtcpTo = peer_;
    SetAddressPort(stream.rtcpTo, static_cast<uint16_t>(rtcpPort));
    reply = "RTP/AVP/UDP;unicast;client_port=" + std::to_string(rtpPort) + "-" +
            std::to_string(rtcpPort) + ";server_port=" + std::to_string(serverRtpPort_) + "-" +
            std::to_string(serverRtpPort_ + 1);
  } else {
    return Answer(request, 461);
  }
  const uint32_t ssrc = 0x51000000u + static_cast<uint32_t>((id_ & 0xFFFF) << 8) +
                        static_cast<uint32_t>(streams_.size() + (rtx ? 0x80 : 0));
  const uint16_t firstSequence = static_cast<uint16_t>(id_ * 7919 + number * 101);
  stream.packetizer = std::make_unique<RtpPacketizer>(
      ssrc, firstSequence,
      server_.Options().rtpLengthPacketOnly ? LengthField::kPacketOnly : LengthField::kWithHeader,
      locationIds_,
      std::min(faults_.rtpPayloadLimit > 0 ? static_cast<size_t>(faults_.rtpPayloadLimit)
                                           : kMaxRtpPayload,
               tcp ? kMaxRtpPayload : kMaxUdpRtpPayload));
  char ssrcText[16];
  std::snprintf(ssrcText, sizeof ssrcText, "%08x", ssrc);
  reply += std::string(";ssrc=") + ssrcText + ";mode=PLAY";
  Log("rtsp-setup", (rtx ? std::string("rtx") : "stream=" + std::to_string(number)) + " " +
                        (tcp ? "tcp" : "udp"));
  // The streams set up in a row join one session, whatever order they come in.
  if (rtx) {
    rtx_ = std::move(stream);
  } else {
    std::erase_if(streams_, [&](const Stream& s) { return s.number == number; });
    streams_.push_back(std::move(stream));
  }
  sessionMade_ = true;
  return Answer(request, 200, "Transport: " + reply + "\r\n");
}

bool RtspSession::OnPlay(const RtspRequest& request) {
  if (!sessionMade_ || streams_.empty()) return Answer(request, 455);
  const bool live = entry_.kind == Catalog::Kind::kLive;
  const std::string range = request.Header("Range");
  uint32_t fromMs = 0;
  const bool ranged = !range.empty() && ParseNptStart(range, fromMs);
  if (!range.empty() && !ranged) return Answer(request, 457);
  if (!live && ranged && fromMs > entry_.media->SpanMs()) return Answer(request, 457);
  if (!feed_ || (ranged && !live) || ended_) {
    if (!FlushBatch()) return false;
    StartFeed(live ? 0 : fromMs);
  }
  // The first packet's send time is the RTP time the client is to expect.
  uint32_t firstTime = 0;
  if (next_ && next_->kind == FeedItem::Kind::kPacket) {
    AsfPacketTimes times;
    ReadAsfPacketTimes(next_->bytes.data(), next_->bytes.size(), times);
    firstTime = times.sendTime;
  }
  std::string info;
  for (const Stream& s : streams_) {
    if (!info.empty()) info += ",";
    info += "url=" + s.control + ";seq=" + std::to_string(s.packetizer->NextSequence()) +
            ";rtptime=" + std::to_string(firstTime);
  }
  char start[32];
  std::snprintf(start, sizeof start, "%.3f",
                (firstTime - (live ? firstTime : entry_.media->SendTime(0))) / 1000.0);
  std::string rangeOut = live ? "npt=now-" : std::string("npt=") + start + "-";
  if (!live) {
    char end[32];
    std::snprintf(end, sizeof end, "%.3f", entry_.media->DurationSeconds());
    rangeOut += end;
  }
  Log("rtsp-play", entryName_ + " from=" + std::to_string(fromMs) +
                       (request.Has("Speed") ? " speed=" + request.Header("Speed") : ""));
  // Speed asks for the whole clip faster, X-Accelerate-Streaming for a faster start; the answer
  // says what the server does.
  DeliveryAsk ask = ReadAccelerateHeader(request.Header("X-Accelerate-Streaming"));
  ask.speed = SpeedValue(request.Header("Speed"));
  const DeliveryGrant grant =
      GrantDelivery(ask, live, server_.Options().delivery, live ? 0 : entry_.media->BitRate());
  std::string granted;
  if (ask.speed > 0) granted += "Speed: " + SpeedText(grant.speed) + "\r\n";
  if (grant.burstMs > 0)
    granted += "X-Accelerate-Streaming: AccelDuration=" + std::to_string(grant.burstMs) +
               ";AccelBandwidth=" + std::to_string(grant.burstBandwidth) + "\r\n";
  if (ask.Any()) Log("delivery", (live ? "live " : "") + DeliveryText(ask, grant));
  const bool answered =
      Answer(request, 200,
             "Range: " + rangeOut + "\r\nRTP-Info: " + info +
                 "\r\nX-Playlist-Gen-Id: " + std::to_string(generation_) + "\r\n" + granted);
  playing_ = true;
  playStart_ = Clock::now();
  pacer_.emplace(server_.RateFor(live), grant, playStart_, next_ ? next_->scheduleMs : 0);
  return answered;
}

bool RtspSession::OnTeardown(const RtspRequest& request) {
  FlushBatch();
  Log("rtsp-teardown", std::to_string(sent_) + " packets");
  if (feed_) Log("streams-sent", CountsText(feed_->Counts()));
  Answer(request, 200);
  return false;  // the connection ends with the session
}

void ServeRtsp(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer) {
  server.Log().Add(id, "rtsp-connect", AddressText(peer));
  RtspSession(server, connection, id, peer).Run();
}

}  // namespace qor::server
