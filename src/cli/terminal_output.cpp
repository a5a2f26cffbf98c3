#include "cli/terminal_output.h"

#include <unistd.h>

#include <cstdlib>

namespace qor::cli {

namespace {

bool IsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) != 0;
}

bool ColourWanted(std::FILE* stream) {
  const char* noColour = std::getenv("NO_COLOR");
  return IsTerminal(stream) && (noColour == nullptr || *noColour == '\0');
}

std::string HumanRate(uint64_t bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB/s", static_cast<double>(bytesPerSecond) / 1048576.0);
  } else if (bytesPerSecond >= 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB/s", static_cast<double>(bytesPerSecond) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%llu B/s", static_cast<unsigned long long>(bytesPerSecond));
  }
  return text;
}

}  // namespace

std::string ProgressText(const ProgressValues& v) {
  std::string text;
  if (v.percent >= 0) text += std::to_string(v.percent) + "%  ";
  text += v.time.empty() ? std::string("00 : 00 : 00") : v.time;
  text += "  " + std::to_string(v.packets) + " packets  " + HumanRate(v.bytesPerSecond);
  return text;
}

std::string ColourSequence(TColor c) {
  if (c == clBlack) return std::string();
  return "\x1b[38;2;" + std::to_string(c.Red) + ";" + std::to_string(c.Green) + ";" +
         std::to_string(c.Blue) + "m";
}

TerminalOutput::TerminalOutput(std::FILE* stream)
    : TerminalOutput(stream, IsTerminal(stream), ColourWanted(stream)) {}

TerminalOutput::TerminalOutput(std::FILE* stream, bool terminal, bool colour)
    : stream_(stream), terminal_(terminal), colour_(colour) {}

void TerminalOutput::ClearProgress() {
  if (!progress_shown_) return;
  std::fputs("\r\x1b[2K", stream_);
  progress_shown_ = false;
}

void TerminalOutput::LogLine(const std::string& line, TColor colour) {
  ClearProgress();
  const std::string start = colour_ ? ColourSequence(colour) : std::string();
  std::fputs(start.c_str(), stream_);
  std::fputs(line.c_str(), stream_);
  if (!start.empty()) std::fputs("\x1b[0m", stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

void TerminalOutput::Note(const std::string& text) {
  ClearProgress();
  std::fprintf(stream_, "qor-cli: %s\n", text.c_str());
  std::fflush(stream_);
}

void TerminalOutput::Progress(const ProgressValues& values) {
  if (!terminal_) return;
  // Redrawn only when it changes, so a stalled stream does not keep the terminal busy.
  const std::string text = ProgressText(values);
  if (progress_shown_ && text == progress_text_) return;
  ClearProgress();
  progress_text_ = text;
  std::fputs(text.c_str(), stream_);
  std::fflush(stream_);
  progress_shown_ = true;
}

void TerminalOutput::RecordLine(const std::string& line) {
  ClearProgress();
  std::fputs(line.c_str(), stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

void TerminalOutput::EndProgress() {
  ClearProgress();
  std::fflush(stream_);
}

}  // namespace qor::cli
