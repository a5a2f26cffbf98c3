#pragma once
// The tests' one hand-made loopback peer, for the answers the reference server does not give.
// Each accepted connection first has its request read (an HTTP head, up to the empty line; or
// nothing, for a peer that speaks first), recorded, and then answered by the script the test's
// responder returns for it: bytes to send (in as many writes as the test wants), pauses, never
// answering, an abortive close. Connections are served one after the other. Beside it: a port
// that refuses, a listener nobody answers, and one whose accept queue is full.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::test {

class Script {
 public:
  struct Step {
    enum Kind { kSend, kDelay, kHang, kReset } kind;
    std::string bytes;
    int ms = 0;
  };

  Script& Send(std::string bytes);
  Script& Delay(int ms);
  // Sends nothing more until the client goes away (or the server stops).
  Script& Hang();
  // Ends the connection with a reset instead of an orderly close.
  Script& Reset();
  const std::vector<Step>& Steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

// A complete response: status line, the given header lines, an empty line and the body.
Script Reply(const std::string& statusLine, const std::vector<std::string>& headers = {},
             const std::string& body = {});

class ScriptServer {
 public:
  using Responder = std::function<Script(int index, const std::string& request)>;
  // What is read of a connection before the script answers it.
  enum class Request { kHttpHead, kNothing };

  explicit ScriptServer(Responder responder, Request read = Request::kHttpHead);
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  uint16_t Port() const { return port_; }
  std::vector<std::string> Requests() const;
  int Connections() const;
  // True when at least n connections were accepted within timeoutMs.
  bool WaitForConnections(int n, int timeoutMs = 20000) const;
  // True when the client closed the connection that is being served (within timeoutMs).
  bool WaitForClientClose(int timeoutMs = 20000) const;

 private:
  void Run();
  void Serve(int fd, int index);
  bool Pause(int ms) const;

  Responder responder_;
  Request read_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> current_fd_{-1};
  std::atomic<bool> client_closed_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  int connections_ = 0;
  std::thread thread_;
};

// A TCP port on 127.0.0.1 that is bound but not listening: connecting to it is refused.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A listener that nobody accepts from: the system completes the connection, and nothing is ever
// said on it (a server that has hung).
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A listener whose accept queue is full, so that a further connection attempt is never answered.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  std::vector<int> fillers_;
  uint16_t port_ = 0;
};

}  // namespace qor::test
