#include "http/socket_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "http/host_lookup.h"
#include "net/socket_errors.h"
#include "platform/clock.h"
#include "platform/window_thread.h"

namespace qor {

namespace {

// How long one wait slice sleeps before the window thread gets its turn again.
constexpr int kSliceMs = 2;

// Windows Sockets numbers for the two ways a send can stop without a system error.
constexpr int kWsaInterrupted = 10004;
constexpr int kWsaTimedOut = 10060;

int64_t NowMs() {
  return SystemClock().MonotonicMs();
}

void LetWindowRun() {
  WindowThread* window = WindowThread::Current();
  if (window != nullptr && window->IsWindowThread()) window->ProcessMessages();
}

}  // namespace

std::string SocketErrorMessage(int error) {
  return "Socket Error # " + SocketErrorText(WinsockErrorFromErrno(error));
}

TSocketClient::TSocketClient() : buffer_(kTransferBufferSize) {}

TSocketClient::~TSocketClient() {
  CloseSocket();
}

TSocketClient::Operation::Operation(TSocketClient& client) : client_(client) {
  std::lock_guard<std::mutex> lock(client_.mutex_);
  if (client_.busy_) throw ESocketError("Already connected");
  client_.busy_ = true;
  client_.cancel_.store(false, std::memory_order_release);
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
  for (;;) {
    LetWindowRun();
    if (OnWait) OnWait();
    if (Cancelled()) return WaitResult::Cancelled;
    if (fd >= 0) {
      pollfd watch{fd, events, 0};
      int ready = ::poll(&watch, 1, kSliceMs);
      // A poll error is left for the socket call that follows to report.
      if (ready != 0 && !(ready < 0 && errno == EINTR)) return WaitResult::Ready;
    } else {
      if (done && done()) return WaitResult::Ready;
      ::poll(nullptr, 0, kSliceMs);
      if (done && done()) return WaitResult::Ready;
    }
    if (Cancelled()) return WaitResult::Cancelled;
    if (deadline >= 0 && NowMs() >= deadline) return WaitResult::TimedOut;
  }
}

bool TSocketClient::Resolve(const std::string& host, in_addr& address) {
  if (inet_pton(AF_INET, host.c_str(), &address) == 1) return true;
  if (host.empty()) return false;
  HostLookup lookup;
  lookup.Start(host);
  switch (Wait(-1, 0, ConnectDeadlineFromNow(), [&] { return lookup.Done(); })) {
    case WaitResult::TimedOut:
      throw ESocketError("Host Lookup Timed Out");
    case WaitResult::Cancelled:
      throw ESocketError("Host Lookup Canceled");
    case WaitResult::Ready:
      break;
  }
  return lookup.Found(address);
}

void TSocketClient::FailConnection(const std::string& text) {
  CloseSocket();
  if (OnConnectionFailed) OnConnectionFailed(this);
  throw ESocketError(text);
}

void TSocketClient::Connect(const std::string& host, int32_t port) {
  if (Connected()) throw ESocketError("Already connected");
  in_addr address{};
  if (!Resolve(host, address)) {
    bool handled = false;
    if (OnInvalidHost) OnInvalidHost(handled);
    if (!handled || !Resolve(host, address)) throw ESocketError("Null Remote Address");
  }
  ConnectTo(address, port);
}

void TSocketClient::ConnectTo(const in_addr& address, int32_t port) {
  if (port < 1 || port > 65535) FailConnection("Connection Failed");
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) throw ESocketError(SocketErrorMessage(errno));
  // Closing resets the connection instead of lingering over unsent data.
  linger abortive{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
  }
  if (Cancelled()) FailConnection("Connection Canceled");

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr = address;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) FailConnection("Connection Failed");
    switch (Wait(fd, POLLOUT, ConnectDeadlineFromNow(), {})) {
      case WaitResult::TimedOut:
        FailConnection("Connection Timed out");
      case WaitResult::Cancelled:
        FailConnection("Connection Canceled");
      case WaitResult::Ready:
        break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      if (Cancelled()) FailConnection("Connection Canceled");
      FailConnection("Connection Failed");
    }
  }
  if (Cancelled()) FailConnection("Connection Canceled");
  if (OnConnect) OnConnect(this);
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
