#pragma once
// The scan that turns the text of a play list, a bare list of addresses or a web page into URL list
// entries. It does not read the file format: every stream address that appears in the text is an
// entry candidate, in text order, duplicates included. Candidates that name another play list or
// a script page are fetched and scanned once more, one level deep only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qor {

inline constexpr int32_t kScanListSize = 50;
// A candidate up to this many bytes is taken; a longer one is skipped with kTooLongText.
inline constexpr size_t kMaxCandidateBytes = 8192;

inline constexpr const char* kTooManyText = "Too many entires in URL list, displaying max only: ";
inline constexpr const char* kNestsTooDeepText =
    "HTTP Parse: a location nests too deep in redirector, bypassing";
inline constexpr const char* kTooLongText = "HTTP Parse: a location is too long, bypassing";

// NUL, tab, line feed, carriage return, blank, '"' and '#' end an address.
bool IsUrlTerminator(uint8_t ch);

struct ScanHooks {
  // Fetches a nested play list or script page; nothing when it could not be had (the fetcher
  // reports why). Unset: nested candidates are passed over.
  std::function<std::optional<std::string>(const std::string& url)> FetchNested;
  // Posts a (text, code) pair to the window's log.
  std::function<void(const std::string& text, uint32_t code)> Post;
};

// The list a scan fills. count never passes the size of entries.
struct ScanList {
  std::array<std::string, kScanListSize> entries;
  int32_t count = 0;
};

class LocationScanner {
 public:
  LocationScanner(ScanList& list, ScanHooks hooks) : list_(list), hooks_(std::move(hooks)) {}

  // Scans content from its start; nested play lists found in it are scanned as well. Returns
  // false once the list is full, which ends the whole scan.
  bool Scan(std::string_view content) { return ScanLevel(content, 0); }
  bool Full() const { return full_; }

 private:
  bool ScanLevel(std::string_view content, int depth);
  // Takes one trimmed candidate; false when the list was already full.
  bool Take(const std::string& candidate, int depth);
  void Post(const std::string& text, uint32_t code) const {
    if (hooks_.Post) hooks_.Post(text, code);
  }

  ScanList& list_;
  ScanHooks hooks_;
  bool full_ = false;
};

// Where the next stream address starts at or after from: one of the ten prefixes, spelled all in
// lower case or all in upper case. npos when none is left.
size_t FindAddressStart(std::string_view content, size_t from);
// The end of the address that starts at start: the first terminator after its first byte, or the
// end of the content.
size_t FindAddressEnd(std::string_view content, size_t start);

}  // namespace qor
