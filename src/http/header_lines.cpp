#include "http/header_lines.h"

#include "http/http_response.h"

namespace qor {

namespace {

// A line is named name when it starts with name followed by a colon.
bool Named(const std::string& line, const std::string& name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  return StartsWithNoCase(line, name);
}

}  // namespace

void THeaderLines::AddValue(const std::string& name, const std::string& value) {
  lines_.push_back(name + ": " + value);
}

int THeaderLines::Find(const std::string& name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (Named(lines_[i], name)) return static_cast<int>(i);
  }
  return -1;
}

void THeaderLines::SetValue(const std::string& name, const std::string& value) {
  int index = Find(name);
  if (index < 0) {
    AddValue(name, value);
  } else {
    lines_[static_cast<size_t>(index)] = name + ": " + value;
  }
}

int THeaderLines::Delete(const std::string& name) {
  int removed = 0;
  for (size_t i = 0; i < lines_.size();) {
    if (Named(lines_[i], name)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      ++removed;
    } else {
      ++i;
    }
  }
  return removed;
}

std::string THeaderLines::Value(const std::string& name) const {
  int index = Find(name);
  if (index < 0) return {};
  const std::string& line = lines_[static_cast<size_t>(index)];
  size_t start = name.size() + 1;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  return line.substr(start);
}

std::string THeaderLines::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  text += "\r\n";
  return text;
}

}  // namespace qor
