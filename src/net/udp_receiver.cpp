#include "net/udp_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "net/socket_address.h"
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
  // A waiter on the binding may be the very thread that has to take this message.
  SetBindState(BindState::Gone);
  Synchronize([&] {
    Terminate();
    ErrorText = text;
    ErrorCode = kFailureCode;
    if (OnMessage) OnMessage(this, ErrorText, ErrorCode);
  });
  Terminate();  // also when the window thread is gone and the handover did not run
}

void TUDP::SetBindState(BindState state) {
  {
    std::lock_guard<std::mutex> lock(bind_mutex_);
    bind_state_ = state;
  }
  bind_changed_.notify_all();
}

bool TUDP::WaitUntilBound(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(bind_mutex_);
  bind_changed_.wait_for(lock, timeout, [&] { return bind_state_ != BindState::Pending; });
  return bind_state_ == BindState::Bound;
}

void TUDP::Stop() {
  Terminate();
  socket_.RequestShutdown();
}

int32_t TUDP::Send(const void* data, int32_t length) {
  return SendToPort(data, length, static_cast<uint16_t>(RemotePort));
}

int32_t TUDP::SendToPort(const void* data, int32_t length, uint16_t port) {
  if (length < 0 || (length > 0 && data == nullptr)) return -1;
  if (!remote_valid_.load(std::memory_order_acquire)) return -1;
  sockaddr_storage target = remote_address_;
  SetAddressPort(target, port);
  return static_cast<int32_t>(socket_.Use([&](int fd) -> long {
    ssize_t n;
    do {
      n = ::sendto(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&target), AddressLength(target));
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
  // The socket takes the family of the address it works with: the remote one (the data comes
  // from the server the control connection reached), else a local one given, else IPv4.
  sockaddr_storage remote{};
  const bool remoteNumeric = NumericAddress(*RemoteHost, remote);
  sockaddr_storage local{};
  bool localValid = true;
  if (LocalHost->empty()) {
    local = AnyAddress(remoteNumeric ? remote.ss_family : AF_INET);
  } else {
    localValid = NumericAddress(*LocalHost, local);
    if (!localValid) local = AnyAddress(remoteNumeric ? remote.ss_family : AF_INET);
  }
  int fd = ::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    Fail("TUDP: socket creation has failed" + SocketErrorText(WinsockErrorFromErrno(errno)));
    return false;
  }
  if (!socket_.Install(fd)) return false;  // stopped before the socket existed
  EnlargeReceiveBuffer(fd);
  SetAddressPort(local, static_cast<uint16_t>(LocalPort));
  if (remoteNumeric && remote.ss_family == local.ss_family) {
    SetAddressPort(remote, static_cast<uint16_t>(RemotePort));
    remote_address_ = remote;
    remote_valid_.store(true, std::memory_order_release);
  }
  int error = EADDRNOTAVAIL;  // a local host that is no address cannot be bound
  const auto bindTo = [fd](const sockaddr_storage& address) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), AddressLength(address)) == 0;
  };
  bool bound = localValid && bindTo(local);
  if (!bound && localValid) error = errno;
  if (!bound && localValid && error == EADDRINUSE && FallBackToFreePort && LocalPort != 0) {
    SetAddressPort(local, 0);  // the system picks a free one
    bound = bindTo(local);
    if (!bound) error = errno;
  }
  if (bound) {
    sockaddr_storage actual{};
    socklen_t size = sizeof actual;
    const bool named = ::getsockname(fd, reinterpret_cast<sockaddr*>(&actual), &size) == 0;
    bound_port_.store(named ? AddressPort(actual) : LocalPort, std::memory_order_release);
    SetBindState(BindState::Bound);
    return true;
  }
  if (!socket_.ShutdownRequested()) {
    Fail("TUDP: socket bind failed: " + SocketErrorText(WinsockErrorFromErrno(error)));
  }
  socket_.Close();
  return false;
}

void TUDP::EnlargeReceiveBuffer(int fd) {
  // The forcing form passes the system's ceiling and needs privileges; the plain form is capped
  // at the ceiling. Either way a smaller buffer still works, so a refusal is no failure.
  const int bytes = kReceiveBufferBytes;
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  int given = 0;
  socklen_t length = sizeof given;
  if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &given, &length) == 0) receive_buffer_bytes_ = given;
}

void TUDP::ReceiveLoop() {
  // Datagrams are taken in batches: one blocking wait for the first, then whatever else is already
  // queued, and the whole batch goes to the window thread in one handover. A handover per datagram
  // cannot keep up with a fast sender, and every datagram that overflows the socket buffer has to
  // be asked for again.
  const size_t size = MaxPacketSize;
  const size_t batch = std::clamp<size_t>(kBatchBytes / size, 1, kLargestBatch);
  auto buffer = std::make_unique<uint8_t[]>(size * batch);
  std::vector<iovec> pieces(batch);
  std::vector<sockaddr_storage> senders(batch);
  std::vector<mmsghdr> headers(batch);
  using Steady = std::chrono::steady_clock;
  Steady::time_point previous{};
  while (!Terminated()) {
    for (size_t i = 0; i < batch; ++i) {
      pieces[i] = {buffer.get() + i * size, size};
      headers[i] = {};
      headers[i].msg_hdr.msg_name = &senders[i];
      headers[i].msg_hdr.msg_namelen = sizeof senders[i];
      headers[i].msg_hdr.msg_iov = &pieces[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    // MSG_TRUNC makes each length the datagram's real one, so an oversized datagram is seen as
    // such instead of arriving cut.
    int error = 0;
    const long count = socket_.Use([&](int fd) -> long {
      const int n = ::recvmmsg(fd, headers.data(), static_cast<unsigned>(batch),
                               MSG_WAITFORONE | MSG_TRUNC, nullptr);
      error = errno;
      return n;
    });
    if (count < 0) {
      if (error == EINTR) continue;
      Terminate();
      break;
    }
    size_t got = static_cast<size_t>(count);
    const Steady::time_point now = Steady::now();
    if (got > 0 && got < batch && now - previous < kBusyGap && !socket_.ShutdownRequested()) {
      // A busy stream: let the next datagrams of this moment arrive, then take them too. Stop
      // shuts the socket down, which the gathering sees within kGather.
      std::this_thread::sleep_for(kGather);
      const long more = socket_.Use([&](int fd) -> long {
        return ::recvmmsg(fd, headers.data() + got, static_cast<unsigned>(batch - got),
                          MSG_DONTWAIT | MSG_TRUNC, nullptr);
      });
      if (more > 0) got += static_cast<size_t>(more);
    }
    previous = now;
    Deliver(buffer.get(), headers.data(), got);
  }
}

void TUDP::Deliver(const uint8_t* buffer, const mmsghdr* headers, size_t count) {
  const size_t size = MaxPacketSize;
  // Everything up to an oversized datagram is still handed over; that one ends the receiver.
  size_t usable = 0;
  bool oversized = false;
  while (usable < count) {
    if (headers[usable].msg_len > size || (headers[usable].msg_hdr.msg_flags & MSG_TRUNC)) {
      oversized = true;
      break;
    }
    ++usable;
  }
  bool anyData = false;
  for (size_t i = 0; i < usable; ++i) anyData = anyData || headers[i].msg_len > 0;
  if (anyData) {
    Synchronize([&] {
      for (size_t i = 0; i < usable && !Terminated(); ++i) {
        const auto length = static_cast<int32_t>(headers[i].msg_len);
        // An empty datagram is a valid datagram anyone may send; it carries nothing to hand over.
        if (length == 0 || !OnData) continue;
        const auto* sender = static_cast<const sockaddr_storage*>(headers[i].msg_hdr.msg_name);
        OnData(this, buffer + i * size, length, AddressText(*sender), AddressPort(*sender));
      }
      if (OnDataDone) OnDataDone(this);
    });
  }
  if (oversized) {
    Fail("TUDP: UDP packet size exceeds max setting" + std::to_string(kWsaMessageTooLong));
  } else if (socket_.ShutdownRequested()) {
    // A shut-down socket reads as empty datagrams; only a stop ends the loop.
    Terminate();
  }
}

void TUDP::Execute() {
  // A handler that throws ends this thread through here; the socket must not outlive it.
  struct CloseOnExit {
    TUDP& udp;
    ~CloseOnExit() {
      udp.socket_.Close();
      udp.SetBindState(BindState::Gone);
    }
  } closeOnExit{*this};
  if (!CheckConfiguration()) return;
  if (!OpenAndBind()) return;
  ReceiveLoop();
}

}  // namespace qor
