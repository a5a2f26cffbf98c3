#include "request_log.h"

#include <algorithm>

namespace qor::server {

RequestLog::~RequestLog() {
  if (ownsOut_ && out_ != nullptr) std::fclose(out_);
}

bool RequestLog::Open(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  if (path == "-") {
    out_ = stdout;
    return true;
  }
  out_ = std::fopen(path.c_str(), "a");
  if (out_ == nullptr) {
    error = "cannot open request log " + path;
    return false;
  }
  ownsOut_ = true;
  return true;
}

void RequestLog::Add(uint64_t connection, const std::string& kind, const std::string& text) {
  std::string line = "c" + std::to_string(connection) + " " + kind;
  if (!text.empty()) line += " " + text;
  // Client bytes may hold anything; keep one line per entry.
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; }, ' ');
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (out_ != nullptr) {
      std::fprintf(out_, "%s\n", line.c_str());
      std::fflush(out_);
    }
    lines_.push_back(std::move(line));
    if (lines_.size() > kKeptLines) lines_.pop_front();
  }
  changed_.notify_all();
}

std::vector<std::string> RequestLog::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

bool RequestLog::WaitForLine(const std::string& needle, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.find(needle) != std::string::npos; });
  });
}

size_t RequestLog::Count(const std::string& needle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& l) {
    return l.find(needle) != std::string::npos;
  }));
}

}  // namespace qor::server
