#include "session/http_sign_in.h"

#include "session/session_port.h"
#include "support/helper.h"

namespace qor {

bool HttpSignIn::TakeChallenge(const std::vector<std::string>& values) {
  std::vector<AuthChallenge> offered;
  for (const std::string& value : values) {
    AuthChallenge challenge;
    if (ParseAuthChallenge(value, challenge)) offered.push_back(challenge);
  }
  return ChooseAuthChallenge(offered, challenge_);
}

bool HttpSignIn::AskUser(SessionPort& port, const std::string& site, const std::string& refused) {
  std::optional<std::pair<std::string, std::string>> credentials;
  if (!credentials_answer_.Ask([prompt = port.Config().Prompts.AskHttpCredentials, site,
                                realm = Realm()] { return prompt(site, realm); },
                               [&port] { return port.Terminated(); }, credentials))
    return false;
  if (!credentials) {
    port.Post(refused + ": no credentials were given", mcFatal);
    port.Terminate();
    return false;
  }
  user_ = credentials->first;
  password_ = credentials->second;
  signed_in_ = true;
  nonce_count_ = 0;
  cnonce_ = THelper::NewGuidText().substr(1, 8);
  return true;
}

void HttpSignIn::ReportAnswer(const SessionPrompts& prompts, bool accepted) {
  if (!signed_in_ || answer_reported_ || !prompts.HttpCredentialsAnswered) return;
  answer_reported_ = true;
  prompts.HttpCredentialsAnswered(accepted);
}

std::string HttpSignIn::Authorization(const std::string& method, const std::string& uri) {
  if (!signed_in_) return std::string();
  return AuthorizationValue(challenge_, user_, password_, method, uri, ++nonce_count_, cnonce_);
}

}  // namespace qor
