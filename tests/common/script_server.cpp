#include "common/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace qor::test {

namespace {

using Steady = std::chrono::steady_clock;

int ListeningSocket(int backlog, uint16_t& port, bool listen) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listen && ::listen(fd, backlog) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("listening socket failed");
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Script& Script::Send(std::string bytes) {
  steps_.push_back({Step::kSend, std::move(bytes), 0});
  return *this;
}

Script& Script::Delay(int ms) {
  steps_.push_back({Step::kDelay, {}, ms});
  return *this;
}

Script& Script::Hang() {
  steps_.push_back({Step::kHang, {}, 0});
  return *this;
}

Script& Script::Reset() {
  steps_.push_back({Step::kReset, {}, 0});
  return *this;
}

Script Reply(const std::string& statusLine, const std::vector<std::string>& headers,
             const std::string& body) {
  std::string text = statusLine + "\r\n";
  for (const std::string& header : headers) text += header + "\r\n";
  text += "\r\n";
  text += body;
  Script script;
  script.Send(text);
  return script;
}

ScriptServer::ScriptServer(Responder responder, Request read)
    : responder_(std::move(responder)), read_(read) {
  listen_fd_ = ListeningSocket(16, port_, true);
  thread_ = std::thread([this] { Run(); });
}

ScriptServer::~ScriptServer() {
  stop_ = true;
  int fd = current_fd_.load();
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  thread_.join();
  ::close(listen_fd_);
}

std::vector<std::string> ScriptServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int ScriptServer::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool ScriptServer::WaitForConnections(int n, int timeoutMs) const {
  auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  while (Connections() < n) {
    if (Steady::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool ScriptServer::WaitForClientClose(int timeoutMs) const {
  auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  while (!client_closed_.load()) {
    if (Steady::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool ScriptServer::Pause(int ms) const {
  auto deadline = Steady::now() + std::chrono::milliseconds(ms);
  while (Steady::now() < deadline) {
    if (stop_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void ScriptServer::Run() {
  int index = 0;
  while (!stop_) {
    pollfd watch{listen_fd_, POLLIN, 0};
    if (::poll(&watch, 1, 20) <= 0) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
    }
    client_closed_ = false;
    current_fd_ = fd;
    Serve(fd, index++);
    current_fd_ = -1;
    ::close(fd);
  }
}

void ScriptServer::Serve(int fd, int index) {
  std::string request;
  char chunk[4096];
  while (read_ == Request::kHttpHead && request.find("\r\n\r\n") == std::string::npos) {
    if (stop_) return;
    pollfd watch{fd, POLLIN, 0};
    if (::poll(&watch, 1, 20) <= 0) continue;
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    request.append(chunk, static_cast<size_t>(n));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  Script script = responder_(index, request);
  for (const Script::Step& step : script.Steps()) {
    switch (step.kind) {
      case Script::Step::kSend:
        if (!SendAll(fd, step.bytes)) {
          client_closed_ = true;
          return;
        }
        break;
      case Script::Step::kDelay:
        if (!Pause(step.ms)) return;
        break;
      case Script::Step::kHang:
        while (!stop_) {
          pollfd watch{fd, POLLIN, 0};
          if (::poll(&watch, 1, 20) <= 0) continue;
          if (::recv(fd, chunk, sizeof chunk, 0) <= 0) {
            client_closed_ = true;
            return;
          }
        }
        return;
      case Script::Step::kReset: {
        linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        return;
      }
    }
  }
}

RefusingPort::RefusingPort() {
  fd_ = ListeningSocket(0, port_, false);
}

RefusingPort::~RefusingPort() {
  ::close(fd_);
}

SilentListener::SilentListener() {
  fd_ = ListeningSocket(16, port_, true);
}

SilentListener::~SilentListener() {
  ::close(fd_);
}

FullListener::FullListener() {
  fd_ = ListeningSocket(0, port_, true);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  // Fill the accept queue (nobody accepts); connections beyond it are left unanswered.
  for (int i = 0; i < 3; ++i) {
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers_.push_back(filler);
  }
}

FullListener::~FullListener() {
  for (int filler : fillers_) ::close(filler);
  ::close(fd_);
}

}  // namespace qor::test
