// FILETIME as the text the media information shows: UTC civil date and time, formatted in the
// user's LC_TIME.

#include <locale.h>
#include <time.h>

#include "asf/asf_bytes.h"

namespace qor::asf_detail {

namespace {

// Seconds between 1601-01-01 (the FILETIME epoch) and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTimeSeconds = 11644473600;

// Made once and kept: the text is the same for the life of the process, and glibc loads and
// frees locales under a lock of its own that the thread checker cannot see, so files parsed on two
// threads at once were reported as racing inside it.
locale_t TimeLocale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (made == static_cast<locale_t>(nullptr))
      made = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    return made;
  }();
  return locale;
}

bool Format(const char* picture, const struct tm& civil, locale_t locale, std::string& out) {
  char buffer[256];
  const size_t n = strftime_l(buffer, sizeof buffer, picture, &civil, locale);
  if (n == 0) return false;
  out = TrimControls(std::string(buffer, n));
  return !out.empty();
}

}  // namespace

bool FileTimeText(uint64_t fileTime, const char* suffix, std::string& text) {
  // The same range a FILETIME converts in at all: its top bit must be clear.
  if (fileTime > 0x7FFFFFFFFFFFFFFFull) return false;
  const int64_t seconds = static_cast<int64_t>(fileTime / 10000000) - kUnixEpochAsFileTimeSeconds;
  const time_t when = static_cast<time_t>(seconds);
  struct tm civil {};
  if (gmtime_r(&when, &civil) == nullptr) return false;

  const locale_t locale = TimeLocale();
  if (locale == static_cast<locale_t>(nullptr)) return false;
  std::string date, clock;
  if (!Format("%a, %d %B %Y", civil, locale, date)) return false;
  if (!Format("%I:%M:%S %p", civil, locale, clock)) return false;
  text = date + "  " + clock + suffix;
  return true;
}

}  // namespace qor::asf_detail
