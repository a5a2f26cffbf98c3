#include "net/udp_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "net/socket_errors.h"
#include "platform/window_thread.h"

namespace qor {

namespace {

bool PortInRange(uint32_t port) {
  return port >= 1 && port <= 65535;
}

}  // namespace

TUDP::TUDP() = default;

TUDP::~TUDP() {
  Stop();
  TerminateAndWait();
}

void TUDP::Fail(const std::string& text) {
  Synchronize([&] {
    Terminate();
    ErrorText = text;
    ErrorCode = kFailureCode;
    if (OnMessage) OnMessage(this, ErrorText, ErrorCode);
  });
  Terminate();  // also when the window thread is gone and the handover did not run
}

void TUDP::Stop() {
  Terminate();
  socket_.RequestShutdown();
}

int32_t TUDP::Send(const void* data, int32_t length) {
  if (length < 0 || (length > 0 && data == nullptr)) return -1;
  if (!remote_valid_.load(std::memory_order_acquire)) return -1;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(RemotePort));
  target.sin_addr.s_addr = remote_address_;
  return static_cast<int32_t>(socket_.Use([&](int fd) -> long {
    ssize_t n;
    do {
      n = ::sendto(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (n < 0 && errno == EINTR);
    return n;
  }));
}

bool TUDP::CheckConfiguration() {
  if (!LocalHost) {
    Fail("TUDP: No local host specified");
  } else if (!PortInRange(LocalPort)) {
    Fail("TUDP: Local port value out of range");
  } else if (!RemoteHost) {
    Fail("TUDP: No remote host Specified");
  } else if (!PortInRange(RemotePort)) {
    Fail("TUDP: Remote port value out of range");
  } else if (MaxPacketSize < 1 || MaxPacketSize > kLargestMaxPacketSize) {
    Fail("TUDP: Max UDP packet size out of range");
  } else {
    return true;
  }
  return false;
}

bool TUDP::OpenAndBind() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    Fail("TUDP: socket creation has failed" + std::to_string(WinsockErrorFromErrno(errno)));
    return false;
  }
  if (!socket_.Install(fd)) return false;  // stopped before the socket existed

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(LocalPort));
  bool localValid = true;
  if (LocalHost->empty()) {
    local.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    localValid = inet_pton(AF_INET, LocalHost->c_str(), &local.sin_addr) == 1;
  }
  in_addr remote{};
  if (inet_pton(AF_INET, RemoteHost->c_str(), &remote) == 1) {
    remote_address_ = remote.s_addr;
    remote_valid_.store(true, std::memory_order_release);
  }
  int error = EADDRNOTAVAIL;  // a local host that is no address cannot be bound
  if (localValid && ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
    return true;
  }
  if (localValid) error = errno;
  if (!socket_.ShutdownRequested()) {
    Fail("TUDP: socket bind failed" + std::to_string(WinsockErrorFromErrno(error)));
  }
  socket_.Close();
  return false;
}

void TUDP::ReceiveLoop() {
  const size_t size = MaxPacketSize;
  auto buffer = std::make_unique<uint8_t[]>(size);
  while (!Terminated()) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC makes the result the datagram's real length, so an oversized one is seen as such
    // instead of arriving cut.
    int error = 0;
    ssize_t count = socket_.Use([&](int fd) -> long {
      ssize_t n = ::recvfrom(fd, buffer.get(), size, MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&sender), &senderLength);
      error = errno;
      return n;
    });
    if (count < 0) {
      if (error == EINTR) continue;
      Terminate();
    } else if (static_cast<size_t>(count) > size) {
      Fail("TUDP: UDP packet size exceeds max setting" + std::to_string(kWsaMessageTooLong));
    } else if (count == 0) {
      // An empty datagram is a valid datagram anyone may send; only a stop ends the loop (a
      // shut-down socket also reads as empty).
      if (socket_.ShutdownRequested()) Terminate();
    } else {
      char senderText[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &sender.sin_addr, senderText, sizeof senderText);
      const std::string senderAddress = senderText;
      const uint16_t senderPort = ntohs(sender.sin_port);
      const auto length = static_cast<int32_t>(count);
      Synchronize([&] {
        if (OnData) OnData(this, buffer.get(), length, senderAddress, senderPort);
      });
    }
  }
}

void TUDP::Execute() {
  // A handler that throws ends this thread through here; the socket must not outlive it.
  struct CloseOnExit {
    SocketSlot& socket;
    ~CloseOnExit() { socket.Close(); }
  } closeOnExit{socket_};
  if (!CheckConfiguration()) return;
  if (!OpenAndBind()) return;
  ReceiveLoop();
}

}  // namespace qor
