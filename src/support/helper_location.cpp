// Splitting and classifying media locations. The scans deliberately skip the first character
// and the last one, which is what callers have always seen: "mms://server/" has no host and no
// path, while "mms://server/x" has both.

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "support/helper.h"

namespace qor {

namespace {

// 1-based positions of '/' within positions first..last of text, at most N of them.
template <size_t N>
size_t FindSlashes(const std::string& text, int64_t first, int64_t last,
                   std::array<int64_t, N>& found) {
  size_t count = 0;
  for (int64_t pos = first; pos <= last && count < N; ++pos) {
    if (text[static_cast<size_t>(pos - 1)] == '/') found[count++] = pos;
  }
  return count;
}

// The last position from length - 1 down to 2 whose character is one of `marks`; 0 for none.
int64_t FindBackwards(const std::string& text, std::string_view marks) {
  for (int64_t pos = static_cast<int64_t>(text.size()) - 1; pos >= 2; --pos) {
    if (marks.find(text[static_cast<size_t>(pos - 1)]) != std::string_view::npos) return pos;
  }
  return 0;
}

bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

uint32_t SchemeBits(const std::string& lower) {
  if (Contains(lower, ":\\")) return lcLocalFile;
  if (Contains(lower, "https://")) return lcNetwork | lcHttp;
  if (Contains(lower, "http://")) return lcNetwork | lcHttp;
  if (Contains(lower, "mmst://")) return lcNetwork | lcMms;
  if (Contains(lower, "mmsu://")) return lcNetwork | lcMms;
  // The scheme players give an address of a Windows Media server's HTTP streaming.
  if (Contains(lower, "mmsh://")) return lcNetwork | lcMms;
  if (Contains(lower, "mms://")) return lcNetwork | lcMms;
  if (Contains(lower, "pnm://")) return lcNetwork | lcPnm;
  return 0;
}

bool ContainsAny(const std::string& text, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    if (Contains(text, part)) return true;
  }
  return false;
}

// "Contains" tests, in order: clip.wmv.asx is a redirector and x.rmvb counts as RealMedia.
uint32_t ExtensionBit(const std::string& name) {
  if (ContainsAny(name, {".asx", ".wmx", ".wax", ".wvx"})) return lcRedirector;
  if (ContainsAny(name, {".asp", ".jsp", ".php"})) return lcScriptPage;
  if (Contains(name, ".txt")) return lcText;
  if (Contains(name, ".wmd")) return lcWmd;
  if (ContainsAny(name, {".wms", ".wmz"})) return lcWmsWmz;
  if (ContainsAny(name, {".asf", ".wmv", ".wma", ".wm"})) return lcMediaFile;
  if (ContainsAny(name, {".ram", ".rm", ".ra"})) return lcRealMedia;
  if (!Contains(name, ".")) return lcNoExtension;
  return 0;
}

}  // namespace

std::string THelper::HostOf(const std::string& url) {
  const std::string text = Trim(url);
  std::array<int64_t, 3> slash{};
  if (FindSlashes(text, 2, static_cast<int64_t>(text.size()) - 1, slash) < 3) return std::string();
  return text.substr(static_cast<size_t>(slash[1]), static_cast<size_t>(slash[2] - slash[1] - 1));
}

std::string THelper::PathOf(const std::string& url) {
  const std::string text = Trim(url);
  std::array<int64_t, 3> slash{};
  // Up to the last but one position: a slash there still has a one-character path after it.
  if (FindSlashes(text, 2, static_cast<int64_t>(text.size()) - 1, slash) < 3) return std::string();
  return text.substr(static_cast<size_t>(slash[2]));
}

std::string THelper::FileNameOf(const std::string& text) {
  // A location naming a folder ("http://host/dir/") is named by its last element: "dir/" would
  // make every file name built from it point into a folder that does not exist.
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '/' || text[end - 1] == '\\')) --end;
  const std::string named = text.substr(0, end);
  const int64_t pos = FindBackwards(named, "/:\\");
  return pos == 0 ? named : named.substr(static_cast<size_t>(pos));
}

std::string THelper::StripExtension(const std::string& text) {
  const int64_t pos = FindBackwards(text, ".");
  return pos == 0 ? text : text.substr(0, static_cast<size_t>(pos - 1));
}

std::string THelper::StripQuery(const std::string& text) {
  const int64_t pos = FindBackwards(text, "?");
  return pos == 0 ? text : text.substr(0, static_cast<size_t>(pos - 1));
}

uint32_t THelper::ClassifyLocation(const std::string& text) {
  if (text.empty()) return 0;
  const std::string lower = LowerCase(text);
  const uint32_t scheme = SchemeBits(lower);
  // The query of a web or stream address is no part of its name: "list.asx?src=/a/b" names a
  // play list, not a stream called "b". A local name may hold a '?' of its own.
  const std::string named = (scheme & lcNetwork) ? lower.substr(0, lower.find('?')) : lower;
  return scheme | ExtensionBit(StripQuery(FileNameOf(named)));
}

}  // namespace qor
