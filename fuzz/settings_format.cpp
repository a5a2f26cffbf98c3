// Any bytes as a settings file: parsing never fails hard, and what it kept survives a write and a
// second read unchanged.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/settings_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto first = qor::ParseSettings(text);
  const auto second = qor::ParseSettings(qor::SerialiseSettings(first.keys));
  if (second.badLines != 0 || second.keys != first.keys) __builtin_trap();
  return 0;
}
