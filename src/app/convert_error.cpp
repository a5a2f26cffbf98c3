#include "app/convert_error.h"

namespace qor {

std::optional<int32_t> TryStrToInt(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (begin == end) return std::nullopt;
  bool negative = false;
  if (text[begin] == '+' || text[begin] == '-') {
    negative = text[begin] == '-';
    ++begin;
  }
  if (begin == end) return std::nullopt;
  int64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t StrToInt(const std::string& text) {
  std::optional<int32_t> value = TryStrToInt(text);
  if (!value) throw EConvertError("'" + text + "' is not a valid integer value");
  return *value;
}

}  // namespace qor
