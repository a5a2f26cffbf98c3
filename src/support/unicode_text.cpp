#include "support/unicode_text.h"

namespace qor {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string Utf16LeToUtf8(const uint8_t* data, size_t byteLength, bool stopAtNul) {
  std::string out;
  if (data == nullptr) return out;
  const size_t units = byteLength / 2;
  auto unitAt = [data](size_t i) {
    return uint32_t{data[2 * i]} | (uint32_t{data[2 * i + 1]} << 8);
  };
  for (size_t i = 0; i < units; ++i) {
    const uint32_t unit = unitAt(i);
    if (unit == 0 && stopAtNul) break;
    if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::string ValidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      out.push_back(text[i++]);
      continue;
    }
    // The sequence's length, the lead byte's bits of the code and the smallest code it may carry.
    size_t length = 0;
    uint32_t code = 0;
    uint32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1Fu;
      lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0Fu;
      lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07u;
      lowest = 0x10000;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    valid = valid && code >= lowest && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      AppendUtf8(out, kReplacement);
      ++i;
    }
  }
  return out;
}

}  // namespace qor
