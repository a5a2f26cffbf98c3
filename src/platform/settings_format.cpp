#include "platform/settings_format.h"

#include <algorithm>

namespace qor {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool NeedsEscape(unsigned char c, bool isNameOrKey) {
  if (c < 0x20 || c == 0x7F || c == '%') return true;
  return isNameOrKey && (c == '=' || c == '[' || c == ']' || c == '#');
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

std::string EscapeSettingsText(std::string_view text, bool isNameOrKey) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c, isNameOrKey)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

bool UnescapeSettingsText(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int high = HexValue(text[i + 1]);
    int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string NormaliseKeyPath(std::string_view keyPath) {
  size_t first = keyPath.find_first_not_of('\\');
  if (first == std::string_view::npos) return std::string();
  size_t last = keyPath.find_last_not_of('\\');
  return std::string(keyPath.substr(first, last - first + 1));
}

ParsedSettings ParseSettings(std::string_view text) {
  ParsedSettings parsed;
  SettingsValues* section = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      std::string key;
      if (line.size() < 2 || line.back() != ']' ||
          !UnescapeSettingsText(line.substr(1, line.size() - 2), key)) {
        ++parsed.badLines;
        section = nullptr;
        continue;
      }
      section = &parsed.keys[NormaliseKeyPath(key)];
      continue;
    }
    size_t equals = line.find('=');
    std::string name, value;
    if (section == nullptr || equals == std::string_view::npos ||
        !UnescapeSettingsText(line.substr(0, equals), name) ||
        !UnescapeSettingsText(line.substr(equals + 1), value)) {
      // Entries under a broken key line count as bad too: we cannot tell where they belong.
      ++parsed.badLines;
      continue;
    }
    (*section)[name] = std::move(value);
  }
  return parsed;
}

std::string SerialiseSettings(const SettingsKeys& keys) {
  std::string out = "# Qor settings\n";
  for (const auto& [key, values] : keys) {
    out += '\n';
    out += '[';
    out += EscapeSettingsText(key, true);
    out += "]\n";
    for (const auto& [name, value] : values) {
      out += EscapeSettingsText(name, true);
      out += '=';
      out += EscapeSettingsText(value, false);
      out += '\n';
    }
  }
  return out;
}

}  // namespace qor
