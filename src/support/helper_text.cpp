// The string primitives every location and format helper is built from. Positions are 1-based
// and out-of-range arguments shorten the result instead of failing.

#include <algorithm>
#include <string>

#include "support/helper.h"

namespace qor {

int32_t THelper::Length(const std::string& text) {
  return static_cast<int32_t>(text.size());
}

std::string THelper::Left(const std::string& text, int32_t n) {
  if (n <= 0) return std::string();
  return text.substr(0, std::min<size_t>(static_cast<size_t>(n), text.size()));
}

std::string THelper::Mid(const std::string& text, int32_t pos, int32_t n) {
  if (pos < 1) pos = 1;
  if (n <= 0 || static_cast<size_t>(pos) > text.size()) return std::string();
  return text.substr(static_cast<size_t>(pos) - 1, static_cast<size_t>(n));
}

std::string THelper::Right(const std::string& text, int32_t n) {
  if (n <= 0) return std::string();
  const size_t keep = std::min<size_t>(static_cast<size_t>(n), text.size());
  return text.substr(text.size() - keep);
}

std::string THelper::IntText(int64_t n) {
  return std::to_string(n);
}

std::string THelper::CharText(uint8_t code) {
  return std::string(1, static_cast<char>(code));
}

std::string THelper::Trim(const std::string& text) {
  auto blank = [](char ch) { return static_cast<uint8_t>(ch) <= 32; };
  size_t first = 0;
  size_t last = text.size();
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string THelper::LowerCase(const std::string& text) {
  // ASCII only: other bytes belong to the desktop's code page and are left alone.
  std::string lower = text;
  for (char& ch : lower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return lower;
}

}  // namespace qor
