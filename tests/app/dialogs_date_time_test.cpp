#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "app/date_time_dlg.h"
#include "app/date_time_text.h"
#include "dialogs_store.h"
#include "platform/window_thread.h"
#include "scripted_desktop.h"

namespace qor {
namespace {

TDateTime Moment(const std::string& text) {
  std::optional<TDateTime> value = ParseStoredDateTime(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(0);
}

TEST(StoredDateTimes, TextsReadBackAsWritten) {
  for (const char* text : {"2026-12-07 20:15:09", "1899-12-30 00:00:00", "2024-02-29 23:59:59",
                           "1970-01-01 00:00:01", "9999-12-31 12:00:00", "1601-03-01 06:07:08"}) {
    EXPECT_EQ(FormatStoredDateTime(Moment(text)), text);
  }
  for (const char* text : {"00:00:00", "23:59:59", "12:34:56"})
    EXPECT_EQ(FormatStoredTime(ParseStoredTime(text).value()), text);
  // Day numbers as the desktop counts them.
  EXPECT_EQ(Moment("1899-12-30 00:00:00"), 0.0);
  EXPECT_EQ(Moment("1900-01-01 12:00:00"), 2.5);
  EXPECT_EQ(Moment("1970-01-01 00:00:00"), 25569.0);
  // A value just short of a whole second rounds instead of showing one second less, and of
  // midnight rolls into the next day.
  EXPECT_EQ(FormatStoredDateTime(Moment("2026-01-01 10:00:00") - 1e-9), "2026-01-01 10:00:00");
  EXPECT_EQ(FormatStoredDateTime(Moment("2026-01-02 00:00:00") - 1e-9), "2026-01-02 00:00:00");
  EXPECT_EQ(DateOf(Moment("2026-05-06 07:08:09")), Moment("2026-05-06 00:00:00"));
  EXPECT_EQ(FormatStoredTime(Moment("2026-05-06 07:08:09")), "07:08:09");
}

TEST(StoredDateTimes, AnythingElseDoesNotParse) {
  for (const char* text :
       {"", "2026-12-07", "2026-12-07 20:15", "2026-12-07T20:15:09", "2026-13-01 00:00:00",
        "2026-02-29 00:00:00", "2026-04-31 00:00:00", "2026-12-07 24:00:00", "2026-12-07 20:60:00",
        "2026-12-07 20:15:60", "0000-01-01 00:00:00", "07.12.2026 20:15:09", "2026-12-07 20:15:09 ",
        "2026-1a-07 20:15:09", "+026-12-07 20:15:09"}) {
    EXPECT_FALSE(ParseStoredDateTime(text).has_value()) << text;
  }
  for (const char* text :
       {"", "1:00:00", "24:00:00", "00:60:00", "00:00:60", "00.00.00", "00:00:00 ", "-1:00:00"}) {
    EXPECT_FALSE(ParseStoredTime(text).has_value()) << text;
  }
}

TEST(StoredDateTimes, NowIsTheClocksLocalWallTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  ManualClock clock(0, 1'700'000'000);  // 2023-11-14 22:13:20 UTC
  EXPECT_EQ(FormatStoredDateTime(LocalNow(clock)), "2023-11-14 22:13:20");
  setenv("TZ", "XYZ-2", 1);
  tzset();
  EXPECT_EQ(FormatStoredDateTime(LocalNow(clock)), "2023-11-15 00:13:20");
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

using VcrTimes = StoreTest;

TEST_F(VcrTimes, OkTakesTheDatesAndTimesOfTheFourPickers) {
  Store("VcrOn", "2026-12-24 18:00:00");
  Store("VcrOff", "2026-12-24 19:30:00");
  TDateTimeDlg dialog;
  EXPECT_EQ(dialog.Start, 0);
  EXPECT_EQ(dialog.End, 0);
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TDateTimeDlg&>(form);
    EXPECT_EQ(DateOf(d.DateTimePicker1.DateTime), Moment("2026-12-24 00:00:00"));
    EXPECT_EQ(FormatStoredTime(d.DateTimePicker2.DateTime), "18:00:00");
    EXPECT_EQ(FormatStoredTime(d.DateTimePicker4.DateTime), "19:30:00");
    // A date picker may carry any time, a time picker any date: only their parts count.
    d.DateTimePicker1.DateTime = Moment("2026-12-31 03:03:03");
    d.DateTimePicker2.DateTime = Moment("1999-01-01 23:00:00");
    d.DateTimePicker3.DateTime = Moment("2027-01-01 00:00:00");
    d.DateTimePicker4.DateTime = Moment("2000-06-06 01:15:00");
    d.Button1.Click();
  });
  dialog.EditMoments(desktop, Moment("2030-01-01 00:00:00"));
  EXPECT_EQ(FormatStoredDateTime(dialog.Start), "2026-12-31 23:00:00");
  EXPECT_EQ(FormatStoredDateTime(dialog.End), "2027-01-01 01:15:00");
  EXPECT_EQ(Stored("VcrOn"), "2026-12-31 23:00:00");
  EXPECT_EQ(Stored("VcrOff"), "2027-01-01 01:15:00");
}

TEST_F(VcrTimes, TheCloseBoxKeepsWhatWasLoadedAndBadTextsGiveNow) {
  Store("VcrOn", "24/12/2026 18:00");
  Store("VcrOff", "2026-12-24 19:30:00");
  TDateTimeDlg dialog;
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back(
      [](TForm& form) { static_cast<TDateTimeDlg&>(form).DateTimePicker2.DateTime = 0.5; });
  const TDateTime now = Moment("2026-12-07 20:15:09");
  dialog.EditMoments(desktop, now);
  EXPECT_EQ(dialog.Start, now);
  EXPECT_EQ(FormatStoredDateTime(dialog.End), "2026-12-24 19:30:00");
  EXPECT_EQ(Stored("VcrOn"), "2026-12-07 20:15:09");

  // Escape is the "&Ok" button: it takes the pickers.
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TDateTimeDlg&>(form);
    d.DateTimePicker2.DateTime = 0.75;
    d.CancelButton()->Click();
  });
  dialog.EditMoments(desktop, now);
  EXPECT_EQ(Stored("VcrOn"), "2026-12-07 18:00:00");
}

}  // namespace
}  // namespace qor
