#pragma once
// Signing in with HTTP authentication (Basic or Digest), as HTTP streaming and RTSP both do: the
// challenge the server sent, the credentials the user gave (asked once, through the window) and
// the Authorization value of each request signed with them.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/window_answer.h"
#include "support/http_auth.h"

namespace qor {

class SessionPort;
struct SessionPrompts;

class HttpSignIn {
 public:
  // Keeps the strongest of the server's WWW-Authenticate values; false when none can be used.
  bool TakeChallenge(const std::vector<std::string>& values);
  std::string Realm() const { return challenge_.Param("realm"); }

  // Session thread: asks the user for the site's ("host:port") user name and password. False when
  // the session stops first, or when none are given: then the session ends, its log saying so
  // after the refused answer's status line.
  bool AskUser(SessionPort& port, const std::string& site, const std::string& refused);
  // Credentials were given: a second 401 means they are wrong.
  bool SignedIn() const { return signed_in_; }
  // The first answer to a signed request tells the window whether to keep the credentials; once.
  void ReportAnswer(const SessionPrompts& prompts, bool accepted);
  // The Authorization value of a request as its request line names it; empty before signing in.
  std::string Authorization(const std::string& method, const std::string& uri);
  // A stop wakes a wait for the user's answer.
  void Wake() { credentials_answer_.Wake(); }

 private:
  WindowAnswer<std::optional<std::pair<std::string, std::string>>> credentials_answer_;
  AuthChallenge challenge_;
  std::string user_, password_;
  bool signed_in_ = false;
  bool answer_reported_ = false;
  uint32_t nonce_count_ = 0;  // requests that went out with the challenge's nonce
  std::string cnonce_;
};

}  // namespace qor
