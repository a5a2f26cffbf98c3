#pragma once
// Bounded little-endian access to a byte block: every read and write says whether the whole field
// lay inside the block, so a field beyond the end is a failure instead of a stray read.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/unicode_text.h"

namespace qor::asf_detail {

struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;

  bool Has(uint64_t pos, uint64_t count) const { return pos <= size && count <= size - pos; }

  bool U8(uint64_t pos, uint8_t& out) const {
    if (!Has(pos, 1)) return false;
    out = data[pos];
    return true;
  }
  bool U16(uint64_t pos, uint16_t& out) const {
    if (!Has(pos, 2)) return false;
    out = static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8));
    return true;
  }
  bool U32(uint64_t pos, uint32_t& out) const {
    if (!Has(pos, 4)) return false;
    out = LoadU32(data + pos);
    return true;
  }
  bool U64(uint64_t pos, uint64_t& out) const {
    if (!Has(pos, 8)) return false;
    out = LoadU32(data + pos) | (static_cast<uint64_t>(LoadU32(data + pos + 4)) << 32);
    return true;
  }
  // Unsigned value of width 0, 1, 2 or 4 bytes (width 0: an absent field, read as 0).
  bool Sized(uint64_t pos, uint32_t width, uint32_t& out) const {
    if (!Has(pos, width)) return false;
    out = 0;
    for (uint32_t i = 0; i < width; ++i) out |= static_cast<uint32_t>(data[pos + i]) << (8 * i);
    return true;
  }
  bool Matches(uint64_t pos, const uint8_t* prefix, size_t count) const {
    if (!Has(pos, count)) return false;
    for (size_t i = 0; i < count; ++i)
      if (data[pos + i] != prefix[i]) return false;
    return true;
  }

  static uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }
};

inline void StoreLE(uint8_t* out, uint64_t value, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Blanks and control characters (bytes up to 32) off both ends.
inline std::string TrimControls(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<uint8_t>(text[first]) <= 32) ++first;
  while (last > first && static_cast<uint8_t>(text[last - 1]) <= 32) --last;
  return text.substr(first, last - first);
}

// UTF-8 of the UTF-16 text over byteLength bytes from pos (only the part inside the block), up to
// the first zero character.
inline std::string Utf16Text(const ByteView& block, uint64_t pos, uint64_t byteLength) {
  if (!block.Has(pos, 0)) return std::string();
  const uint64_t present = std::min<uint64_t>(byteLength, block.size - pos) & ~uint64_t{1};
  if (present == 0) return std::string();
  return Utf16LeToUtf8(block.data + pos, static_cast<size_t>(present), true);
}

// FILETIME (100-nanosecond units since 1601) of a Unix time; all ones when it precedes 1601.
inline uint64_t UnixTimeToFileTime(int64_t seconds, int64_t nanoseconds) {
  constexpr int64_t kEpochSeconds = 11644473600;
  if (seconds < -kEpochSeconds) return ~0ull;
  return static_cast<uint64_t>(seconds + kEpochSeconds) * 10000000ull +
         static_cast<uint64_t>(nanoseconds / 100);
}

// "ddd, dd MMMM yyyy  hh:mm:ss tt" of a FILETIME in UTC, followed by suffix; false when the time
// cannot be converted or formatted.
bool FileTimeText(uint64_t fileTime, const char* suffix, std::string& text);

}  // namespace qor::asf_detail
