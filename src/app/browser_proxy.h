#pragma once
// The browser's proxy as the desktop gives it: http_proxy, else HTTP_PROXY, reduced to
// "host:port" (scheme, credentials and path taken off) and split at its first ":".

#include <optional>
#include <string>

namespace qor {

// The "host:port" part of the environment's proxy setting; empty when none is set.
std::string BrowserProxyValue();
// Takes scheme, credentials and path off a proxy address.
std::string StripProxyAddress(const std::string& address);

struct ProxySplit {
  std::string Host;
  std::string Port;
};
// The trimmed texts before and after the first ":" (after the brackets of an IPv6 literal);
// none when there is no ":".
std::optional<ProxySplit> SplitProxyValue(const std::string& value);

}  // namespace qor
