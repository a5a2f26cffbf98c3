#include "app/location_scan.h"

#include "support/helper.h"
#include "support/message_queue.h"

namespace qor {

namespace {

// Only these spellings count: a scheme written "Http://" in a play list is not an address.
constexpr std::array<std::string_view, 10> kPrefixes{
    "http://", "HTTP://", "mms://",  "MMS://",   "mmst://",
    "MMST://", "mmsu://", "MMSU://", "https://", "HTTPS://",
};

bool StartsAddress(std::string_view content, size_t pos) {
  // Every prefix begins with h, H, m or M; most bytes are turned away by that test alone.
  const char first = content[pos];
  if (first != 'h' && first != 'H' && first != 'm' && first != 'M') return false;
  const std::string_view rest = content.substr(pos);
  for (std::string_view prefix : kPrefixes) {
    if (rest.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace

bool IsUrlTerminator(uint8_t ch) {
  switch (ch) {
    case 0:
    case 9:
    case 10:
    case 13:
    case 32:
    case 34:
    case 35:
      return true;
    default:
      return false;
  }
}

size_t FindAddressStart(std::string_view content, size_t from) {
  for (size_t pos = from; pos < content.size(); ++pos) {
    if (StartsAddress(content, pos)) return pos;
  }
  return std::string_view::npos;
}

size_t FindAddressEnd(std::string_view content, size_t start) {
  size_t end = start + 1;
  while (end < content.size() && !IsUrlTerminator(static_cast<uint8_t>(content[end]))) ++end;
  return end;
}

bool LocationScanner::ScanLevel(std::string_view content, int depth) {
  size_t pos = 0;
  // Each byte is looked at a bounded number of times: the search for the next address resumes
  // where the last candidate ended, so a long page costs time in proportion to its length.
  while (pos < content.size()) {
    const size_t start = FindAddressStart(content, pos);
    if (start == std::string_view::npos) break;
    const size_t end = FindAddressEnd(content, start);
    pos = end;
    if (end - start > kMaxCandidateBytes) {
      Post(kTooLongText, mcWarning);
      continue;
    }
    const std::string candidate = THelper::Trim(std::string(content.substr(start, end - start)));
    if (!Take(candidate, depth)) return false;
  }
  return true;
}

bool LocationScanner::Take(const std::string& candidate, int depth) {
  const uint32_t flags = THelper::ClassifyLocation(candidate);
  if (flags & (lcMediaFile | lcNoExtension)) {
    if (list_.count >= kScanListSize) {
      Post(std::string(kTooManyText) + THelper::IntText(kScanListSize), mcWarning);
      full_ = true;
      return false;
    }
    list_.entries[static_cast<size_t>(list_.count)] = candidate;
    ++list_.count;
    return true;
  }
  if (flags & (lcRedirector | lcScriptPage)) {
    if (depth > 0) {
      Post(kNestsTooDeepText, mcWarning);
      return true;
    }
    if (!hooks_.FetchNested) return true;
    const std::optional<std::string> body = hooks_.FetchNested(candidate);
    // Whatever the nested fetch gave, the outer scan goes on; only a full list ends it.
    if (body) return ScanLevel(*body, depth + 1);
  }
  return true;
}

}  // namespace qor
