#include "catalog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace qor::server {

namespace {

std::string LowerExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string ContentTypeFor(const std::string& name) {
  static const std::map<std::string, std::string> kTypes = {
      {".wmv", "video/x-ms-wmv"}, {".asf", "video/x-ms-asf"}, {".wma", "audio/x-ms-wma"},
      {".wm", "video/x-ms-asf"},  {".asx", "video/x-ms-asf"}, {".wax", "audio/x-ms-wax"},
      {".wvx", "video/x-ms-wvx"}, {".wmx", "video/x-ms-wmx"}, {".txt", "text/plain"},
      {".html", "text/html"},     {".htm", "text/html"},
  };
  const auto it = kTypes.find(LowerExtension(name));
  return it == kTypes.end() ? "application/octet-stream" : it->second;
}

bool Catalog::HasAsfExtension(const std::string& name) {
  const std::string ext = LowerExtension(name);
  return ext == ".wmv" || ext == ".asf" || ext == ".wma" || ext == ".wm";
}

std::string Catalog::CleanName(const std::string& name) {
  size_t first = 0;
  while (first < name.size() && (name[first] == '/' || name[first] == '\\')) ++first;
  std::string clean = name.substr(first);
  if (clean.empty() || clean.size() > 1024) return "";
  if (clean.find('\0') != std::string::npos || clean.find('\\') != std::string::npos) return "";
  // No segment may climb out of the root.
  size_t start = 0;
  for (;;) {
    const size_t slash = clean.find('/', start);
    const std::string segment = clean.substr(start, slash - start);
    if (segment == ".." || segment == ".") return "";
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return clean;
}

void Catalog::AddLive(std::shared_ptr<const LiveChannel> channel) {
  lives_[channel->Name()] = std::move(channel);
}

Catalog::Entry Catalog::Find(const std::string& requested) {
  Entry entry;
  const std::string name = CleanName(requested);
  if (name.empty()) {
    // The root of the server ("/") is a live channel when one is published there.
    const bool root = requested.find_first_not_of('/') == std::string::npos;
    if (const auto live = lives_.find("/"); root && live != lives_.end()) {
      entry.kind = Kind::kLive;
      entry.live = live->second;
    }
    return entry;
  }
  if (const auto live = lives_.find(name); live != lives_.end()) {
    entry.kind = Kind::kLive;
    entry.live = live->second;
    return entry;
  }
  entry.path = root_ + "/" + name;
  struct stat info {};
  if (::stat(entry.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return entry;
  entry.kind = Kind::kPlainFile;
  if (!HasAsfExtension(name)) return entry;

  const int64_t stamp = static_cast<int64_t>(info.st_mtime) * 1000003 + info.st_size;
  std::lock_guard<std::mutex> lock(mutex_);
  auto& cached = cache_[entry.path];
  if (cached.second == nullptr || cached.first != stamp) {
    std::string error;
    cached.second = MediaSource::Load(entry.path, error);
    cached.first = stamp;
  }
  if (cached.second != nullptr) {
    entry.kind = Kind::kStream;
    entry.media = cached.second;
  }
  return entry;
}

}  // namespace qor::server
