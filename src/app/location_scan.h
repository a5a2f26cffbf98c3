#pragma once
// The scan that turns the text of a play list, a bare list of addresses or a web page into URL list
// entries. It does not read the file format: every stream address that appears in the text is an
// entry candidate, in text order, duplicates included. Candidates that name another play list or
// a script page are fetched and scanned once more, one level deep only.
//
// Play lists are XML as web sites write them, so the scan also reads what XML changes about an
// address: a UTF-8 or UTF-16 text with a byte-order mark is read as its characters, addresses
// inside <!-- --> comments are not entries, an address opened by a single quote ends at the next
// one, character references (&amp;, &#38;) are decoded, and the relative HREF of a REF or
// ENTRYREF element is resolved against the location the play list came from, or against the
// HREF of a BASE element before it (which is itself no entry).

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
  // base comes in as url and may be set to where the body really came from (after redirections):
  // the relative references of the body resolve against it.
  std::function<std::optional<std::string>(const std::string& url, std::string& base)> FetchNested;
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
  // false once the list is full, which ends the whole scan. base is the location the content
  // came from; without one (a local file) relative references are passed over.
  bool Scan(std::string_view content, const std::string& base = std::string()) {
    return ScanLevel(content, base, 0);
  }
  bool Full() const { return full_; }

 private:
  bool ScanLevel(std::string_view content, const std::string& base, int depth);
  // Takes one trimmed candidate; false when the list was already full.
  bool Take(const std::string& candidate, int depth);
  // The relative HREF of the REF or ENTRYREF tag that starts at tag, resolved; false when the
  // list was already full.
  bool TakeReference(std::string_view text, size_t tag, const std::string& base, int depth);
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

// The text of a play list as single bytes: a UTF-8 byte-order mark is dropped, UTF-16 (little or
// big endian) with its mark is converted to UTF-8; anything else is returned as it is.
std::string PlayListText(std::string_view content);
// text with its XML character references decoded: the five named ones and decimal or hexadecimal
// numbers (as UTF-8). A reference that is not well formed, or names a control character, stays.
std::string DecodeEntities(std::string_view text);
// The address that reference names when it appears in a document fetched from base: an address
// with a scheme is taken as it is; "//host/x", "/x", "?q" and "x" resolve against base, with "."
// and ".." segments removed. Empty when base is no "scheme://host" address.
std::string ResolveReference(const std::string& base, const std::string& reference);

}  // namespace qor
