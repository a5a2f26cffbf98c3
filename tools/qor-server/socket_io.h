#pragma once
// Sockets for the server: listeners and bounded connection I/O. Every wait is sliced so that a
// stop request is seen within a tenth of a second, and every wait has a limit, so a client that
// stops reading or writing cannot hold a connection thread for ever.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <netinet/in.h>

namespace qor::server {

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

// Binds host:port (port 0 picks one) for TCP (listening) or UDP. Returns the bound port in port.
bool OpenListener(const std::string& host, uint16_t& port, bool udp, Socket& out,
                  std::string& error);
// Waits up to timeoutMs for a connection; an invalid socket when none came.
Socket AcceptOne(const Socket& listener, int timeoutMs, sockaddr_in& peer);
std::string AddressText(const sockaddr_in& address);

class Connection {
 public:
  enum class Read { kData, kClosed, kTimeout, kStopped, kError };
  Connection(Socket socket, const std::atomic<bool>& stop);
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
  int Fd() const { return socket_.Fd(); }
  void Shutdown();

 private:
  Socket socket_;
  const std::atomic<bool>& stop_;
};

}  // namespace qor::server
