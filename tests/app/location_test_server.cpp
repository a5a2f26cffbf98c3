#include "location_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qor::location_test {

namespace {

int ListenOnLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

int RefusingPort() {
  int port = 0;
  const int fd = ListenOnLoopback(port);
  if (fd >= 0) ::close(fd);
  return port;
}

CannedHttpServer::CannedHttpServer(std::string response, bool silent)
    : response_(std::move(response)), silent_(silent) {
  listen_fd_ = ListenOnLoopback(port_);
  if (listen_fd_ >= 0) thread_ = std::thread([this] { Serve(); });
}

CannedHttpServer::~CannedHttpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  for (int fd : held_) ::close(fd);
}

std::vector<std::string> CannedHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void CannedHttpServer::Serve() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (silent_) {
      held_.push_back(fd);
      continue;
    }
    Answer(fd);
    ::close(fd);
  }
}

void CannedHttpServer::Answer(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && !stop_) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<size_t>(n));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(head);
  }
  size_t done = 0;
  while (done < response_.size()) {
    const ssize_t n = ::send(fd, response_.data() + done, response_.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  // Let the client read everything before the close.
  while (!stop_) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    if (::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
  }
}

}  // namespace qor::location_test
