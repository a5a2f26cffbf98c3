#include "support/location.h"

#include <cctype>

namespace qor {

namespace {

constexpr std::string_view kSchemeMark = "://";
constexpr std::string_view kHidden = "***";

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsScheme(std::string_view name) {
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name.front()))) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A port as a location writes it: 1 to 5 digits, 1 to 65535; 0 for anything else.
int32_t PortOf(std::string_view text) {
  if (text.empty() || text.size() > 5) return 0;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value <= 65535 ? value : 0;
}

// Where the authority that starts at begin ends: at its path, query or fragment. A text that
// runs on (a log line) also ends it at a blank or a quote.
size_t AuthorityEnd(std::string_view text, size_t begin, bool inRunningText) {
  for (size_t i = begin; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '/' || c == '?' || c == '#' || c == '\\') return i;
    if (inRunningText && (IsBlank(c) || c == '"' || c == '\'' || c == '<' || c == '>')) return i;
  }
  return text.size();
}

// The user information of the location whose "://" is at mark: [begin, at) before its "@".
bool UserInfoSpan(std::string_view text, size_t mark, bool inRunningText, size_t& begin,
                  size_t& at) {
  begin = mark + kSchemeMark.size();
  const size_t end = AuthorityEnd(text, begin, inRunningText);
  // The last "@": a password may hold one of its own, a host never does.
  const size_t found = text.substr(begin, end - begin).rfind('@');
  if (found == std::string_view::npos) return false;
  at = begin + found;
  return true;
}

// Host and port of an authority without user information.
LocationProblem ReadHostAndPort(std::string_view text, Location& out) {
  std::string_view rest;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) {
      out.host = std::string(text);
      return LocationProblem::BadHost;
    }
    out.host = std::string(text.substr(0, close + 1));
    rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return LocationProblem::BadHost;
    if (close == 1) return LocationProblem::NoHost;
  } else {
    const size_t colon = text.find(':');
    out.host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) rest = text.substr(colon);
    if (out.host.empty()) return LocationProblem::NoHost;
  }
  if (rest.empty()) return LocationProblem::None;
  out.hasPort = true;
  out.portText = std::string(rest.substr(1));
  out.port = PortOf(out.portText);
  return out.port == 0 ? LocationProblem::BadPort : LocationProblem::None;
}

}  // namespace

LocationProblem ParseLocation(std::string_view text, Location& out) {
  out = Location{};
  text = Trimmed(text);
  const size_t mark = text.find(kSchemeMark);
  if (mark == std::string_view::npos || !IsScheme(text.substr(0, mark)))
    return LocationProblem::NoScheme;
  out.scheme = Lower(text.substr(0, mark));
  const size_t begin = mark + kSchemeMark.size();
  const size_t end = AuthorityEnd(text, begin, false);
  out.path = std::string(text.substr(end));
  std::string_view authority = text.substr(begin, end - begin);
  size_t userBegin = 0, at = 0;
  if (UserInfoSpan(text, mark, false, userBegin, at)) {
    const std::string_view info = text.substr(userBegin, at - userBegin);
    const size_t colon = info.find(':');
    out.hasUser = true;
    out.user = std::string(info.substr(0, colon));
    if (colon != std::string_view::npos) {
      out.hasPassword = true;
      out.password = std::string(info.substr(colon + 1));
    }
    authority = text.substr(at + 1, end - at - 1);
  }
  return ReadHostAndPort(authority, out);
}

std::string HostAndPort(std::string_view host, int32_t port) {
  std::string text = BracketedAddress(host);
  if (port > 0) text += ":" + std::to_string(port);
  return text;
}

bool SplitHostAndPort(std::string_view text, std::string& host, int32_t& port) {
  port = 0;
  // A bare IPv6 address has colons of its own and no port.
  if (!text.empty() && text.front() != '[' && text.find(':') != text.rfind(':')) {
    host = BracketedAddress(text);
    return true;
  }
  Location parts;
  const LocationProblem problem = ReadHostAndPort(text, parts);
  host = parts.host;
  port = parts.port;
  return problem == LocationProblem::None;
}

std::string BareHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return std::string(host.substr(1, host.size() - 2));
  return std::string(host);
}

std::string BracketedAddress(std::string_view address) {
  if (address.find(':') == std::string_view::npos || address.front() == '[')
    return std::string(address);
  return "[" + std::string(address) + "]";
}

std::string WithoutUserInfo(std::string_view location) {
  const size_t mark = location.find(kSchemeMark);
  size_t begin = 0, at = 0;
  if (mark == std::string_view::npos || !UserInfoSpan(location, mark, false, begin, at))
    return std::string(location);
  return std::string(location.substr(0, begin)) + std::string(location.substr(at + 1));
}

std::string WithoutPassword(std::string_view location) {
  const size_t mark = location.find(kSchemeMark);
  size_t begin = 0, at = 0;
  if (mark == std::string_view::npos || !UserInfoSpan(location, mark, false, begin, at))
    return std::string(location);
  const size_t colon = location.substr(begin, at - begin).find(':');
  if (colon == std::string_view::npos) return std::string(location);
  return std::string(location.substr(0, begin + colon)) + std::string(location.substr(at));
}

std::string HidePasswords(std::string_view text) {
  std::string out;
  size_t copied = 0;
  for (size_t mark = text.find(kSchemeMark); mark != std::string_view::npos;
       mark = text.find(kSchemeMark, mark + kSchemeMark.size())) {
    size_t begin = 0, at = 0;
    if (!UserInfoSpan(text, mark, true, begin, at)) continue;
    const size_t colon = text.substr(begin, at - begin).find(':');
    if (colon == std::string_view::npos || begin + colon + 1 == at) continue;
    out.append(text.substr(copied, begin + colon + 1 - copied));
    out.append(kHidden);
    copied = at;
    mark = at;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace qor
