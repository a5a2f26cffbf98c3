// The play-list scan over arbitrary bytes. A nested play list is answered with the input's tail
// (no network), so the second level is scanned too, its relative references resolved against
// the nested address. Every entry found must be a whole address: one of the known prefixes, no
// terminator inside, within the length bound; never more than the list holds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/location_scan.h"

namespace {

bool HasKnownPrefix(const std::string& entry) {
  for (std::string_view prefix :
       {"http://", "HTTP://", "mms://", "MMS://", "mmst://", "MMST://", "mmsu://", "MMSU://",
        "https://", "HTTPS://", "mmsh://", "MMSH://"}) {
    if (entry.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  qor::ScanList list;
  qor::ScanHooks hooks;
  int fetches = 0;
  hooks.FetchNested = [&](const std::string&, std::string&) -> std::optional<std::string> {
    ++fetches;
    return std::string(input.substr(input.size() / 2));
  };
  hooks.Post = [](const std::string& text, uint32_t) {
    if (text.empty()) std::abort();
  };
  qor::LocationScanner scanner(list, hooks);
  scanner.Scan(input, "http://h/lists/l.asx");

  if (list.count < 0 || list.count > qor::kScanListSize) std::abort();
  for (int32_t i = 0; i < list.count; ++i) {
    const std::string& entry = list.entries[static_cast<size_t>(i)];
    if (entry.empty() || entry.size() > qor::kMaxCandidateBytes || !HasKnownPrefix(entry)) {
      std::abort();
    }
    for (size_t at = 0; at < entry.size(); ++at) {
      // A '#' stays only as part of a character reference that names no character ("&#0;").
      const bool reference = entry[at] == '#' && at > 0 && entry[at - 1] == '&';
      if (!reference && qor::IsUrlTerminator(static_cast<uint8_t>(entry[at]))) std::abort();
    }
  }
  // Only the top level fetches: one fetch per candidate at most.
  if (static_cast<size_t>(fetches) > size / 7 + 1) std::abort();
  return 0;
}
