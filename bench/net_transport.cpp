// Throughput of the transports into a handler that does nothing: datagrams per second through
// TUDP and bytes per second through TTCP, on loopback, with every event handed to the window
// thread as in the program (the benchmark's own thread is the window thread).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "net/tcp_client.h"
#include "net/udp_receiver.h"
#include "platform/window_thread.h"

namespace {

constexpr int64_t kPatienceMs = 10000;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

uint16_t PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

int BoundSocket(int type) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

uint16_t FreeUdpPort() {
  int fd = BoundSocket(SOCK_DGRAM);
  uint16_t port = PortOf(fd);
  close(fd);
  return port;
}

// Datagrams of range(0) bytes, at most range(1) in flight so that none is dropped by a full
// receive queue (a drop would be measured as a stall, not as speed).
void BM_UdpDatagrams(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  const auto window = static_cast<uint64_t>(state.range(1));
  qor::WindowThread windowThread;
  uint64_t received = 0;
  qor::TUDP udp;
  udp.LocalHost = "";
  udp.LocalPort = FreeUdpPort();
  udp.RemoteHost = "127.0.0.1";
  udp.RemotePort = 9;
  udp.MaxPacketSize = 65535;
  udp.OnData = [&](qor::TUDP*, const uint8_t*, int32_t, const std::string&, uint16_t) {
    ++received;
  };
  udp.Start();

  int sender = BoundSocket(SOCK_DGRAM);
  const sockaddr_in target = Loopback(static_cast<uint16_t>(udp.LocalPort));
  std::vector<uint8_t> datagram(size, 0x42);
  auto send = [&] {
    return sendto(sender, datagram.data(), size, 0, reinterpret_cast<const sockaddr*>(&target),
                  sizeof target) == static_cast<ssize_t>(size);
  };
  // Knock until the receiver is bound.
  do {
    send();
  } while (!windowThread.ProcessUntil([&] { return received > 0; }, 20));
  received = 0;

  uint64_t sent = 0;
  for (auto _ : state) {
    if (!send()) {
      state.SkipWithError("send failed");
      break;
    }
    ++sent;
    if (sent - received >= window &&
        !windowThread.ProcessUntil([&] { return sent - received < window; }, kPatienceMs)) {
      state.SkipWithError("datagrams were lost");
      break;
    }
  }
  windowThread.ProcessUntil([&] { return received >= sent; }, kPatienceMs);
  state.SetItemsProcessed(static_cast<int64_t>(received));
  state.SetBytesProcessed(static_cast<int64_t>(received * size));
  udp.Stop();
  udp.WaitFor();
  close(sender);
}
BENCHMARK(BM_UdpDatagrams)->Args({1400, 64})->Args({8192, 16})->Args({32000, 4})->UseRealTime();

// A peer that writes a fixed block over and over until the connection goes away.
void StreamForever(int listener, std::atomic<bool>& stop) {
  int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  std::vector<uint8_t> block(1 << 20, 0x17);
  while (!stop && send(connection, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
  }
  close(connection);
}

// Each iteration takes one more mebibyte from the connection.
void BM_TcpStream(benchmark::State& state) {
  constexpr uint64_t kStep = 1 << 20;
  qor::WindowThread windowThread;
  int listener = BoundSocket(SOCK_STREAM);
  listen(listener, 1);
  std::atomic<bool> stop{false};
  std::thread peer(StreamForever, listener, std::ref(stop));

  uint64_t received = 0;
  qor::TTCP tcp;
  tcp.BufferSize = static_cast<int32_t>(state.range(0));
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = PortOf(listener);
  tcp.OnData = [&](qor::TTCP*, const uint8_t*, int32_t length) {
    received += static_cast<uint64_t>(length);
  };
  tcp.Connect();
  windowThread.ProcessUntil([&] { return received > 0; }, kPatienceMs);

  uint64_t target = received;
  const uint64_t start = received;
  for (auto _ : state) {
    target += kStep;
    if (!windowThread.ProcessUntil([&] { return received >= target; }, kPatienceMs)) {
      state.SkipWithError("the stream stalled");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(received - start));
  stop = true;
  tcp.Close();
  tcp.WaitFor();
  peer.join();
  close(listener);
}
BENCHMARK(BM_TcpStream)->Arg(256000)->Arg(16384)->UseRealTime();

}  // namespace
