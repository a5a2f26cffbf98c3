#pragma once
// HTTP authentication as Windows Media servers and web servers ask for it: Basic and Digest
// (MD5, with or without qop="auth"). Both sides use it: the session answers a 401 with it and
// qor-server checks what a client sent. Every parser reads only inside the text it is given.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qor {

// The MD5 digest of bytes, as 32 lower-case hexadecimal digits.
std::string Md5Hex(const std::string& bytes);

// One challenge of a WWW-Authenticate line: its scheme in lower case ("basic", "digest") and its
// parameters (names in lower case, quoted values unquoted).
struct AuthChallenge {
  std::string scheme;
  std::map<std::string, std::string> params;
  std::string Param(const std::string& name) const;
};

// Reads the value of a WWW-Authenticate (or Authorization) line: "Digest realm="x", nonce="y"".
// False when it holds no scheme.
bool ParseAuthChallenge(const std::string& value, AuthChallenge& challenge);

// The challenge to answer among several: Digest with MD5 where offered (the password does not go
// over the network), else Basic. False when none of them is one we can answer.
bool ChooseAuthChallenge(const std::vector<AuthChallenge>& offered, AuthChallenge& chosen);

// The value of an Authorization line for one request. nonceCount counts the requests made with
// the challenge's nonce (from 1); cnonce is the client's nonce.
std::string AuthorizationValue(const AuthChallenge& challenge, const std::string& user,
                               const std::string& password, const std::string& method,
                               const std::string& uri, uint32_t nonceCount,
                               const std::string& cnonce);

// The Digest response a client that knows the password sends for these fields (qop empty for the
// old form without qop).
std::string DigestResponse(const std::string& user, const std::string& realm,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nonce,
                           const std::string& nc, const std::string& cnonce,
                           const std::string& qop);

}  // namespace qor
