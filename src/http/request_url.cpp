#include "http/request_url.h"

#include "http/http_response.h"
#include "support/helper.h"
#include "support/location.h"

namespace qor {

std::string SiteOf(const std::string& host, int32_t port) {
  std::string site = "http://" + host;
  if (port != 80) site += ":" + std::to_string(port);
  return site;
}

std::string ParseRequestUrl(const std::string& location, const std::string& previousHost,
                            int32_t previousPort, RequestUrl& out) {
  if (location.empty()) return "Empty URL";
  out = RequestUrl{};
  out.port = previousPort == 0 ? 80 : previousPort;

  // A colon names a scheme only before the first '/', '?' or '#': one inside a relative path or a
  // query ("/page?t=1:2") must not reset the port of the server that sent it.
  size_t colon = location.find(':');
  size_t firstDelimiter = location.find_first_of("/?#");
  if (colon != std::string::npos && colon < firstDelimiter) {
    std::string scheme = THelper::LowerCase(location.substr(0, colon));
    if (scheme == "https") return "HTTP Secure Socket is not supported";
    if (scheme == "gopher") {
      out.port = 70;
    } else if (scheme == "ftp") {
      out.port = 21;
    } else {
      out.port = 80;
    }
  }

  // "//" marks a host only where it is the first slash of the location, so a "//" inside a path
  // or a query of a relative location is taken as part of the path.
  size_t firstSlash = location.find('/');
  bool withAuthority =
      firstSlash != std::string::npos && location.compare(firstSlash, 2, "//") == 0;
  std::string path;
  bool hasHost = false;
  std::string host;
  if (withAuthority) {
    // The authority is read as any location's is (user information, a bracketed IPv6 literal,
    // the port); the scheme was read above.
    Location parts;
    ParseLocation("x:" + location.substr(firstSlash), parts);
    host = parts.host;
    if (parts.port > 0) out.port = parts.port;
    out.user = parts.user;
    out.password = parts.password;
    out.hasUser = parts.hasUser;
    path = parts.path;
    // "http://host?query": the query belongs to the path, not to the host name.
    if (!path.empty() && path.front() != '/') path = "/" + path;
    hasHost = true;
  } else if (firstSlash == 0) {
    path = location;
  } else {
    std::string hostField = location.substr(0, firstSlash);
    if (firstSlash != std::string::npos) path = location.substr(firstSlash);
    size_t query = hostField.find_first_of("?#");
    if (query != std::string::npos) {
      path = "/" + hostField.substr(query) + path;
      hostField.resize(query);
    }
    std::string bare;
    int32_t port = 0;
    SplitHostAndPort(hostField, bare, port);
    if (port > 0) out.port = port;
    host = hostField.empty() ? std::string() : bare;
    hasHost = true;
  }
  if (hasHost && !host.empty()) {
    out.host = host;
  } else {
    out.host = previousHost;
    hasHost = false;
  }

  if (path.size() > kMaxValueLength) path.resize(kMaxValueLength);
  // Credentials go in their own request line, never in the request's location.
  const std::string named = WithoutUserInfo(location);
  if (path.empty()) {
    path = "/";
    out.url = named + "/";
  } else {
    out.url = named;
  }
  out.path = path;
  // A relative location is completed with the server it is relative to, so that the request
  // through a proxy and any later relative location still name that server.
  if (!hasHost) out.url = SiteOf(out.host, out.port) + path;
  return {};
}

}  // namespace qor
