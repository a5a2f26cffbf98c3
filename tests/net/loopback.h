#pragma once
// Small real-socket peers on 127.0.0.1 for the transport tests.

#include <cstdint>
#include <string>
#include <vector>

namespace qor::test {

// Owns one descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset();

 private:
  int fd_ = -1;
};

// A TCP listener on 127.0.0.1 at a port the system chose.
class TcpListener {
 public:
  explicit TcpListener(int backlog = 8);
  uint16_t Port() const { return port_; }
  // Waits up to timeoutMs for a connection; an invalid Fd on timeout.
  Fd Accept(int timeoutMs = 20000, std::string* peerAddress = nullptr,
            uint16_t* peerPort = nullptr);
  int Get() const { return fd_.Get(); }

 private:
  Fd fd_;
  uint16_t port_ = 0;
};

// A TCP port on 127.0.0.1 that is bound but not listening: connecting to it is refused.
class RefusingPort {
 public:
  RefusingPort();
  uint16_t Port() const { return port_; }

 private:
  Fd fd_;
  uint16_t port_ = 0;
};

// True when a read (or an accept) would not block.
bool Readable(int fd);
// Closes the connection with a reset instead of an orderly close.
void ResetConnection(Fd& connection);
// Writes everything; false when the peer went away.
bool SendAll(int fd, const void* data, size_t length);
// Reads exactly length bytes, waiting up to timeoutMs for each part; false on end or timeout.
bool ReceiveExactly(int fd, void* data, size_t length, int timeoutMs = 20000);
// How many TCP sockets are still trying to reach the port (state SYN-SENT).
int PendingConnectsTo(uint16_t port);

// How many threads of this process are blocked in the given system call (SYS_recvfrom, ...).
int ThreadsBlockedIn(long syscallNumber);

// A UDP socket bound to 127.0.0.1 at a port the system chose.
class UdpPeer {
 public:
  UdpPeer();
  uint16_t Port() const { return port_; }
  bool SendTo(uint16_t port, const void* data, size_t length);
  // One datagram, or false after timeoutMs.
  bool Receive(std::vector<uint8_t>& datagram, int timeoutMs = 20000);
  int Get() const { return fd_.Get(); }

 private:
  Fd fd_;
  uint16_t port_ = 0;
};

// A UDP port on 127.0.0.1 that was free a moment ago (for receivers that need a fixed port).
uint16_t FreeUdpPort();

}  // namespace qor::test
