#include "http/socket_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "http/host_lookup.h"
#include "net/socket_errors.h"
#include "platform/clock.h"
#include "platform/window_thread.h"
#include "support/location.h"

namespace qor {

namespace {

// Windows Sockets numbers for the two ways a send can stop without a system error.
constexpr int kWsaInterrupted = 10004;
constexpr int kWsaTimedOut = 10060;

int64_t NowMs() {
  return SystemClock().MonotonicMs();
}

enum class Woken { Nothing, Descriptor, Wake };

// Sleeps in poll until fd has events, wake is signalled or timeoutMs passes (-1: no limit).
Woken PollBoth(int fd, short events, int wake, int timeoutMs) {
  pollfd watch[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(watch, 2, timeoutMs);
    if (ready == 0) return Woken::Nothing;
    if (ready > 0) return watch[0].revents != 0 ? Woken::Descriptor : Woken::Wake;
    // A poll error is left for the socket call that follows to report.
    if (errno != EINTR) return Woken::Descriptor;
  }
}

void Signal(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
  uint64_t count = 0;
  while (::read(fd, &count, sizeof count) > 0) {
  }
}

}  // namespace

std::string SocketErrorMessage(int error) {
  return "Socket Error # " + SocketErrorText(WinsockErrorFromErrno(error));
}

TSocketClient::TSocketClient()
    : buffer_(kTransferBufferSize), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TSocketClient::~TSocketClient() {
  CloseSocket();
  if (wake_ >= 0) ::close(wake_);
}

TSocketClient::Operation::Operation(TSocketClient& client) : client_(client) {
  std::lock_guard<std::mutex> lock(client_.mutex_);
  if (client_.busy_) throw ESocketError("Already connected");
  client_.busy_ = true;
  client_.cancel_.store(false, std::memory_order_release);
  if (client_.wake_ >= 0) Drain(client_.wake_);
}

TSocketClient::Operation::~Operation() {
  client_.CloseSocket();
  std::lock_guard<std::mutex> lock(client_.mutex_);
  client_.busy_ = false;
  client_.cancel_.store(false, std::memory_order_release);
}

void TSocketClient::Disconnect() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (busy_) {
    // The operation's own thread closes the descriptor; here it is only shut down, so that no
    // other thread can ever close a number the process has already handed out again.
    cancel_.store(true, std::memory_order_release);
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    // Whatever the operation sleeps on (a lookup, a connect, the window thread) wakes now.
    if (wake_ >= 0) Signal(wake_);
    return;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool TSocketClient::Connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fd_ >= 0;
}

void TSocketClient::CloseSocket() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  begin_ = end_ = 0;
}

int64_t TSocketClient::DeadlineFromNow() const {
  return TimeOut == 0 ? -1 : NowMs() + static_cast<int64_t>(TimeOut);
}

int64_t TSocketClient::ConnectDeadlineFromNow() const {
  const uint32_t limit = ConnectTimeOut.value_or(TimeOut);
  return limit == 0 ? -1 : NowMs() + static_cast<int64_t>(limit);
}

TSocketClient::WaitResult TSocketClient::Wait(int fd, short events, int64_t deadline,
                                              const std::function<bool()>& done) {
  const auto left = [deadline]() -> int64_t {
    return deadline < 0 ? -1 : std::max<int64_t>(0, deadline - NowMs());
  };
  const auto settled = [&] { return Cancelled() || (done && done()); };
  WindowThread* window = WindowThread::Current();
  if (window == nullptr || !window->IsWindowThread()) {
    // Nothing else to serve here: sleep on the descriptor and on a stop alone.
    while (!settled()) {
      const Woken woken =
          PollBoth(fd, events, wake_, static_cast<int>(std::min<int64_t>(left(), INT32_MAX)));
      if (woken == Woken::Descriptor) break;
      // A wake without a stop is one left from an earlier wait.
      if (woken == Woken::Wake) Drain(wake_);
      if (woken == Woken::Nothing && deadline >= 0 && NowMs() >= deadline)
        return settled() ? WaitResult::Ready : WaitResult::TimedOut;
    }
    return Cancelled() ? WaitResult::Cancelled : WaitResult::Ready;
  }
  // The window thread keeps serving its handovers and timers while it waits: it sleeps in its
  // own loop, and a watcher sleeping on the descriptor and on a stop wakes that loop.
  std::atomic<bool> woken{false};
  std::thread watcher([&] {
    PollBoth(fd, events, wake_, -1);
    woken.store(true, std::memory_order_release);
    window->Notify();
  });
  struct Join {
    std::thread& watcher;
    int wake;
    ~Join() {
      Signal(wake);
      watcher.join();
      // What is left to tell (a stop) is in cancel_, which every wait looks at first.
      Drain(wake);
    }
  } join{watcher, wake_};
  bool ready = false;
  window->ProcessUntil(
      [&] {
        if (OnWait) OnWait();
        ready = woken.load(std::memory_order_acquire) || settled();
        return ready;
      },
      left());
  if (Cancelled()) return WaitResult::Cancelled;
  return ready ? WaitResult::Ready : WaitResult::TimedOut;
}

std::vector<sockaddr_storage> TSocketClient::Resolve(const std::string& host) {
  const std::string bare = BareHost(host);
  sockaddr_storage numeric{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&numeric);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&numeric);
  if (inet_pton(AF_INET, bare.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    return {numeric};
  }
  if (inet_pton(AF_INET6, bare.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    return {numeric};
  }
  if (bare.empty()) return {};
  HostLookup lookup;
  lookup.Start(bare);
  const int64_t deadline = ConnectDeadlineFromNow();
  for (;;) {
    switch (Wait(lookup.ReadyFd(), POLLIN, deadline, [&] { return lookup.Done(); })) {
      case WaitResult::TimedOut:
        throw ESocketError("Host Lookup Timed Out");
      case WaitResult::Cancelled:
        throw ESocketError("Host Lookup Canceled");
      case WaitResult::Ready:
        break;
    }
    if (lookup.Done()) return lookup.Addresses();
  }
}

void TSocketClient::FailConnection(const std::string& text) {
  CloseSocket();
  if (OnConnectionFailed) OnConnectionFailed(this);
  throw ESocketError(text);
}

void TSocketClient::Connect(const std::string& host, int32_t port) {
  if (Connected()) throw ESocketError("Already connected");
  std::vector<sockaddr_storage> addresses = Resolve(host);
  if (addresses.empty()) {
    bool handled = false;
    if (OnInvalidHost) OnInvalidHost(handled);
    if (handled) addresses = Resolve(host);
    if (addresses.empty()) throw ESocketError("Null Remote Address");
  }
  if (port < 1 || port > 65535) FailConnection("Connection Failed");
  // Each address of the name in turn (IPv6 and IPv4 alike); the last one's failure is the
  // connection's.
  std::string failure = "Connection Failed";
  for (const sockaddr_storage& address : addresses) {
    failure = ConnectTo(address, port);
    if (failure.empty()) {
      if (OnConnect) OnConnect(this);
      return;
    }
    if (Cancelled()) break;
  }
  FailConnection(Cancelled() ? "Connection Canceled" : failure);
}

std::string TSocketClient::ConnectTo(const sockaddr_storage& address, int32_t port) {
  const int family = address.ss_family;
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) throw ESocketError(SocketErrorMessage(errno));
  // Closing resets the connection instead of lingering over unsent data.
  linger abortive{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
  }
  if (Cancelled()) return "Connection Canceled";
  sockaddr_storage target = address;
  socklen_t length = sizeof(sockaddr_in);
  if (family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in6);
  } else {
    reinterpret_cast<sockaddr_in*>(&target)->sin_port = htons(static_cast<uint16_t>(port));
  }
  std::string failure;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      failure = "Connection Failed";
    } else {
      switch (Wait(fd, POLLOUT, ConnectDeadlineFromNow(), {})) {
        case WaitResult::TimedOut:
          failure = "Connection Timed out";
          break;
        case WaitResult::Cancelled:
          failure = "Connection Canceled";
          break;
        case WaitResult::Ready: {
          int error = 0;
          socklen_t size = sizeof error;
          if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
            failure = "Connection Failed";
          break;
        }
      }
    }
  }
  if (failure.empty() && Cancelled()) failure = "Connection Canceled";
  if (!failure.empty()) CloseSocket();
  return failure;
}

void TSocketClient::SendText(const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    if (Cancelled() || fd_ < 0) throw ESocketError(SocketErrorMessage(EINTR));
    ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (Cancelled()) throw ESocketError(SocketErrorMessage(EINTR));
      throw ESocketError(SocketErrorMessage(errno));
    }
    switch (Wait(fd_, POLLOUT, DeadlineFromNow(), {})) {
      case WaitResult::TimedOut:
        throw ESocketError("Socket Error # " + SocketErrorText(kWsaTimedOut));
      case WaitResult::Cancelled:
        throw ESocketError("Socket Error # " + SocketErrorText(kWsaInterrupted));
      case WaitResult::Ready:
        break;
    }
  }
}

long TSocketClient::Receive(const char* abortText) {
  if (Cancelled() || fd_ < 0) throw ESocketError(abortText);
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == buffer_.size() && begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) return -1;  // full: the caller takes bytes out first
  for (;;) {
    ssize_t n = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      return n;
    }
    // A shutdown from Disconnect looks like the end of the connection; it is a cancel.
    if (Cancelled()) throw ESocketError(abortText);
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    throw ESocketError(SocketErrorMessage(errno));
  }
}

TSocketClient::LineResult TSocketClient::ReadLine(std::string& line, size_t limit) {
  static constexpr const char* kAborted = "Socket readln aborted";
  line.clear();
  int64_t deadline = DeadlineFromNow();
  size_t searched = 0;
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const void* feed = std::memchr(start + searched, '\n', Buffered() - searched);
    if (feed != nullptr) {
      size_t length = static_cast<size_t>(static_cast<const char*>(feed) - start) + 1;
      if (length > limit) return LineResult::TooLong;
      line.assign(start, length);
      begin_ += length;
      return LineResult::Line;
    }
    searched = Buffered();
    if (searched >= limit || searched == buffer_.size()) return LineResult::TooLong;
    long received = Receive(kAborted);
    if (received > 0) continue;
    if (received == 0) {
      if (Buffered() == 0) return LineResult::Closed;
      line.assign(buffer_.data() + begin_, Buffered());
      begin_ = end_;
      return LineResult::Line;
    }
    if (Wait(fd_, POLLIN, deadline, {}) != WaitResult::Ready) throw ESocketError(kAborted);
  }
}

size_t TSocketClient::ReadChunk(std::string& out, size_t max) {
  static constexpr const char* kAborted = "Socket capture aborted";
  int64_t deadline = DeadlineFromNow();
  for (;;) {
    if (Buffered() > 0) {
      size_t take = std::min(Buffered(), max);
      out.append(buffer_.data() + begin_, take);
      begin_ += take;
      return take;
    }
    if (max == 0) return 0;
    long received = Receive(kAborted);
    if (received > 0) continue;
    if (received == 0) return 0;
    if (Wait(fd_, POLLIN, deadline, {}) != WaitResult::Ready) throw ESocketError(kAborted);
  }
}

}  // namespace qor
