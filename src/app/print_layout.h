#pragma once
// The printed log: a start line, every log line and an end line, 100 units from the left edge,
// one and a half font heights apart. A line that would run past the bottom of the page starts a
// new page at the same offsets.

#include <cstdint>
#include <string>
#include <vector>

#include "app/desktop_services.h"

namespace qor {

inline constexpr int32_t kPrintLeft = 100;
inline constexpr int32_t kPrintTop = 200;
inline constexpr int32_t kPrintFontPoints = 10;
inline constexpr const char* kPrintTitle = "Qor loggin printout";
inline constexpr const char* kPrintStartLine = "Qor Start of logging data";
inline constexpr const char* kPrintEndLine = "Qor End of logging data";

struct PrintedLine {
  int32_t Page = 0;  // 0-based
  int32_t X = 0;
  int32_t Y = 0;
  std::string Text;
  friend bool operator==(const PrintedLine&, const PrintedLine&) = default;
};

// Where each line goes. fontHeight may be negative, as printers report it.
std::vector<PrintedLine> LayoutLogPrint(const std::vector<std::string>& logLines,
                                        int32_t fontHeight, int32_t pageHeight);

// Prints a laid-out document on an open printer, starting pages as the layout says.
void PrintLayout(TPrinter& printer, const std::vector<PrintedLine>& layout);

// The print action: asks the print dialog, then prints the log as one document. False when the
// dialog was cancelled (nothing printed).
bool PrintLog(DesktopServices& desktop, const std::vector<std::string>& logLines);

}  // namespace qor
