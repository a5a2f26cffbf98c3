#pragma once
// Sockets for the server: listeners and bounded connection I/O. Every wait also watches the
// server's stop signal, so a stop is seen at once without waking on a period, and every wait has
// a limit, so a client that stops reading or writing cannot hold a connection thread for ever.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <netinet/in.h>

namespace qor::server {

// A stop request that waits can watch alongside their sockets: raised once, never lowered.
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;
  void Raise();
  bool Raised() const { return raised_.load(); }
  // Readable once raised; -1 when no descriptor could be made (waits then fall back to slices).
  int Fd() const { return fd_; }

 private:
  std::atomic<bool> raised_{false};
  int fd_ = -1;
};

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

// Binds host:port (port 0 picks one) for TCP (listening) or UDP; host is an IPv4 or an IPv6
// address (brackets allowed). Returns the bound port in port.
bool OpenListener(const std::string& host, uint16_t& port, bool udp, Socket& out,
                  std::string& error);
// Waits up to timeoutMs (negative: no limit) for a connection; an invalid socket when none came
// or stop was raised.
Socket AcceptOne(const Socket& listener, int timeoutMs, sockaddr_storage& peer,
                 const StopSignal* stop = nullptr);
// Waits up to timeoutMs for events on fd, or until stop is raised. Returns the revents, 0 on
// time-out, -1 on stop or error.
int WaitFor(int fd, short events, int timeoutMs, const StopSignal* stop);
// "1.2.3.4:port" or "[::1]:port".
std::string AddressText(const sockaddr_storage& address);
void SetAddressPort(sockaddr_storage& address, uint16_t port);
socklen_t AddressSize(const sockaddr_storage& address);

class Connection {
 public:
  enum class Read { kData, kClosed, kTimeout, kStopped, kError };
  Connection(Socket socket, const StopSignal& stop);
  // Up to capacity bytes, waiting at most timeoutMs for the first.
  Read ReadSome(uint8_t* buffer, size_t capacity, size_t& got, int timeoutMs);
  // True when bytes are waiting (or the peer closed), without waiting more than timeoutMs.
  bool Readable(int timeoutMs);
  // All bytes, or false when the peer fails, the server stops or no progress is made for
  // stallLimitMs.
  bool WriteAll(const uint8_t* data, size_t size, int stallLimitMs = 30000);
  bool WriteAll(const std::string& text) {
    return WriteAll(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  // Sleeps up to ms, returning false early when the server stops.
  bool Pause(int64_t ms);
  // From now on every write goes out one byte every ms (a trickle a client must not take for a
  // stream that still flows).
  void Trickle(int64_t ms) { trickle_ms_ = ms; }
  int Fd() const { return socket_.Fd(); }
  void Shutdown();

 private:
  Socket socket_;
  const StopSignal& stop_;
  int64_t trickle_ms_ = 0;
};

}  // namespace qor::server
