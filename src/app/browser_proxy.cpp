#include "app/browser_proxy.h"

#include <cstdlib>

#include "support/helper.h"
#include "support/location.h"

namespace qor {

std::string StripProxyAddress(const std::string& address) {
  std::string text = THelper::Trim(address);
  // Read as the authority of a location, whatever scheme it names or leaves out.
  if (text.find("://") == std::string::npos) text = "http://" + text;
  Location parts;
  ParseLocation(text, parts);
  return parts.host + (parts.hasPort ? ":" + parts.portText : std::string());
}

std::string BrowserProxyValue() {
  for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return StripProxyAddress(value);
  }
  return "";
}

std::optional<ProxySplit> SplitProxyValue(const std::string& value) {
  // The colons of an IPv6 literal are inside its brackets.
  const size_t close = value.find(']');
  const size_t colon = value.find(
      ':', THelper::Trim(value).starts_with('[') && close != std::string::npos ? close : 0);
  if (colon == std::string::npos) return std::nullopt;
  return ProxySplit{THelper::Trim(value.substr(0, colon)), THelper::Trim(value.substr(colon + 1))};
}

}  // namespace qor
