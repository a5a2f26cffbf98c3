// Signing in to an RTSP server (a 401 answered with Basic or Digest, as over HTTP) and following
// its redirections.

#include "session/rtsp_protocol.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr int kMaxRedirections = 10;
constexpr int32_t kStandardRtspPort = 554;

}  // namespace

std::string RtspProtocol::Authorization(const char* method, const std::string& url) {
  // Digest hashes the request's method and URL as the request line gives them.
  return sign_in_.Authorization(method, url);
}

bool RtspProtocol::SignIn(const RtspMessage& answer) {
  if (sign_in_.SignedIn()) {
    // The credentials given were refused.
    port_.Post("RTSP/1.0 401 Unauthorized: the server refused the user name and password", mcFatal);
    port_.Terminate();
    return false;
  }
  if (!port_.Config().Prompts.AskHttpCredentials ||
      !sign_in_.TakeChallenge(answer.All("WWW-Authenticate"))) {
    port_.Post("RTSP/1.0 401 Unauthorized", mcFatal);
    port_.Terminate();
    return false;
  }
  const std::string realm = sign_in_.Realm();
  port_.Post("RTSP: the server asks for a password" + (realm.empty() ? "" : " (" + realm + ")"),
             mcNormal);
  // The site as saved credentials name it: "host:port" in lower case.
  const std::string site = THelper::LowerCase(target_.host) + ":" +
                           std::to_string(target_.port > 0 ? target_.port : kStandardRtspPort);
  // A stop while the user is still looking at the dialog wakes the wait (WakeWaits).
  if (!sign_in_.AskUser(port_, site, "RTSP/1.0 401 Unauthorized")) return false;
  port_.Input().RestartStageClock();
  // The refused request again, now signed, on the same connection.
  switch (state_.load()) {
    case State::kOptions:
      SendOptions();
      break;
    case State::kDescribe:
      SendDescribe();
      break;
    case State::kSetup:
      SendNextSetup();
      break;
    case State::kPlay:
      SendPlay();
      break;
    default:
      break;
  }
  return true;
}

bool RtspProtocol::Redirect(const RtspMessage& answer) {
  const std::string location = answer.Header("Location");
  const std::string lower = THelper::LowerCase(location);
  size_t start = 0;
  for (const char* scheme : {"rtsp://", "rtspu://", "rtspt://"}) {
    if (lower.rfind(scheme, 0) == 0) start = std::string(scheme).size();
  }
  if (location.empty() || start == 0 || redirections_ >= kMaxRedirections) {
    if (redirections_ >= kMaxRedirections) port_.Post("RTSP: Too many redirections", mcWarning);
    port_.Post("RTSP/1.0 " + std::to_string(answer.status) + " " + answer.reason +
                   (location.empty() ? std::string() : " to " + location) + ": cannot be followed",
               mcFatal);
    port_.Terminate();
    return false;
  }
  const size_t slash = location.find('/', start);
  const std::string authority = location.substr(start, slash - start);
  std::string host = authority;
  int32_t portNumber = kStandardRtspPort;
  const size_t colon = authority.rfind(':');
  const size_t bracket = authority.rfind(']');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    const std::string digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) < 1 ||
        std::stoi(digits) > 65535) {
      port_.Post("RTSP: the server redirected to an address with no valid port: " + location,
                 mcFatal);
      port_.Terminate();
      return false;
    }
    portNumber = std::stoi(digits);
    host = authority.substr(0, colon);
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) {
    port_.Post("RTSP: the server redirected to an address with no host: " + location, mcFatal);
    port_.Terminate();
    return false;
  }
  ++redirections_;
  target_ = Endpoint{host, portNumber};
  path_ = slash == std::string::npos ? std::string() : location.substr(slash + 1);
  port_.Post("RTSP: redirected to " + location, mcNormal);
  // What the old connection still brings is dropped with it; the new one opens with OPTIONS.
  port_.Input().ExpectNewConnection();
  port_.Connect(target_);
  return true;
}

}  // namespace qor
