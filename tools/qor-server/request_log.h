#pragma once
// What each client sent (request lines, header lines, command ids) and notable server actions, one
// line each: "<connection> <kind> <text>". Written to a file or stdout as it happens (flushed), and
// kept in memory so tests running the server in-process can wait for a line.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qor::server {

class RequestLog {
 public:
  static constexpr size_t kKeptLines = 20000;
  ~RequestLog();
  // "-" writes to stdout; empty keeps lines in memory only.
  bool Open(const std::string& path, std::string& error);
  void Add(uint64_t connection, const std::string& kind, const std::string& text);
  std::vector<std::string> Lines() const;
  // True when a kept line contains needle within the time given.
  bool WaitForLine(const std::string& needle, std::chrono::milliseconds timeout) const;
  size_t Count(const std::string& needle) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::FILE* out_ = nullptr;
  bool ownsOut_ = false;
};

}  // namespace qor::server
