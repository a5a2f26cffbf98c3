#include "app/print_layout.h"

#include <cstdlib>

namespace qor {

std::vector<PrintedLine> LayoutLogPrint(const std::vector<std::string>& logLines,
                                        int32_t fontHeight, int32_t pageHeight) {
  const int64_t height = std::llabs(static_cast<int64_t>(fontHeight));
  // One and a half font heights, truncated, as the lines were always spaced.
  const int64_t step = height * 3 / 2;
  std::vector<PrintedLine> layout;
  layout.reserve(logLines.size() + 2);
  int32_t page = 0;
  int64_t y = kPrintTop;
  bool pageEmpty = true;
  auto place = [&](const std::string& text) {
    // A line that does not fit goes to a new page, unless it is the first line of its page (a
    // page too short for any line must not loop).
    if (!pageEmpty && y + height > pageHeight) {
      ++page;
      y = kPrintTop;
    }
    layout.push_back(PrintedLine{page, kPrintLeft, static_cast<int32_t>(y), text});
    pageEmpty = false;
    y += step;
  };
  place(kPrintStartLine);
  for (const std::string& line : logLines) place(line);
  place(kPrintEndLine);
  return layout;
}

void PrintLayout(TPrinter& printer, const std::vector<PrintedLine>& layout) {
  int32_t page = 0;
  for (const PrintedLine& line : layout) {
    while (page < line.Page) {
      printer.NewPage();
      ++page;
    }
    printer.TextOut(line.X, line.Y, line.Text);
  }
}

bool PrintLog(DesktopServices& desktop, const std::vector<std::string>& logLines) {
  desktop.Repaint();
  if (!desktop.PrintDialog()) return false;
  // Set up after the dialog: it may have chosen another printer.
  TPrinter& printer = desktop.Printer();
  printer.SetFontSize(kPrintFontPoints);
  printer.SetTitle(kPrintTitle);
  printer.BeginDoc();
  PrintLayout(printer, LayoutLogPrint(logLines, printer.FontHeight(), printer.PageHeight()));
  printer.EndDoc();
  return true;
}

}  // namespace qor
