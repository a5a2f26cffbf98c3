#include "app/file_names.h"

#include <algorithm>

namespace qor {

namespace {

// An extension longer than this is part of the name, not a type worth keeping whole.
constexpr size_t kLongestKeptExtension = 16;

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string CleanFileName(const std::string& name) {
  std::string clean = name;
  for (char& c : clean) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\') c = '_';
  }
  if (std::all_of(clean.begin(), clean.end(), [](char c) { return c == '.'; })) {
    std::fill(clean.begin(), clean.end(), '_');
  }
  return clean;
}

std::string ShortenFileName(const std::string& name, size_t maxBytes) {
  if (name.size() <= maxBytes) return name;
  std::string extension;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= kLongestKeptExtension &&
      name.size() - dot < maxBytes) {
    extension = name.substr(dot);
  }
  size_t keep = maxBytes - extension.size();
  while (keep > 0 && IsContinuationByte(name[keep])) --keep;
  return name.substr(0, keep) + extension;
}

}  // namespace qor
