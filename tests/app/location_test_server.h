#pragma once
// A loopback HTTP server for the answers qor-server does not give: every connection gets the same
// canned bytes (then the connection is closed), or, when silent, nothing at all until the server
// is stopped. It records the request heads it read.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::location_test {

class CannedHttpServer {
 public:
  // An empty response with silent set: connections are accepted and never answered.
  explicit CannedHttpServer(std::string response, bool silent = false);
  ~CannedHttpServer();
  CannedHttpServer(const CannedHttpServer&) = delete;
  CannedHttpServer& operator=(const CannedHttpServer&) = delete;

  int Port() const { return port_; }
  std::vector<std::string> Requests() const;

 private:
  void Serve();
  void Answer(int fd);

  std::string response_;
  bool silent_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<int> held_;  // silent connections, closed at the end
};

// A loopback port on which nothing listens: connecting to it is refused.
int RefusingPort();

}  // namespace qor::location_test
