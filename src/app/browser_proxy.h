#pragma once
// The browser's proxy as this desktop gives it: http_proxy, else HTTP_PROXY, else the desktop's
// own proxy settings (GNOME's, read with gsettings, when set to manual), reduced to "host:port"
// (scheme, credentials and path taken off) and split at its first ":".

#include <optional>
#include <string>

namespace qor {

// The "host:port" of the proxy set for this session; empty when none is set.
std::string BrowserProxyValue();
// The desktop's manual HTTP proxy as "host:port"; empty when it has none or cannot be asked.
std::string DesktopProxyValue();
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
