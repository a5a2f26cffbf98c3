#include "http/request_url.h"

#include "http/http_response.h"
#include "support/helper.h"

namespace qor {

namespace {

// The position of the n-th '/' (1-based), or npos.
size_t NthSlash(const std::string& text, int n) {
  size_t pos = std::string::npos;
  for (int i = 0; i < n; ++i) {
    pos = text.find('/', pos == std::string::npos ? 0 : pos + 1);
    if (pos == std::string::npos) break;
  }
  return pos;
}

// A port written in a location: decimal, 1 to 65535; anything else is ignored.
bool ParsePort(const std::string& text, int32_t& port) {
  if (text.empty() || text.size() > 5) return false;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

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
  std::string hostField;
  std::string path;
  bool hasHost = false;
  if (withAuthority) {
    size_t third = NthSlash(location, 3);
    size_t hostStart = firstSlash + 2;
    size_t hostEnd = third == std::string::npos ? location.size() : third;
    hostField = location.substr(hostStart, hostEnd - hostStart);
    if (third != std::string::npos) path = location.substr(third);
    hasHost = true;
  } else if (firstSlash == 0) {
    path = location;
  } else {
    hostField = location.substr(0, firstSlash);
    if (firstSlash != std::string::npos) path = location.substr(firstSlash);
    hasHost = true;
  }
  // "http://host?query": the query belongs to the path, not to the host name.
  size_t query = hostField.find_first_of("?#");
  if (query != std::string::npos) {
    path = "/" + hostField.substr(query) + path;
    hostField.resize(query);
  }
  size_t portColon = hostField.find(':');
  if (portColon != std::string::npos) {
    ParsePort(hostField.substr(portColon + 1), out.port);
    hostField.resize(portColon);
  }
  if (hasHost && !hostField.empty()) {
    out.host = hostField;
  } else {
    out.host = previousHost;
    hasHost = false;
  }

  if (path.size() > kMaxValueLength) path.resize(kMaxValueLength);
  if (path.empty()) {
    path = "/";
    out.url = location + "/";
  } else {
    out.url = location;
  }
  out.path = path;
  // A relative location is completed with the server it is relative to, so that the request
  // through a proxy and any later relative location still name that server.
  if (!hasHost) out.url = SiteOf(out.host, out.port) + path;
  return {};
}

}  // namespace qor
