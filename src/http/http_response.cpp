#include "http/http_response.h"

#include <cctype>
#include <limits>

namespace qor {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view WithoutTerminator(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// A Content-Length we act on: decimal digits only, surrounded by blanks at most.
int64_t ParseLength(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty() || text.size() > 18) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

int16_t StatusCodeOf(std::string_view statusLine) {
  std::string_view rest = WithoutTerminator(statusLine);
  size_t pos = 0;
  while (pos < rest.size() && rest[pos] == ' ') ++pos;
  while (pos < rest.size() && rest[pos] != ' ') ++pos;  // the protocol field
  while (pos < rest.size() && rest[pos] == ' ') ++pos;
  size_t end = pos;
  while (end < rest.size() && rest[end] != ' ') ++end;
  std::string_view field = rest.substr(pos, end - pos);
  if (field.empty() || field.size() > 5) return 0;
  int32_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  if (value > std::numeric_limits<int16_t>::max()) return 0;
  return static_cast<int16_t>(value);
}

bool HeaderValueOf(std::string_view line, std::string_view name, std::string& value) {
  if (!StartsWithNoCase(line, name)) return false;
  std::string_view rest = WithoutTerminator(line.substr(name.size()));
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
  value.assign(rest.substr(0, kMaxValueLength));
  return true;
}

bool IsEndOfHead(std::string_view line) {
  return line.empty() || line == "\n" || line == "\r\n";
}

HeadStep AddHeadLine(ResponseHead& head, std::string_view line) {
  if (head.complete) return HeadStep::Complete;
  if (head.text.size() + line.size() > kMaxHeaderBytes || head.lines >= kMaxHeaderLines) {
    return HeadStep::TooLarge;
  }
  head.text.append(line);
  ++head.lines;
  if (head.lines == 1) {
    head.status = StatusCodeOf(line);
    // A response without any header line ends at its first empty line like any other.
    if (IsEndOfHead(line)) head.complete = true;
    return head.complete ? HeadStep::Complete : HeadStep::More;
  }
  if (IsEndOfHead(line)) {
    head.complete = true;
    return HeadStep::Complete;
  }
  std::string value;
  if (HeaderValueOf(line, "SET-COOKIE:", value)) {
    head.hasCookie = true;
    head.cookie = std::move(value);
  } else if (HeaderValueOf(line, "LOCATION:", value)) {
    head.hasLocation = true;
    head.location = std::move(value);
  } else if (HeaderValueOf(line, "CONTENT-LENGTH:", value)) {
    int64_t length = ParseLength(value);
    if (length >= 0 && head.contentLength < 0) head.contentLength = length;
  }
  return HeadStep::More;
}

}  // namespace qor
