#pragma once
// The request head of an HTTP client, read tolerantly: HTTP/1.0 or 1.1, CR LF or bare LF line
// ends, any header order, Pragma directives on one line or several.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qor::server {

inline constexpr size_t kMaxRequestHead = 16 * 1024;

struct HttpRequest {
  std::string method, target, version;
  // The target as a proxy gets it ("http://host:port/path"); empty for a plain path.
  std::string absoluteTarget;
  std::vector<std::pair<std::string, std::string>> headers;

  // First header of that name (case-insensitive), or empty.
  std::string Header(const std::string& name) const;
  // Every directive of every Pragma line, trimmed, in order.
  std::vector<std::string> Pragmas() const;
  // Value of the first "key=value" directive (case-insensitive key).
  std::optional<std::string> Pragma(const std::string& key) const;
  // A directive's value as a decimal number ("5.000", "2147483647"); 0 when absent or no number.
  double PragmaNumber(const std::string& key) const;
  bool FromMediaPlayer() const;  // a Windows Media player's user agent
  bool PlayRequest() const;      // xPlayStrm=1
  // stream-time in ms: the digits at the start of its value (0 when absent).
  uint32_t StreamTimeMs() const;
};

enum class HeadParse { kNeedMore, kDone, kBad };
// Looks for a whole request head at the start of buffer; consumed is its length.
HeadParse ParseHttpRequest(const std::string& buffer, HttpRequest& out, size_t& consumed);

}  // namespace qor::server
