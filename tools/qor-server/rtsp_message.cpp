#include "rtsp_message.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace qor::server {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

}  // namespace

std::string RtspRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers)
    if (Lower(key) == wanted) return value;
  return "";
}

bool RtspRequest::Has(const std::string& name) const {
  const std::string wanted = Lower(name);
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return Lower(h.first) == wanted; });
}

long RtspRequest::CSeq() const {
  const std::string text = Header("CSeq");
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::strtol(text.c_str(), nullptr, 10);
}

void RtspRequest::SplitUrl(std::string& path, std::string& query) const {
  std::string rest = url;
  // rtsp://host:port/path, rtspu://, rtspt:// or a bare path.
  const size_t scheme = rest.find("://");
  if (scheme != std::string::npos) {
    const size_t slash = rest.find('/', scheme + 3);
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  const size_t mark = rest.find('?');
  path = rest.substr(0, mark);
  query = mark == std::string::npos ? "" : rest.substr(mark + 1);
  while (!path.empty() && path.front() == '/') path.erase(path.begin());
  while (!path.empty() && path.back() == '/') path.pop_back();
}

bool RtspRequest::Supports(const std::string& token) const {
  const std::string wanted = Lower(token);
  for (const auto& [key, value] : headers) {
    if (Lower(key) != "supported") continue;
    std::stringstream items(value);
    std::string item;
    while (std::getline(items, item, ','))
      if (Lower(Trim(item)) == wanted) return true;
  }
  return false;
}

RtspUnit TakeRtspUnit(const std::string& buffer, size_t& consumed, RtspRequest& message,
                      uint8_t& channel, std::string& frame) {
  consumed = 0;
  if (buffer.empty()) return RtspUnit::kNeedMore;
  if (buffer[0] == '$') {
    if (buffer.size() < 4) return RtspUnit::kNeedMore;
    const size_t length = (static_cast<uint8_t>(buffer[2]) << 8) | static_cast<uint8_t>(buffer[3]);
    if (buffer.size() < 4 + length) return RtspUnit::kNeedMore;
    channel = static_cast<uint8_t>(buffer[1]);
    frame = buffer.substr(4, length);
    consumed = 4 + length;
    return RtspUnit::kInterleaved;
  }
  size_t pos = 0, end = std::string::npos;
  std::vector<std::string> lines;
  while (pos < buffer.size()) {
    const size_t lf = buffer.find('\n', pos);
    if (lf == std::string::npos) break;
    std::string line = buffer.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = lf + 1;
    if (line.empty()) {
      if (lines.empty()) continue;  // blank lines between messages
      end = pos;
      break;
    }
    lines.push_back(std::move(line));
    if (pos > kMaxRtspHead) return RtspUnit::kBad;
  }
  if (end == std::string::npos) {
    if (lines.empty() && pos == buffer.size()) consumed = pos;  // only blank lines so far
    return buffer.size() > kMaxRtspHead ? RtspUnit::kBad : RtspUnit::kNeedMore;
  }
  RtspRequest out;
  std::stringstream first(lines.front());
  std::string a, b, c;
  first >> a >> b >> c;
  if (a.rfind("RTSP/", 0) == 0) {
    out.version = a;
    out.status = std::atoi(b.c_str());
    if (out.status < 100 || out.status > 999) return RtspUnit::kBad;
  } else {
    out.method = a;
    out.url = b;
    out.version = c;
    if (out.method.empty() || out.url.empty() || out.version.rfind("RTSP/", 0) != 0)
      return RtspUnit::kBad;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos) continue;
    out.headers.emplace_back(Trim(lines[i].substr(0, colon)), Trim(lines[i].substr(colon + 1)));
  }
  const std::string length = out.Header("Content-Length");
  size_t bodyLength = 0;
  if (!length.empty()) {
    if (length.size() > 9 || length.find_first_not_of("0123456789") != std::string::npos)
      return RtspUnit::kBad;
    bodyLength = static_cast<size_t>(std::strtoul(length.c_str(), nullptr, 10));
    if (bodyLength > kMaxRtspBody) return RtspUnit::kBad;
  }
  if (buffer.size() - end < bodyLength) return RtspUnit::kNeedMore;
  out.body = buffer.substr(end, bodyLength);
  consumed = end + bodyLength;
  message = std::move(out);
  return RtspUnit::kMessage;
}

const char* RtspReason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 454:
      return "Session Not Found";
    case 455:
      return "Method Not Valid in This State";
    case 457:
      return "Invalid Range";
    case 459:
      return "Aggregate Operation Not Allowed";
    case 461:
      return "Unsupported Transport";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "RTSP Version Not Supported";
    default:
      return "Status";
  }
}

std::string BuildRtspResponse(int status, long cseq, const std::string& headers,
                              const std::string& body) {
  std::string out = "RTSP/1.0 " + std::to_string(status) + " " + RtspReason(status) + "\r\n";
  if (cseq >= 0) out += "CSeq: " + std::to_string(cseq) + "\r\n";
  out += headers;
  if (!body.empty()) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "\r\n" + body;
  return out;
}

}  // namespace qor::server
