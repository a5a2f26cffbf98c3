#pragma once
// THttpClient: the small HTTP/1.0 client that fetches web pages and redirector files for location
// loading. Get is synchronous for its caller but keeps the window thread serving its timers and
// handovers while it waits. It follows redirections (300 to 302, at most kMaxRedirections), sends
// Basic credentials and a cookie only to the server they belong to, and bounds everything a
// server can make it hold. Failures are raised as ESocketError; HTTP error statuses are not
// failures: they raise OnFailure and leave the response in Header and Body.
//
// Events of one pass, in order: OnAboutToSend, [OnInvalidHost], OnConnect or OnConnectionFailed,
// then OnSuccess or OnFailure (none for a followed redirection), [OnRedirect] (then the next pass),
// and last [OnAuthenticationNeeded] for a 401.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "http/header_lines.h"
#include "http/http_response.h"
#include "http/request_url.h"
#include "http/socket_client.h"

namespace qor {

// Values sent with every request.
struct THeaderInfo {
  std::string LocalMailAddress;  // sent as "User-Agent"
  std::string LocalProgram;      // sent as "From"
  std::string Cookie;
  std::string Referer;
  std::string UserId;
  std::string Password;
};

class THttpClient : public TSocketClient {
 public:
  static constexpr int32_t kCommandGet = 0;
  static constexpr int kMaxRedirections = 10;

  THttpClient();

  std::string Proxy;  // empty: connect directly
  int32_t ProxyPort = 0;
  std::string Body = "Default.htm";
  std::string Header = "Head.txt";
  THeaderInfo HeaderInfo;
  // Lines of the caller's own ("Name: value", without a line end) sent after the standard ones;
  // a server of HTTP streaming is asked for what it describes with these.
  std::vector<std::string> ExtraLines;
  int32_t ReportLevel = 0;

  std::function<void(TSocketClient* sender)> OnAboutToSend;
  std::function<void(int32_t command)> OnSuccess;
  std::function<void(int32_t command)> OnFailure;
  std::function<void(bool& handled)> OnRedirect;
  std::function<void(TSocketClient* sender)> OnAuthenticationNeeded;

  // Fetches url with GET, following redirections. Body and Header are emptied first.
  void Get(const std::string& url);
  // Gives the client credentials for the server that last asked for them (or, when none has,
  // for the server of the next Get). Assigning HeaderInfo.UserId and Password directly does the
  // same once the values differ from the ones in use.
  void SetCredentials(const std::string& userId, const std::string& password);

  // The state of the last request.
  const std::string& CurrentUrl() const { return current_url_; }
  const std::string& Host() const { return request_.host; }
  const std::string& Path() const { return request_.path; }
  int16_t StatusCode() const { return status_code_; }
  // The site ("host:port", lower case) that last asked for credentials, and the status with which
  // a server answered the last request of the last Get that carried them (0: none did).
  const std::string& AskedOrigin() const { return asked_origin_; }
  int16_t CredentialsAnswer() const { return credentials_answer_; }
  const THeaderLines& RequestLines() const { return request_lines_; }

 private:
  // Where a credential or a cookie may go: the site it was given for.
  struct Binding {
    std::string origin;  // "host:port" in lower case; empty: not bound yet
    std::string seen;    // the value the origin was recorded for
    bool rebind = false;
  };

  static std::string OriginOf(const std::string& host, int32_t port);
  bool MayReceive(Binding& binding, const std::string& value, const std::string& fallback,
                  const std::string& origin);
  void BuildRequest(const std::string& origin);
  void ReadHead(ResponseHead& head);
  void ReadBody(const ResponseHead& head);

  std::string current_url_;
  RequestUrl request_;
  int16_t status_code_ = 0;
  THeaderLines request_lines_;
  std::string get_origin_;       // the site the caller asked for in this Get
  std::string url_credentials_;  // "user:password" written in the caller's location
  std::string asked_origin_;     // the last site that answered 401
  Binding credentials_;
  Binding cookie_;
  bool authorization_sent_ = false;
  int16_t credentials_answer_ = 0;
};

}  // namespace qor
