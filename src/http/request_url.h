#pragma once
// Splitting a location into what one GET needs: port, host and path. A location may be complete
// ("http://host:port/path") or relative to the previous request ("/path", "name"); what it does
// not say is kept from the previous request.

#include <cstdint>
#include <string>

namespace qor {

struct RequestUrl {
  std::string url;   // the location as it will be requested (absolute, "/" appended if pathless)
  std::string host;  // without port; an IPv6 literal in its brackets
  std::string path;  // begins with "/"
  int32_t port = 80;
  // Credentials written in the location ("http://ann:pw@host/"), for its own server only.
  std::string user, password;
  bool hasUser = false;
};

// Parses location against the previous request's host and port. Returns the empty text on success,
// otherwise the error text ("Empty URL", "HTTP Secure Socket is not supported").
std::string ParseRequestUrl(const std::string& location, const std::string& previousHost,
                            int32_t previousPort, RequestUrl& out);

// "http://host[:port]" with the port left out when it is 80.
std::string SiteOf(const std::string& host, int32_t port);

}  // namespace qor
