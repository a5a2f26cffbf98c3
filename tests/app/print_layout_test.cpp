#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/print_layout.h"
#include "scripted_desktop.h"

namespace qor {
namespace {

std::vector<std::string> LogOf(int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) lines.push_back("> line\t" + std::to_string(i));
  return lines;
}

TEST(PrintLayout, ShortLogsFitOnePageOneAndAHalfFontHeightsApart) {
  // A negative height counts as its size; 1.5 x 33 truncates to 49.
  std::vector<PrintedLine> layout = LayoutLogPrint({"> a\tb", "> c"}, -33, 6000);
  ASSERT_EQ(layout.size(), 4u);
  EXPECT_EQ(layout[0], (PrintedLine{0, 100, 200, "Qor Start of logging data"}));
  EXPECT_EQ(layout[1], (PrintedLine{0, 100, 249, "> a\tb"}));
  EXPECT_EQ(layout[2], (PrintedLine{0, 100, 298, "> c"}));
  EXPECT_EQ(layout[3], (PrintedLine{0, 100, 347, "Qor End of logging data"}));
}

TEST(PrintLayout, LongLogsBreakAtThePrintableHeightWithTheSameOffsets) {
  // Font height 66 spaces lines 99 apart.
  const int32_t height = 66, page = 1000;
  std::vector<PrintedLine> layout = LayoutLogPrint(LogOf(40), height, page);
  ASSERT_EQ(layout.size(), 42u);
  int32_t pages = 1;
  for (size_t i = 0; i < layout.size(); ++i) {
    const PrintedLine& line = layout[i];
    EXPECT_EQ(line.X, 100);
    EXPECT_LE(line.Y + height, page) << i;
    if (i == 0) continue;
    const PrintedLine& before = layout[i - 1];
    if (line.Page == before.Page) {
      EXPECT_EQ(line.Y, before.Y + 99) << i;
    } else {
      EXPECT_EQ(line.Page, before.Page + 1);
      EXPECT_EQ(line.Y, 200);
      // The break came only because the next line would not have fitted.
      EXPECT_GT(before.Y + 99 + height, page) << i;
      ++pages;
    }
  }
  // 200..893 gives 8 lines a page: 42 lines make 6 pages.
  EXPECT_EQ(pages, 6);
  EXPECT_EQ(layout.back().Text, "Qor End of logging data");
}

TEST(PrintLayout, APageTooShortForAnyLineStillPrintsEachLineOnce) {
  std::vector<PrintedLine> layout = LayoutLogPrint(LogOf(3), 100, 150);
  ASSERT_EQ(layout.size(), 5u);
  for (size_t i = 0; i < layout.size(); ++i) {
    EXPECT_EQ(layout[i].Page, static_cast<int32_t>(i));
    EXPECT_EQ(layout[i].Y, 200);
  }
}

TEST(PrintLog, TheDocumentGoesToThePrinterPageByPage) {
  ScriptedDesktop desktop;
  desktop.UsePrinter(4000, 1000, -66);
  desktop.PrintAnswers.push_back(true);
  const std::vector<std::string> log = LogOf(10);
  EXPECT_TRUE(PrintLog(desktop, log));
  RecordingPrinter& printer = desktop.Recorder();
  EXPECT_EQ(printer.Title, "Qor loggin printout");
  EXPECT_EQ(printer.FontPoints, 10);
  EXPECT_EQ(printer.Documents, 1);
  EXPECT_FALSE(printer.Printing);
  ASSERT_EQ(printer.Pages.size(), 2u);
  EXPECT_EQ(printer.Pages[0].size(), 8u);
  EXPECT_EQ(printer.Pages[1].front(), (RecordingPrinter::Text{100, 200, "> line\t7"}));
  EXPECT_EQ(printer.Pages[1].back().Line, "Qor End of logging data");
}

TEST(PrintLog, ACancelledDialogPrintsNothing) {
  ScriptedDesktop desktop;
  EXPECT_FALSE(PrintLog(desktop, LogOf(3)));
  EXPECT_EQ(desktop.Recorder().Documents, 0);
  EXPECT_TRUE(desktop.Recorder().Pages.empty());
  EXPECT_EQ(desktop.CallsOf(ScriptedDesktop::CallKind::PrintDialog).size(), 1u);
}

}  // namespace
}  // namespace qor
