// Arbitrary text through the location parser and the password hiding that every log line passes:
// locations come from users, play lists and redirections.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/location.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qor::Location parts;
  const qor::LocationProblem problem = qor::ParseLocation(text, parts);
  for (const std::string* piece :
       {&parts.scheme, &parts.user, &parts.password, &parts.host, &parts.portText, &parts.path})
    Check(piece->size() <= text.size());
  Check(parts.port >= 0 && parts.port <= 65535);
  if (problem == qor::LocationProblem::None) {
    // What a location's host and port are written as splits back into the same two.
    std::string host;
    int32_t port = 0;
    Check(qor::SplitHostAndPort(qor::HostAndPort(parts.host, parts.port), host, port));
    Check(host == parts.host && port == parts.port);
  }
  const std::string hidden = qor::HidePasswords(text);
  Check(qor::HidePasswords(hidden) == hidden);
  qor::Location bare;
  if (qor::ParseLocation(qor::WithoutUserInfo(text), bare) != qor::LocationProblem::NoScheme)
    Check(!bare.hasUser);
  Check(qor::WithoutPassword(text).size() <= text.size());
  return 0;
}
