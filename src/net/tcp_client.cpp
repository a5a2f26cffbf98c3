#include "net/tcp_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "net/socket_address.h"
#include "net/socket_errors.h"
#include "platform/window_thread.h"
#include "support/location.h"

namespace qor {

namespace {

// A blocking connect that a signal interrupts goes on in the background; wait for its outcome
// instead of starting a second attempt.
int ConnectBlocking(int fd, const sockaddr_storage& target) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), AddressLength(target)) == 0)
    return 0;
  if (errno != EINTR) return -1;
  pollfd watch{fd, POLLOUT, 0};
  while (::poll(&watch, 1, -1) < 0) {
    if (errno != EINTR) return -1;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

TTCP::TTCP() = default;

TTCP::~TTCP() {
  Close();
  TerminateAndWait();
}

void TTCP::Raise(const std::function<void(TTCP*)>& event) {
  Synchronize([&] {
    if (event) event(this);
  });
}

void TTCP::Fail(const std::string& text) {
  Terminate();
  Synchronize([&] {
    MessageText = text;
    MessageCode = kFailureCode;
    if (OnMessage) OnMessage(this, MessageText, MessageCode);
  });
}

void TTCP::Connect() {
  Raise(OnConnecting);
  if (RemoteHost.empty() && RemoteAddress.empty()) {
    Fail("TTCP: No remote host or address specified");
    return;
  }
  if (RemotePort < 1 || RemotePort > 65535) {
    Fail("TTCP: Remote port value out of range");
    return;
  }
  Start();
}

int32_t TTCP::Send(const void* data, int32_t length) {
  if (length < 0 || (length > 0 && data == nullptr)) return -1;
  std::lock_guard lock(send_mutex_);
  return static_cast<int32_t>(socket_.Use([&](int fd) -> long {
    // A short send would silently cut the stream in two; finish the block or report failure.
    const auto* bytes = static_cast<const uint8_t*>(data);
    int32_t sent = 0;
    while (sent < length) {
      ssize_t n = ::send(fd, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      sent += static_cast<int32_t>(n);
    }
    return sent;
  }));
}

int32_t TTCP::SendNow(const void* data, int32_t length) {
  if (length < 0 || (length > 0 && data == nullptr)) return -1;
  std::unique_lock lock(send_mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return -1;
  return static_cast<int32_t>(socket_.Use([&](int fd) -> long {
    ssize_t n;
    do {
      n = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
  }));
}

void TTCP::Close() {
  Terminate();
  socket_.RequestShutdown();
}

bool TTCP::Resolve(std::vector<sockaddr_storage>& addresses) {
  // A literal is taken as written, brackets and all; a name is looked up in both families.
  sockaddr_storage literal{};
  if (NumericAddress(RemoteHost, literal)) {
    addresses = {literal};
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  int result = ::getaddrinfo(BareHost(RemoteHost).c_str(), nullptr, &hints, &answer);
  int savedErrno = errno;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(answer, &::freeaddrinfo);
  for (const addrinfo* a = answer; result == 0 && a != nullptr; a = a->ai_next) {
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
        a->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, a->ai_addrlen);
    addresses.push_back(address);
  }
  if (addresses.empty()) {
    if (socket_.ShutdownRequested()) return false;
    Fail("TTCP: DNS resolve failed: " +
         SocketErrorText(WinsockErrorFromResolver(result == 0 ? EAI_NONAME : result, savedErrno)));
    return false;
  }
  return true;
}

bool TTCP::OpenAndConnect(const std::vector<sockaddr_storage>& addresses) {
  // Each address in turn; the last one's failure is the connection's.
  int error = EADDRNOTAVAIL;
  int fd = -1;
  sockaddr_storage connected{};
  for (const sockaddr_storage& address : addresses) {
    if (socket_.ShutdownRequested()) return false;
    fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
      Fail("TTCP: socket creation failed" + SocketErrorText(WinsockErrorFromErrno(errno)));
      return false;
    }
    if (!socket_.Install(fd)) return false;  // closed by the owner while we were getting here
    connected = address;
    SetAddressPort(connected, static_cast<uint16_t>(RemotePort));
    if (ConnectBlocking(fd, connected) == 0) break;
    error = errno;
    socket_.Close();
    fd = -1;
  }
  if (fd < 0) {
    if (!socket_.ShutdownRequested()) {
      Fail("TTCP: socket connect failed: " + SocketErrorText(WinsockErrorFromErrno(error)));
    }
    return false;
  }
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    int failure = errno;
    Fail("TTCP: There was an error reading local IP or Port value: " +
         SocketErrorText(WinsockErrorFromErrno(failure)));
    socket_.Close();
    return false;
  }
  const std::string remoteAddress = AddressText(connected);
  const std::string localAddress = AddressText(local);
  const int32_t localPort = AddressPort(local);
  Synchronize([&] {
    RemoteAddress = remoteAddress;
    LocalAddress = localAddress;
    LocalPort = localPort;
    if (OnConnected) OnConnected(this);
  });
  return true;
}

void TTCP::ReceiveLoop() {
  const int32_t size = BufferSize > 0 ? BufferSize : kDefaultBufferSize;
  auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
  while (!Terminated()) {
    int error = 0;
    ssize_t count = socket_.Use([&](int fd) -> long {
      ssize_t n = ::recv(fd, buffer.get(), static_cast<size_t>(size), 0);
      error = errno;
      return n;
    });
    if (count < 0) {
      if (error == EINTR) continue;
      if (WinsockErrorFromErrno(error) == kWsaMessageTooLong) {
        Fail("TTCP: TCP packet size exceeds max setting");
      }
      Terminate();
    } else if (count == 0) {
      Terminate();  // the peer closed, or Close shut the socket down
    } else {
      const auto length = static_cast<int32_t>(count);
      Synchronize([&] {
        if (OnData) OnData(this, buffer.get(), length);
      });
    }
  }
}

void TTCP::Execute() {
  // A handler that throws ends this thread through here; the connection must not outlive it.
  struct CloseOnExit {
    SocketSlot& socket;
    ~CloseOnExit() { socket.Close(); }
  } closeOnExit{socket_};
  Raise(OnResolving);
  std::vector<sockaddr_storage> addresses;
  if (!RemoteHost.empty()) {
    if (!Resolve(addresses)) return;
    const std::string first = AddressText(addresses.front());
    Synchronize([&] { RemoteAddress = first; });
  } else {
    // Set before Connect; only a lookup writes it afterwards.
    sockaddr_storage literal{};
    if (!NumericAddress(RemoteAddress, literal)) {
      // Not a numeric address: what the connect of such a target reports.
      Fail("TTCP: socket connect failed: " + SocketErrorText(WinsockErrorFromErrno(EADDRNOTAVAIL)));
      return;
    }
    addresses = {literal};
  }
  if (socket_.ShutdownRequested()) return;
  if (!OpenAndConnect(addresses)) return;
  ReceiveLoop();
  socket_.Close();
  Raise(OnDisconnected);
}

}  // namespace qor
