#include "http_request.h"

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

std::string HttpRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers)
    if (Lower(key) == wanted) return value;
  return "";
}

std::vector<std::string> HttpRequest::Pragmas() const {
  std::vector<std::string> out;
  for (const auto& [key, value] : headers) {
    if (Lower(key) != "pragma") continue;
    // stream-switch-entry's value holds blanks but no commas, so commas split directives.
    std::stringstream items(value);
    std::string item;
    while (std::getline(items, item, ',')) {
      item = Trim(item);
      if (!item.empty()) out.push_back(item);
    }
  }
  return out;
}

std::optional<std::string> HttpRequest::Pragma(const std::string& key) const {
  const std::string wanted = Lower(key) + "=";
  for (const auto& item : Pragmas())
    if (Lower(item.substr(0, wanted.size())) == wanted) return item.substr(wanted.size());
  return std::nullopt;
}

double HttpRequest::PragmaNumber(const std::string& key) const {
  const auto value = Pragma(key);
  if (!value || value->empty()) return 0;
  char* end = nullptr;
  const double number = std::strtod(value->c_str(), &end);
  if (*end != '\0' || !(number >= 0)) return 0;
  return std::min(number, 4294967295.0);
}

bool HttpRequest::FromMediaPlayer() const {
  const std::string agent = Lower(Header("User-Agent"));
  return agent.find("nsplayer") != std::string::npos ||
         agent.find("windows-media-player") != std::string::npos;
}

bool HttpRequest::PlayRequest() const {
  const auto value = Pragma("xPlayStrm");
  return value.has_value() && !value->empty() && (*value)[0] == '1';
}

uint32_t HttpRequest::StreamTimeMs() const {
  const auto value = Pragma("stream-time");
  if (!value) return 0;
  uint64_t ms = 0;
  for (char c : *value) {
    if (c < '0' || c > '9') break;
    ms = std::min<uint64_t>(ms * 10 + static_cast<uint64_t>(c - '0'), 0xFFFFFFFFu);
  }
  return static_cast<uint32_t>(ms);
}

HeadParse ParseHttpRequest(const std::string& buffer, HttpRequest& out, size_t& consumed) {
  // The head ends at the first empty line, whatever the line ends.
  size_t end = std::string::npos, pos = 0;
  std::vector<std::string> lines;
  while (pos < buffer.size()) {
    const size_t lf = buffer.find('\n', pos);
    if (lf == std::string::npos) break;
    std::string line = buffer.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = lf + 1;
    if (line.empty()) {
      if (lines.empty()) continue;  // stray blank lines before a request
      end = pos;
      break;
    }
    lines.push_back(std::move(line));
  }
  if (end == std::string::npos)
    return buffer.size() > kMaxRequestHead ? HeadParse::kBad : HeadParse::kNeedMore;
  consumed = end;
  out = HttpRequest{};
  std::stringstream first(lines.front());
  first >> out.method >> out.target >> out.version;
  if (out.method.empty() || out.target.empty()) return HeadParse::kBad;
  if (out.version.empty()) out.version = "HTTP/1.0";
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos) continue;  // tolerated, as real servers do
    out.headers.emplace_back(Trim(lines[i].substr(0, colon)), Trim(lines[i].substr(colon + 1)));
  }
  // An absolute target (through a proxy) names the path after the host.
  if (Lower(out.target.substr(0, 7)) == "http://") {
    out.absoluteTarget = out.target;
    const size_t slash = out.target.find('/', 7);
    out.target = slash == std::string::npos ? "/" : out.target.substr(slash);
  }
  return HeadParse::kDone;
}

}  // namespace qor::server
