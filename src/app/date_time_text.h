#pragma once
// Dates and times as the window logic keeps them (TDateTime: days since 30 December 1899, time
// of day as the fraction, local wall time) and as the settings store keeps them: a moment as
// "YYYY-MM-DD HH:MM:SS", a time of day as "HH:MM:SS". Texts read back exactly as written, to the
// second; anything else does not parse.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "app/form_controls.h"
#include "platform/clock.h"

namespace qor {

struct TCivilDateTime {
  int32_t Year = 1899;
  int32_t Month = 12;
  int32_t Day = 30;
  int32_t Hour = 0;
  int32_t Minute = 0;
  int32_t Second = 0;
  friend bool operator==(const TCivilDateTime&, const TCivilDateTime&) = default;
};

// Rounded to the nearest second. Years 1 to 9999.
TCivilDateTime DecodeDateTime(TDateTime value);
// Empty when a field is out of range (February 30, hour 24, ...).
std::optional<TDateTime> EncodeDateTime(const TCivilDateTime& civil);

// The date part (whole days) and the time part (fraction) of a moment.
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);

// The local wall time of a clock's current moment.
TDateTime LocalNow(const Clock& clock);
TDateTime LocalDateTimeOf(std::time_t wall);

std::string FormatStoredDateTime(TDateTime value);
std::optional<TDateTime> ParseStoredDateTime(const std::string& text);
// The time of day only; a moment's date part is left out.
std::string FormatStoredTime(TDateTime value);
std::optional<TDateTime> ParseStoredTime(const std::string& text);

}  // namespace qor
