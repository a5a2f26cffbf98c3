#include "app/location_scan.h"

#include <algorithm>
#include <vector>

#include "support/helper.h"
#include "support/message_queue.h"

namespace qor {

namespace {

// Only these spellings count: a scheme written "Http://" in a play list is not an address.
constexpr std::array<std::string_view, 12> kPrefixes{
    "http://", "HTTP://", "mms://",   "MMS://",   "mmst://", "MMST://",
    "mmsu://", "MMSU://", "https://", "HTTPS://", "mmsh://", "MMSH://",
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

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (Lower(text[pos + i]) != word[i]) return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the tag of an element named name ("ref", "entryref") starts at pos: "<name" followed by a
// blank, '/' or '>'.
bool StartsTag(std::string_view text, size_t pos, std::string_view name) {
  if (text[pos] != '<' || !StartsWithNoCase(text, pos + 1, name)) return false;
  const size_t after = pos + 1 + name.size();
  return after < text.size() && (IsBlank(text[after]) || text[after] == '/' || text[after] == '>');
}

constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCommentClose = "-->";

enum class Found { None, Address, Comment, Reference, Base };

// The next thing at or after from that the scan acts on.
Found FindNext(std::string_view text, size_t from, size_t& at) {
  for (size_t pos = from; pos < text.size(); ++pos) {
    if (text[pos] == '<') {
      if (text.substr(pos).starts_with(kCommentOpen)) {
        at = pos;
        return Found::Comment;
      }
      if (StartsTag(text, pos, "ref") || StartsTag(text, pos, "entryref")) {
        at = pos;
        return Found::Reference;
      }
      if (StartsTag(text, pos, "base")) {
        at = pos;
        return Found::Base;
      }
    } else if (StartsAddress(text, pos)) {
      at = pos;
      return Found::Address;
    }
  }
  return Found::None;
}

// The value of the HREF attribute of the tag that starts at tag; nothing when it has none.
std::optional<std::string_view> HrefOf(std::string_view text, size_t tag) {
  // A tag longer than any address it could hold is no element of a play list.
  text = text.substr(0, std::min(text.size(), tag + kMaxCandidateBytes + 1024));
  size_t pos = tag + 1;
  while (pos < text.size() && text[pos] != '>' && text[pos] != '<') {
    const char quote = text[pos];
    if (quote == '"' || quote == '\'') {
      // A quoted value of another attribute may hold "href=" itself. No value holds a '<': the
      // search stops there, so each byte of the text is looked at for one tag only.
      const size_t close = text.find_first_of(quote == '"' ? "\"<" : "'<", pos + 1);
      if (close == std::string_view::npos || text[close] == '<') return std::nullopt;
      pos = close + 1;
      continue;
    }
    const bool nameStart = IsBlank(text[pos - 1]);
    if (!nameStart || !StartsWithNoCase(text, pos, "href")) {
      ++pos;
      continue;
    }
    size_t at = pos + 4;
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at >= text.size() || text[at] != '=') {
      pos += 4;
      continue;
    }
    ++at;
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at >= text.size()) return std::nullopt;
    if (text[at] == '"' || text[at] == '\'') {
      const size_t close = text.find_first_of(text[at] == '"' ? "\"<" : "'<", at + 1);
      if (close == std::string_view::npos || text[close] == '<') return std::nullopt;
      return text.substr(at + 1, close - at - 1);
    }
    size_t end = at;
    while (end < text.size() && !IsBlank(text[end]) && text[end] != '>') ++end;
    // "<ref href=x/>": the slash closes the element.
    if (end > at && text[end - 1] == '/' && end < text.size() && text[end] == '>') --end;
    return text.substr(at, end - at);
  }
  return std::nullopt;
}

// Whether the '#' at pos opens a character reference ("&#38;", "&#x26;") rather than a fragment.
bool InCharacterReference(std::string_view text, size_t pos) {
  if (pos == 0 || text[pos - 1] != '&') return false;
  size_t at = pos + 1;
  const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
  if (hex) ++at;
  const size_t digits = at;
  while (at < text.size() && at - digits < 8 &&
         ((text[at] >= '0' && text[at] <= '9') ||
          (hex && ((text[at] >= 'a' && text[at] <= 'f') || (text[at] >= 'A' && text[at] <= 'F')))))
    ++at;
  return at > digits && at < text.size() && text[at] == ';';
}

// The end of the address at start: FindAddressEnd's, read past the '#' of character references.
size_t AddressEnd(std::string_view text, size_t start) {
  size_t end = FindAddressEnd(text, start);
  while (end < text.size() && text[end] == '#' && InCharacterReference(text, end)) {
    end = FindAddressEnd(text, end);
  }
  return end;
}

// "name:" at the start: a reference with a scheme of its own is not relative.
bool HasScheme(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (c == ':') return i > 0;
    if (!letter && !(i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
      return false;
  }
  return false;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](size_t i) {
    const auto a = static_cast<uint8_t>(bytes[i]);
    const auto b = static_cast<uint8_t>(bytes[i + 1]);
    return static_cast<uint32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  constexpr uint32_t kReplacement = 0xFFFD;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint32_t first = unit(i);
    if (first >= 0xD800 && first < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t second = unit(i + 2);
      if (second >= 0xDC00 && second < 0xE000) {
        AppendUtf8(out, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, first >= 0xD800 && first < 0xE000 ? kReplacement : first);
  }
  return out;
}

// Removes "." and ".." segments from an absolute path ("/a/./b/../c" gives "/a/c").
std::string RemoveDotSegments(const std::string& path) {
  std::vector<std::string> kept;
  size_t pos = 1;
  bool trailing = false;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    const std::string segment = path.substr(pos, slash - pos);
    trailing = segment == "." || segment == "..";
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (segment != ".") {
      kept.push_back(segment);
    }
    pos = slash + 1;
  }
  std::string out;
  for (const std::string& segment : kept) out += "/" + segment;
  if (trailing || out.empty()) out += "/";
  return out;
}

}  // namespace

std::string PlayListText(std::string_view content) {
  if (content.starts_with("\xEF\xBB\xBF")) return std::string(content.substr(3));
  if (content.starts_with("\xFF\xFE")) return Utf16ToUtf8(content.substr(2), false);
  if (content.starts_with("\xFE\xFF")) return Utf16ToUtf8(content.substr(2), true);
  return std::string(content);
}

std::string DecodeEntities(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] != '&') {
      out += text[pos++];
      continue;
    }
    const std::string_view rest = text.substr(pos + 1);
    bool decoded = false;
    for (const auto& [name, ch] : kNamed) {
      if (rest.starts_with(name)) {
        out += ch;
        pos += 1 + name.size();
        decoded = true;
        break;
      }
    }
    if (!decoded && rest.starts_with("#")) {
      const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
      size_t at = hex ? 2 : 1;
      uint32_t code = 0;
      size_t digits = 0;
      for (; at < rest.size() && digits < 8; ++at, ++digits) {
        const char c = rest[at];
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (hex && c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (value < 0) break;
        code = code * (hex ? 16 : 10) + static_cast<uint32_t>(value);
      }
      const bool valid = digits > 0 && at < rest.size() && rest[at] == ';' && code >= 0x20 &&
                         code != 0x7F && code <= 0x10FFFF && !(code >= 0xD800 && code < 0xE000);
      if (valid) {
        AppendUtf8(out, code);
        pos += 1 + at + 1;
        decoded = true;
      }
    }
    if (!decoded) out += text[pos++];
  }
  return out;
}

std::string ResolveReference(const std::string& base, const std::string& reference) {
  if (HasScheme(reference)) return reference;
  const size_t scheme = base.find("://");
  if (scheme == std::string::npos || scheme == 0) return std::string();
  const size_t authority = scheme + 3;
  size_t pathStart = base.find_first_of("/?#", authority);
  if (pathStart == std::string::npos) pathStart = base.size();
  if (pathStart == authority) return std::string();
  const std::string origin = base.substr(0, pathStart);
  const size_t pathEnd = std::min(base.find_first_of("?#", pathStart), base.size());
  std::string basePath = base.substr(pathStart, pathEnd - pathStart);
  if (basePath.empty()) basePath = "/";

  if (reference.starts_with("//")) return base.substr(0, scheme + 1) + reference;
  if (reference.starts_with("?")) return origin + basePath + reference;
  const size_t refQuery = std::min(reference.find('?'), reference.size());
  const std::string refPath = reference.substr(0, refQuery);
  const std::string query = reference.substr(refQuery);
  if (reference.starts_with("/")) return origin + RemoveDotSegments(refPath) + query;
  const std::string folder = basePath.substr(0, basePath.rfind('/') + 1);
  return origin + RemoveDotSegments(folder + refPath) + query;
}

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

bool LocationScanner::ScanLevel(std::string_view content, const std::string& listBase, int depth) {
  const std::string text = PlayListText(content);
  std::string base = listBase;
  size_t pos = 0;
  // Each byte is looked at a bounded number of times: the search for the next address resumes
  // where the last candidate ended, so a long page costs time in proportion to its length.
  while (pos < text.size()) {
    size_t start = 0;
    const Found found = FindNext(text, pos, start);
    if (found == Found::None) break;
    if (found == Found::Comment) {
      // What a comment holds is not part of the list; one left open runs to the end.
      const size_t close = text.find(kCommentClose, start + kCommentOpen.size());
      if (close == std::string::npos) break;
      pos = close + kCommentClose.size();
      continue;
    }
    if (found == Found::Base) {
      // <BASE HREF="http://server/dir/"> names where the references after it are relative to;
      // the address it holds is no entry.
      const std::optional<std::string_view> href = HrefOf(text, start);
      const std::string value =
          href ? DecodeEntities(THelper::Trim(std::string(*href))) : std::string();
      const bool whole = std::none_of(value.begin(), value.end(), [](char c) {
        return IsUrlTerminator(static_cast<uint8_t>(c));
      });
      if (whole && !value.empty() && StartsAddress(value, 0) &&
          value.size() <= kMaxCandidateBytes) {
        base = value;
        pos = start + (href->data() - (text.data() + start)) + href->size();
      } else {
        pos = start + 1;
      }
      continue;
    }
    if (found == Found::Reference) {
      // An absolute HREF is found by the address search that goes on inside the tag.
      if (!TakeReference(text, start, base, depth)) return false;
      pos = start + 1;
      continue;
    }
    size_t end = AddressEnd(text, start);
    if (start > 0 && text[start - 1] == '\'') {
      // A value in single quotes ends at its quote, which is no terminator elsewhere.
      end = std::min(end, text.find('\'', start));
    }
    pos = end;
    if (end - start > kMaxCandidateBytes) {
      Post(kTooLongText, mcWarning);
      continue;
    }
    std::string candidate =
        DecodeEntities(THelper::Trim(std::string(text.substr(start, end - start))));
    // A decoded reference ends the address where the character itself would have.
    candidate = THelper::Trim(candidate.substr(0, AddressEnd(candidate, 0)));
    if (!Take(candidate, depth)) return false;
  }
  return true;
}

bool LocationScanner::TakeReference(std::string_view text, size_t tag, const std::string& base,
                                    int depth) {
  const std::optional<std::string_view> href = HrefOf(text, tag);
  if (!href || href->size() > kMaxCandidateBytes) return true;
  const std::string value = DecodeEntities(THelper::Trim(std::string(*href)));
  // As in an address, what follows '#' is not part of it; a blank inside a quoted value is
  // written the way a request line can carry it, and a value with other breaks is no address.
  size_t fragment = value.find('#');
  while (fragment != std::string::npos && InCharacterReference(value, fragment)) {
    fragment = value.find('#', fragment + 1);
  }
  std::string reference;
  for (char c : value.substr(0, fragment)) {
    if (c == ' ') {
      reference += "%20";
    } else if (c != '#' && IsUrlTerminator(static_cast<uint8_t>(c))) {
      return true;  // (a '#' left is that of a character reference)
    } else {
      reference += c;
    }
  }
  if (reference.empty() || HasScheme(reference)) return true;
  const std::string address = ResolveReference(base, reference);
  // Entries are stream addresses in the spellings the scan knows, resolved or not.
  if (address.empty() || !StartsAddress(address, 0)) return true;
  if (address.size() > kMaxCandidateBytes) {
    Post(kTooLongText, mcWarning);
    return true;
  }
  return Take(address, depth);
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
    std::string nestedBase = candidate;
    const std::optional<std::string> body = hooks_.FetchNested(candidate, nestedBase);
    // Whatever the nested fetch gave, the outer scan goes on; only a full list ends it.
    if (body) return ScanLevel(*body, nestedBase, depth + 1);
  }
  return true;
}

}  // namespace qor
