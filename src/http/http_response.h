#pragma once
// Reading the head of an HTTP response: the status line and the header lines, one line at a time,
// with the few values the client acts on. Everything a server sends is bounded here: the head as a
// whole, the number of lines, and every value taken from a line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// Bounds on what one response may make us hold.
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr int kMaxHeaderLines = 200;
inline constexpr size_t kMaxBodyBytes = 16 * 1024 * 1024;
// Redirect targets, cookies and request paths are kept up to this many characters.
inline constexpr size_t kMaxValueLength = 8 * 1024;

bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The decimal value of the second blank-separated field of a status line, or 0 when that field is
// missing, is not a plain decimal number or does not fit 16 bits.
int16_t StatusCodeOf(std::string_view statusLine);

// When line begins with name (which includes its colon), ignoring case: the rest of the line
// without the blanks after the name and without the line terminator, cut to kMaxValueLength.
bool HeaderValueOf(std::string_view line, std::string_view name, std::string& value);

// The head of one response as it is read.
struct ResponseHead {
  std::string text;  // every line with its terminator, the closing empty line included
  int lines = 0;
  int16_t status = 0;
  bool hasCookie = false;
  std::string cookie;
  bool hasLocation = false;
  std::string location;
  int64_t contentLength = -1;  // -1: not given (or not a number we can trust)
  bool complete = false;       // the empty line that ends the head has been read
};

enum class HeadStep { More, Complete, TooLarge };

// Adds one line (with its terminator, or without one when the connection ended within it).
// An empty line, or one that is only a line terminator, completes the head.
HeadStep AddHeadLine(ResponseHead& head, std::string_view line);

// True when a line is empty or holds only its terminator.
bool IsEndOfHead(std::string_view line);

}  // namespace qor
