#include "app/rtsp_describe_client.h"

#include "session/rtsp_requests.h"
#include "support/http_auth.h"
#include "support/location.h"

namespace qor {

RtspMessage TRtspDescribeClient::ReadMessage() {
  std::string text, line;
  for (;;) {
    switch (ReadLine(line, kMaxRtspHead)) {
      case LineResult::Line:
        break;
      case LineResult::Closed:
        throw ESocketError("The server closed the connection without an answer");
      case LineResult::TooLong:
        throw ESocketError("The server's answer is no RTSP");
    }
    if (text.empty() && (line == "\r\n" || line == "\n")) continue;
    text += line;
    if (line == "\r\n" || line == "\n") break;
    if (text.size() > kMaxRtspHead) throw ESocketError("The server's answer is no RTSP");
  }
  // The framing says how long the whole message is: its body follows the head.
  size_t whole = 0;
  for (;;) {
    const RtspUnit unit = FrameRtspUnit(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (unit.kind == RtspUnitKind::kMessage) {
      whole = unit.consumed;
      break;
    }
    if (unit.kind == RtspUnitKind::kBad || text.size() > kMaxRtspHead + kMaxRtspBody)
      throw ESocketError("The server's answer is no RTSP");
    if (ReadChunk(text, kMaxRtspBody) == 0)
      throw ESocketError("The server closed the connection in the middle of its answer");
  }
  RtspMessage message;
  if (!ParseRtspMessage(reinterpret_cast<const uint8_t*>(text.data()), whole, message) ||
      !message.IsAnswer())
    throw ESocketError("The server's answer is no RTSP");
  return message;
}

void TRtspDescribeClient::Describe(const std::string& location) {
  Described = false;
  Why.clear();
  std::string url = WithoutUserInfo(location);
  for (int redirections = 0;; ++redirections) {
    Location parts;
    ParseLocation(url, parts);
    const Operation operation(*this);
    Connect(BareHost(parts.host), parts.port > 0 ? parts.port : kStandardPort);
    RtspRequestContext context;
    context.clientGuid = ClientGuid;
    AuthChallenge challenge;
    for (int attempt = 0; attempt < 2; ++attempt) {
      context.cseq = static_cast<uint32_t>(attempt + 1);
      SendText(BuildRtspDescribe(url, context));
      Answer = ReadMessage();
      if (Answer.status != 401 || attempt > 0 || User.empty()) break;
      std::vector<AuthChallenge> offered;
      for (const std::string& value : Answer.All("WWW-Authenticate")) {
        AuthChallenge one;
        if (ParseAuthChallenge(value, one)) offered.push_back(one);
      }
      if (!ChooseAuthChallenge(offered, challenge)) break;
      context.authorization =
          AuthorizationValue(challenge, User, Password, "DESCRIBE", url, 1, "0a4f113b");
    }
    const std::string moved = Answer.Header("Location");
    if (Answer.status < 300 || Answer.status >= 400 || moved.empty() ||
        redirections >= kMaxRedirections)
      break;
    url = moved;
  }
  if (Answer.status != 200) return;
  Described = ReadSdp(Answer.body.data(), Answer.body.size(), Description, Why);
}

}  // namespace qor
