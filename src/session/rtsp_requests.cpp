#include "session/rtsp_requests.h"

#include <cstdio>

namespace qor {

namespace {

constexpr const char* kEnd = "\r\n";
constexpr const char* kSupported =
    "Supported: com.microsoft.wm.sswitch, com.microsoft.wm.eosmsg, com.microsoft.wm.locid\r\n";

std::string Start(const char* method, const std::string& url, const RtspRequestContext& c) {
  std::string guid = c.clientGuid;
  if (guid.size() > 2 && guid.front() == '{' && guid.back() == '}')
    guid = guid.substr(1, guid.size() - 2);
  std::string text = std::string(method) + " " + url +
                     " RTSP/1.0\r\nCSeq: " + std::to_string(c.cseq) + kEnd +
                     "User-Agent: WMPlayer/9.0.0.4503 guid/" + guid + kEnd;
  if (!c.session.empty()) text += "Session: " + c.session + kEnd;
  if (!c.authorization.empty()) text += "Authorization: " + c.authorization + kEnd;
  return text;
}

}  // namespace

std::string NptFrom(uint32_t startMs) {
  char text[32];
  std::snprintf(text, sizeof text, "npt=%u.%03u-", startMs / 1000, startMs % 1000);
  return text;
}

std::string BuildRtspOptions(const std::string& url, const RtspRequestContext& context) {
  return Start("OPTIONS", url, context) + kSupported + kEnd;
}

std::string BuildRtspDescribe(const std::string& url, const RtspRequestContext& context) {
  return Start("DESCRIBE", url, context) + "Accept: application/sdp\r\n" + kSupported + kEnd;
}

std::string BuildRtspSetup(const std::string& url, const RtspRequestContext& context,
                           const RtspTransportRequest& t) {
  const std::string pair = std::to_string(t.first) + "-" + std::to_string(t.second);
  const std::string transport = t.interleaved ? "RTP/AVP/TCP;unicast;interleaved=" + pair
                                              : "RTP/AVP/UDP;unicast;client_port=" + pair;
  return Start("SETUP", url, context) + "Transport: " + transport + ";mode=PLAY\r\n" + kSupported +
         kEnd;
}

std::string BuildRtspPlay(const std::string& url, const RtspRequestContext& context,
                          std::optional<uint32_t> startMs, const std::string& playlistGenId,
                          const std::string& extraLines) {
  std::string text = Start("PLAY", url, context);
  if (startMs) text += "Range: " + NptFrom(*startMs) + kEnd;
  if (!playlistGenId.empty()) text += "X-Playlist-Gen-Id: " + playlistGenId + kEnd;
  return text + extraLines + kSupported + kEnd;
}

std::string BuildRtspGetParameter(const std::string& url, const RtspRequestContext& context) {
  // No body and no Content-Type: the dialect's keep-alive.
  return Start("GET_PARAMETER", url, context) + kEnd;
}

std::string BuildRtspTeardown(const std::string& url, const RtspRequestContext& context) {
  return Start("TEARDOWN", url, context) + kEnd;
}

std::string BuildRtspAnswer(int64_t cseq, const std::string& session) {
  std::string text = "RTSP/1.0 200 OK\r\n";
  if (cseq >= 0) text += "CSeq: " + std::to_string(cseq) + kEnd;
  if (!session.empty()) text += "Session: " + session + kEnd;
  return text + kEnd;
}

}  // namespace qor
