#pragma once
// Text to number as the window logic converts its edit boxes: a text that is not a whole number
// in range raises EConvertError, which reaches the application's exception handler like any other
// failure of a window handler.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace qor {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Blanks around the number are allowed, one sign, decimal digits, 32-bit range. Empty otherwise.
std::optional<int32_t> TryStrToInt(const std::string& text);
// Raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);

}  // namespace qor
