#include "socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace qor::server {

namespace {

// Only when the stop signal has no descriptor: how often a wait looks at the flag.
constexpr int kSliceMs = 100;

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
  if (fd_ >= 0) ::close(fd_);
}

void StopSignal::Raise() {
  raised_ = true;
  if (fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
  }
}

int WaitFor(int fd, short events, int timeoutMs, const StopSignal* stop) {
  const bool unbounded = timeoutMs < 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const int stopFd = stop != nullptr ? stop->Fd() : -1;
  for (;;) {
    if (stop != nullptr && stop->Raised()) return -1;
    // Rounded up: a wait of under a millisecond truncated to 0 would poll without sleeping, and
    // a caller asking for 1 ms again and again would spin.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    int wait = unbounded ? -1 : static_cast<int>(std::clamp<int64_t>(left, 0, INT32_MAX));
    if (stop != nullptr && stopFd < 0) wait = wait < 0 ? kSliceMs : std::min(wait, kSliceMs);
    pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    // A negative descriptor (no socket, or no stop descriptor) is left out by poll itself.
    const int r = poll(p, 2, wait);
    if (r > 0 && p[0].revents != 0) return p[0].revents;
    if (r < 0 && errno != EINTR) return -1;
    if (!unbounded && left <= 0) return 0;
  }
}
Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Socket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
  }
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
  inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

void SetAddressPort(sockaddr_storage& address, uint16_t port) {
  if (address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
  }
}

socklen_t AddressSize(const sockaddr_storage& address) {
  return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

bool OpenListener(const std::string& host, uint16_t& port, bool udp, Socket& out,
                  std::string& error) {
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  const std::string bare = bracketed ? host.substr(1, host.size() - 2) : host;
  sockaddr_storage address{};
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (inet_pton(AF_INET, bare.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, bare.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
  } else {
    error = "not an IPv4 or IPv6 address: " + host;
    return false;
  }
  SetAddressPort(address, port);
  Socket s(::socket(address.ss_family, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0));
  if (!s.Valid()) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  setsockopt(s.Fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // An IPv6 listener serves IPv6 alone, so one of each family can share a port.
  if (address.ss_family == AF_INET6)
    setsockopt(s.Fd(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  if (::bind(s.Fd(), reinterpret_cast<sockaddr*>(&address), AddressSize(address)) != 0) {
    error = std::string(udp ? "udp" : "tcp") + " bind " + host + ":" + std::to_string(port) + ": " +
            std::strerror(errno);
    return false;
  }
  if (!udp && ::listen(s.Fd(), 64) != 0) {
    error = std::string("listen: ") + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(s.Fd(), reinterpret_cast<sockaddr*>(&address), &length);
  port = address.ss_family == AF_INET6 ? ntohs(v6.sin6_port) : ntohs(v4.sin_port);
  SetNonBlocking(s.Fd());
  out = std::move(s);
  return true;
}

Socket AcceptOne(const Socket& listener, int timeoutMs, sockaddr_storage& peer,
                 const StopSignal* stop) {
  if (WaitFor(listener.Fd(), POLLIN, timeoutMs, stop) <= 0) return Socket();
  socklen_t length = sizeof peer;
  const int fd =
      ::accept4(listener.Fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) return Socket();
  SetNonBlocking(fd);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
  return Socket(fd);
}

Connection::Connection(Socket socket, const StopSignal& stop)
    : socket_(std::move(socket)), stop_(stop) {}

Connection::Read Connection::ReadSome(uint8_t* buffer, size_t capacity, size_t& got,
                                      int timeoutMs) {
  got = 0;
  for (;;) {
    const ssize_t n = ::recv(socket_.Fd(), buffer, capacity, 0);
    if (n > 0) {
      got = static_cast<size_t>(n);
      return Read::kData;
    }
    if (n == 0) return Read::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Read::kError;
    const int r = WaitFor(socket_.Fd(), POLLIN, timeoutMs, &stop_);
    if (r < 0) return stop_.Raised() ? Read::kStopped : Read::kError;
    if (r == 0) return Read::kTimeout;
    timeoutMs = 0;  // something is there now (or an error); one more recv tells
  }
}

bool Connection::Readable(int timeoutMs) {
  pollfd p{socket_.Fd(), POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
}

bool Connection::WriteAll(const uint8_t* data, size_t size, int stallLimitMs) {
  size_t sent = 0;
  while (sent < size) {
    if (stop_.Raised()) return false;
    if (trickle_ms_ > 0 && !Pause(trickle_ms_)) return false;
    const size_t want = trickle_ms_ > 0 ? 1 : size - sent;
    const ssize_t n = ::send(socket_.Fd(), data + sent, want, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int r = WaitFor(socket_.Fd(), POLLOUT, stallLimitMs, &stop_);
    if (r <= 0 || (r & (POLLERR | POLLHUP)) != 0) return false;
  }
  return true;
}

bool Connection::Pause(int64_t ms) {
  // Nothing but the stop signal to watch: the wait ends at the time or at a stop.
  WaitFor(-1, 0, static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX)), &stop_);
  return !stop_.Raised();
}

void Connection::Shutdown() {
  if (socket_.Valid()) ::shutdown(socket_.Fd(), SHUT_RDWR);
}

}  // namespace qor::server
