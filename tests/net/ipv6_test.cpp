// Both transports over IPv6 loopback: an address written as a location writes it ("[::1]") or
// bare, and the texts they report back written the same way.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "net/udp_receiver.h"
#include "platform/window_thread.h"

namespace qor {
namespace {

constexpr int64_t kPatience = 20000;

// A socket of the IPv6 loopback at a port the system chose; -1 where the system has none.
int Loopback6(int type, uint16_t& port) {
  const int fd = ::socket(AF_INET6, type | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      (type == SOCK_STREAM && ::listen(fd, 4) != 0)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(address.sin6_port);
  return fd;
}

TEST(Ipv6, TcpConnectsToALiteralWrittenEitherWayAndReportsItBracketed) {
  WindowThread window;
  uint16_t port = 0;
  const int listener = Loopback6(SOCK_STREAM, port);
  if (listener < 0) GTEST_SKIP() << "no IPv6 loopback";
  for (const bool byName : {true, false}) {
    for (const char* written : {"[::1]", "::1"}) {
      SCOPED_TRACE(std::string(written) + (byName ? " as host" : " as address"));
      TTCP tcp;
      bool connected = false;
      tcp.OnConnected = [&](TTCP*) { connected = true; };
      (byName ? tcp.RemoteHost : tcp.RemoteAddress) = written;
      tcp.RemotePort = port;
      tcp.Connect();
      ASSERT_TRUE(window.ProcessUntil([&] { return connected; }, kPatience));
      EXPECT_EQ(tcp.RemoteAddress, "[::1]");
      EXPECT_EQ(tcp.LocalAddress, "[::1]");
      const int accepted = ::accept(listener, nullptr, nullptr);
      EXPECT_GE(accepted, 0);
      if (accepted >= 0) ::close(accepted);
      tcp.Close();
      tcp.WaitFor();
    }
  }
  ::close(listener);
}

TEST(Ipv6, UdpBindsInTheFamilyOfItsRemoteAndNamesSendersBracketed) {
  WindowThread window;
  uint16_t peerPort = 0;
  const int peer = Loopback6(SOCK_DGRAM, peerPort);
  if (peer < 0) GTEST_SKIP() << "no IPv6 loopback";
  TUDP udp;
  std::vector<std::string> senders;
  udp.OnData = [&](TUDP*, const uint8_t*, int32_t, const std::string& address, uint16_t port) {
    senders.push_back(address + " " + std::to_string(port));
  };
  uint16_t freePort = 0;
  ::close(Loopback6(SOCK_DGRAM, freePort));
  udp.LocalHost = "";
  udp.LocalPort = freePort;
  udp.RemoteHost = "[::1]";
  udp.RemotePort = peerPort;
  udp.Start();
  ASSERT_TRUE(udp.WaitUntilBound(std::chrono::milliseconds(kPatience)));
  // The receiver reaches its remote, which answers to where the datagram came from.
  ASSERT_EQ(udp.Send("ping", 4), 4);
  pollfd watch{peer, POLLIN, 0};
  ASSERT_EQ(::poll(&watch, 1, static_cast<int>(kPatience)), 1);
  char buffer[16];
  sockaddr_in6 from{};
  socklen_t length = sizeof from;
  ASSERT_EQ(::recvfrom(peer, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length),
            4);
  ASSERT_EQ(::sendto(peer, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), length), 4);
  ASSERT_TRUE(window.ProcessUntil([&] { return !senders.empty(); }, kPatience));
  EXPECT_EQ(senders[0], "[::1] " + std::to_string(peerPort));
  udp.Stop();
  udp.WaitFor();
  ::close(peer);
}

}  // namespace
}  // namespace qor
