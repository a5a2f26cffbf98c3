#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qor::test {

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

uint16_t BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("getsockname failed");
  }
  return ntohs(address.sin_port);
}

Fd BoundSocket(int type) {
  Fd fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error("socket failed");
  sockaddr_in address = Loopback(0);
  if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind failed");
  }
  return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd watch{fd, POLLIN, 0};
  int result;
  do {
    result = poll(&watch, 1, timeoutMs);
  } while (result < 0 && errno == EINTR);
  return result > 0;
}

}  // namespace

bool Readable(int fd) {
  return WaitReadable(fd, 0);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

Fd::~Fd() {
  Reset();
}

int Fd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

TcpListener::TcpListener(int backlog) : fd_(BoundSocket(SOCK_STREAM)) {
  if (listen(fd_.Get(), backlog) != 0) throw std::runtime_error("listen failed");
  port_ = BoundPort(fd_.Get());
}

Fd TcpListener::Accept(int timeoutMs, std::string* peerAddress, uint16_t* peerPort) {
  if (!WaitReadable(fd_.Get(), timeoutMs)) return Fd();
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  Fd connection(accept4(fd_.Get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
  if (connection.Valid()) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    if (peerAddress != nullptr) *peerAddress = text;
    if (peerPort != nullptr) *peerPort = ntohs(peer.sin_port);
  }
  return connection;
}

RefusingPort::RefusingPort() : fd_(BoundSocket(SOCK_STREAM)), port_(BoundPort(fd_.Get())) {}

void ResetConnection(Fd& connection) {
  linger option{1, 0};
  setsockopt(connection.Get(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
  connection.Reset();
}

bool SendAll(int fd, const void* data, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

bool ReceiveExactly(int fd, void* data, size_t length, int timeoutMs) {
  auto* bytes = static_cast<uint8_t*>(data);
  while (length > 0) {
    if (!WaitReadable(fd, timeoutMs)) return false;
    ssize_t count = recv(fd, bytes, length, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    bytes += count;
    length -= static_cast<size_t>(count);
  }
  return true;
}

int PendingConnectsTo(uint16_t port) {
  int pending = 0;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // column titles
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, "%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "02" && remote.size() > 5 && remote.substr(remote.size() - 4) == wanted) {
      ++pending;
    }
  }
  return pending;
}

int ThreadsBlockedIn(long syscallNumber) {
  int blocked = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream file(std::string("/proc/self/task/") + entry->d_name + "/syscall");
    long number = -1;
    if (file >> number && number == syscallNumber) ++blocked;
  }
  closedir(tasks);
  return blocked;
}

UdpPeer::UdpPeer() : fd_(BoundSocket(SOCK_DGRAM)), port_(BoundPort(fd_.Get())) {
  // Room for every datagram a test sends, even if the reading side is slow to be scheduled.
  int size = 2 << 20;
  setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

bool UdpPeer::SendTo(uint16_t port, const void* data, size_t length) {
  sockaddr_in target = Loopback(port);
  return sendto(fd_.Get(), data, length, 0, reinterpret_cast<sockaddr*>(&target), sizeof target) ==
         static_cast<ssize_t>(length);
}

bool UdpPeer::Receive(std::vector<uint8_t>& datagram, int timeoutMs) {
  if (!WaitReadable(fd_.Get(), timeoutMs)) return false;
  datagram.resize(65536);
  ssize_t count = recv(fd_.Get(), datagram.data(), datagram.size(), 0);
  if (count < 0) return false;
  datagram.resize(static_cast<size_t>(count));
  return true;
}

uint16_t FreeUdpPort() {
  Fd probe = BoundSocket(SOCK_DGRAM);
  return BoundPort(probe.Get());
}

}  // namespace qor::test
