#pragma once
// What qor-cli writes to stderr: each log line ("> " and the text) in its colour on a terminal,
// and on a terminal one progress line kept up to date in place.

#include <cstdint>
#include <cstdio>
#include <string>

#include "controls/canvas.h"

namespace qor::cli {

struct ProgressValues {
  int32_t percent = -1;  // -1: unknown
  std::string time;      // "hh : mm : ss"
  uint32_t packets = 0;
  uint64_t bytesPerSecond = 0;
};

std::string ProgressText(const ProgressValues& values);
// The ANSI sequence for a log colour ("" for black, which stays the terminal's own colour).
std::string ColourSequence(TColor colour);

class TerminalOutput {
 public:
  // Colours only on a terminal and when NO_COLOR is not set; progress only on a terminal.
  explicit TerminalOutput(std::FILE* stream);
  TerminalOutput(std::FILE* stream, bool terminal, bool colour);

  void LogLine(const std::string& line, TColor colour);
  void Note(const std::string& text);  // "qor-cli: text"
  void Progress(const ProgressValues& values);
  // One line of machine-readable output (a JSON object), on a line of its own.
  void RecordLine(const std::string& line);
  // Ends the progress line so later output starts on its own line.
  void EndProgress();
  bool Terminal() const { return terminal_; }

 private:
  void ClearProgress();

  std::FILE* stream_;
  bool terminal_;
  bool colour_;
  bool progress_shown_ = false;
  std::string progress_text_;
};

}  // namespace qor::cli
