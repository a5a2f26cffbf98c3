#include "app/browser_proxy.h"

#include <cstdlib>

#include "support/helper.h"

namespace qor {

std::string StripProxyAddress(const std::string& address) {
  std::string text = THelper::Trim(address);
  const size_t scheme = text.find("://");
  if (scheme != std::string::npos) text.erase(0, scheme + 3);
  // The authority ends where a path, query or fragment begins.
  const size_t end = text.find_first_of("/?#");
  if (end != std::string::npos) text.erase(end);
  const size_t at = text.rfind('@');
  if (at != std::string::npos) text.erase(0, at + 1);
  return text;
}

std::string BrowserProxyValue() {
  for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return StripProxyAddress(value);
  }
  return "";
}

std::optional<ProxySplit> SplitProxyValue(const std::string& value) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return ProxySplit{THelper::Trim(value.substr(0, colon)), THelper::Trim(value.substr(colon + 1))};
}

}  // namespace qor
