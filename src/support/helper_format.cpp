// Time, dump and byte-order helpers used by the session thread for its log texts.

#include <cmath>
#include <cstdint>
#include <string>

#include "support/helper.h"

namespace qor {

namespace {

std::string TwoDigits(int64_t value) {
  std::string text = std::to_string(value);
  return value <= 9 ? "0" + text : text;
}

// Whole seconds in ms, counting a second as soon as the last millisecond before it has begun
// (999.5 ms is one second, 999 ms is none). Done in integers so that every whole-millisecond
// value lands exactly, however large.
int64_t SecondsOf(double ms) {
  if (!(ms > 0)) return 0;  // also NaN
  // Far beyond any real duration; keeps the conversion below defined.
  constexpr double kLimit = 9.0e15;
  const int64_t ticks = static_cast<int64_t>(std::ceil(ms < kLimit ? ms + 1 : kLimit));
  return (ticks + 999) / 1000 - 1;
}

}  // namespace

std::string THelper::FormatTime(double ms) {
  const int64_t seconds = SecondsOf(ms);
  const int64_t hours = seconds / 3600;
  const int64_t minutes = (seconds % 3600) / 60;
  const int64_t secs = seconds % 60;
  return TwoDigits(hours) + " : " + TwoDigits(minutes) + " : " + TwoDigits(secs);
}

std::string THelper::HexDump(const void* data, int32_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = " Data Dump: \r\n";
  if (data == nullptr || count <= 0) return text;
  const auto* bytes = static_cast<const uint8_t*>(data);
  text.reserve(text.size() + static_cast<size_t>(count) * 3 + static_cast<size_t>(count / 16) * 2);
  for (int32_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
    text += ' ';
    if ((i + 1) % 16 == 0) text += "\r\n";
  }
  return text;
}

void THelper::DwordToBytes(uint32_t value, uint8_t out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace qor
