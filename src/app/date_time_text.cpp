#include "app/date_time_text.h"

#include <cmath>
#include <cstdio>

namespace qor {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 1899-12-30, day 0 of TDateTime, counted in days since 1970-01-01.
constexpr int64_t kDaysFrom1970To1899 = -25569;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int32_t& year, int32_t& month, int32_t& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int32_t>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static const int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

// Whole seconds since 1899-12-30 00:00:00, rounded to the nearest.
int64_t TotalSeconds(TDateTime value) {
  if (!std::isfinite(value)) return 0;
  // Beyond the years we keep, clamp instead of overflowing.
  constexpr double kLimit = 3'000'000.0;
  if (value > kLimit) value = kLimit;
  if (value < -kLimit) value = -kLimit;
  return static_cast<int64_t>(std::llround(value * static_cast<double>(kSecondsPerDay)));
}

bool ReadNumber(const std::string& text, size_t pos, size_t digits, int32_t& out) {
  if (pos + digits > text.size()) return false;
  int32_t value = 0;
  for (size_t i = pos; i < pos + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  out = value;
  return true;
}

}  // namespace

TCivilDateTime DecodeDateTime(TDateTime value) {
  const int64_t total = TotalSeconds(value);
  int64_t days = total / kSecondsPerDay;
  int64_t seconds = total % kSecondsPerDay;
  if (seconds < 0) {
    seconds += kSecondsPerDay;
    --days;
  }
  TCivilDateTime civil;
  CivilFromDays(days + kDaysFrom1970To1899, civil.Year, civil.Month, civil.Day);
  civil.Hour = static_cast<int32_t>(seconds / 3600);
  civil.Minute = static_cast<int32_t>(seconds / 60 % 60);
  civil.Second = static_cast<int32_t>(seconds % 60);
  return civil;
}

std::optional<TDateTime> EncodeDateTime(const TCivilDateTime& c) {
  if (c.Year < 1 || c.Year > 9999 || c.Month < 1 || c.Month > 12 || c.Day < 1 ||
      c.Day > DaysInMonth(c.Year, c.Month) || c.Hour < 0 || c.Hour > 23 || c.Minute < 0 ||
      c.Minute > 59 || c.Second < 0 || c.Second > 59) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(c.Year, c.Month, c.Day) - kDaysFrom1970To1899;
  const int64_t seconds = c.Hour * 3600 + c.Minute * 60 + c.Second;
  return static_cast<double>(days) + static_cast<double>(seconds) / kSecondsPerDay;
}

TDateTime DateOf(TDateTime value) {
  const TCivilDateTime civil = DecodeDateTime(value);
  return EncodeDateTime({civil.Year, civil.Month, civil.Day, 0, 0, 0}).value_or(0);
}

TDateTime TimeOf(TDateTime value) {
  const TCivilDateTime civil = DecodeDateTime(value);
  return static_cast<double>(civil.Hour * 3600 + civil.Minute * 60 + civil.Second) / kSecondsPerDay;
}

TDateTime LocalDateTimeOf(std::time_t wall) {
  std::tm local{};
  if (localtime_r(&wall, &local) == nullptr) return 0;
  return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec})
      .value_or(0);
}

TDateTime LocalNow(const Clock& clock) {
  return LocalDateTimeOf(clock.WallTime());
}

std::string FormatStoredDateTime(TDateTime value) {
  const TCivilDateTime c = DecodeDateTime(value);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.Year, c.Month, c.Day, c.Hour,
                c.Minute, c.Second);
  return text;
}

std::optional<TDateTime> ParseStoredDateTime(const std::string& text) {
  TCivilDateTime c;
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  if (!ReadNumber(text, 0, 4, c.Year) || !ReadNumber(text, 5, 2, c.Month) ||
      !ReadNumber(text, 8, 2, c.Day) || !ReadNumber(text, 11, 2, c.Hour) ||
      !ReadNumber(text, 14, 2, c.Minute) || !ReadNumber(text, 17, 2, c.Second)) {
    return std::nullopt;
  }
  return EncodeDateTime(c);
}

std::string FormatStoredTime(TDateTime value) {
  const TCivilDateTime c = DecodeDateTime(value);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", c.Hour, c.Minute, c.Second);
  return text;
}

std::optional<TDateTime> ParseStoredTime(const std::string& text) {
  int32_t hour = 0, minute = 0, second = 0;
  if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !ReadNumber(text, 0, 2, hour) ||
      !ReadNumber(text, 3, 2, minute) || !ReadNumber(text, 6, 2, second)) {
    return std::nullopt;
  }
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
}

}  // namespace qor
