#include "session/rtsp_message.h"

#include <algorithm>

namespace qor {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// A decimal number of at most digits digits, nothing else; -1 otherwise.
int64_t Decimal(std::string_view text, size_t digits) {
  if (text.empty() || text.size() > digits) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool IsMethodChar(char c) {
  return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

// The start line of a message: "RTSP/1.0 200 OK" or "SET_PARAMETER rtsp://... RTSP/1.0".
bool ReadStartLine(std::string_view line, RtspMessage& out) {
  if (line.rfind("RTSP/", 0) == 0) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return false;
    std::string_view rest = line.substr(blank + 1);
    const int64_t status = Decimal(rest.substr(0, 3), 3);
    if (status < 100 || (rest.size() > 3 && rest[3] != ' ')) return false;
    out.status = static_cast<int>(status);
    out.reason = std::string(Trim(rest.substr(std::min<size_t>(rest.size(), 3))));
    return true;
  }
  const size_t first = line.find(' ');
  const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (first == 0 || second == std::string_view::npos || second == first + 1) return false;
  const std::string_view method = line.substr(0, first);
  if (!std::all_of(method.begin(), method.end(), IsMethodChar)) return false;
  if (Trim(line.substr(second + 1)).rfind("RTSP/", 0) != 0) return false;
  out.method = std::string(method);
  out.url = std::string(line.substr(first + 1, second - first - 1));
  return true;
}

}  // namespace

RtspUnit FrameRtspUnit(const uint8_t* data, size_t length) {
  RtspUnit unit;
  if (length == 0) return unit;
  if (data[0] == '$') {
    if (length < 4) return unit;
    const size_t payload = (size_t{data[2]} << 8) | data[3];
    if (length - 4 < payload) return unit;
    unit.kind = RtspUnitKind::kInterleaved;
    unit.channel = data[1];
    unit.consumed = 4 + payload;
    return unit;
  }
  size_t skipped = 0;
  while (skipped < length && (data[skipped] == '\r' || data[skipped] == '\n')) ++skipped;
  if (skipped > 0) {
    unit.consumed = skipped;  // blank lines between messages
    return unit;
  }
  // The head's lines, until the blank one; Content-Length is all the framing needs of them.
  const std::string_view text(reinterpret_cast<const char*>(data),
                              std::min(length, kMaxRtspHead + 4));
  int64_t bodyLength = 0;
  size_t at = 0;
  for (bool firstLine = true;; firstLine = false) {
    const size_t end = text.find('\n', at);
    const std::string_view line =
        text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    // Binary bytes where a start line belongs: whatever this is, it is no RTSP.
    if (firstLine && !std::all_of(line.begin(), line.end(), [](char c) {
          return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\t';
        }))
      unit.kind = RtspUnitKind::kBad;
    if (end == std::string_view::npos) break;
    if (firstLine) {
      RtspMessage probe;
      if (!ReadStartLine(Trim(line), probe)) unit.kind = RtspUnitKind::kBad;
    }
    if (unit.kind == RtspUnitKind::kBad) return unit;
    at = end + 1;
    if (at > kMaxRtspHead) break;
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) {
      if (length - at < static_cast<uint64_t>(bodyLength)) return unit;
      unit.kind = RtspUnitKind::kMessage;
      unit.consumed = at + static_cast<size_t>(bodyLength);
      return unit;
    }
    // A line that starts with a blank continues the header before it.
    const bool folded = line.front() == ' ' || line.front() == '\t';
    const size_t colon = trimmed.find(':');
    if (!folded && colon != std::string_view::npos &&
        SameName(Trim(trimmed.substr(0, colon)), "content-length")) {
      bodyLength = Decimal(Trim(trimmed.substr(colon + 1)), 9);
      if (bodyLength < 0 || static_cast<uint64_t>(bodyLength) > kMaxRtspBody) {
        unit.kind = RtspUnitKind::kBad;
        return unit;
      }
    }
  }
  if (unit.kind == RtspUnitKind::kBad || length > kMaxRtspHead) unit.kind = RtspUnitKind::kBad;
  return unit;
}

bool ParseRtspMessage(const uint8_t* data, size_t length, RtspMessage& out) {
  out = RtspMessage{};
  const std::string_view text(reinterpret_cast<const char*>(data), length);
  size_t at = 0;
  bool started = false;
  int64_t bodyLength = 0;
  for (;;) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return false;  // no blank line ends the head
    const std::string_view line = Trim(text.substr(at, end - at));
    const bool folded = !text.empty() && at < end && (text[at] == ' ' || text[at] == '\t');
    at = end + 1;
    if (!started) {
      if (line.empty()) continue;  // blank lines before the message
      if (!ReadStartLine(line, out)) return false;
      started = true;
      continue;
    }
    if (line.empty()) break;
    if (folded) {
      // A header continued on the next line (with none before it, nothing to continue).
      if (!out.headers.empty()) out.headers.back().second += " " + std::string(line);
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;  // not a header: nothing to take from it
    out.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                             std::string(Trim(line.substr(colon + 1))));
    if (SameName(out.headers.back().first, "content-length")) {
      bodyLength = Decimal(out.headers.back().second, 9);
      if (bodyLength < 0) return false;
    }
  }
  if (text.size() - at != static_cast<uint64_t>(bodyLength)) return false;
  out.body = std::string(text.substr(at));
  return true;
}

std::string RtspMessage::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (SameName(key, name)) return value;
  return std::string();
}

bool RtspMessage::Has(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return SameName(h.first, name); });
}

std::vector<std::string> RtspMessage::All(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers)
    if (SameName(key, name)) values.push_back(value);
  return values;
}

int64_t RtspMessage::CSeq() const {
  return Decimal(Header("CSeq"), 9);
}

}  // namespace qor
