#pragma once
// Texts that files and servers carry as UTF-16 (little-endian), shown and written as UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor {

// UTF-8 of the 16-bit units in data[0, byteLength) (an odd last byte is ignored). A surrogate
// without its partner becomes U+FFFD. With stopAtNul the text ends before the first zero unit.
std::string Utf16LeToUtf8(const uint8_t* data, size_t byteLength, bool stopAtNul);

// text with every byte sequence that is not UTF-8 replaced by U+FFFD, for output that must be
// UTF-8 (JSON) whatever a file or a name held.
std::string ValidUtf8(const std::string& text);

}  // namespace qor
