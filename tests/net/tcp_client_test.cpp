#include "net/tcp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "event_log.h"
#include "loopback.h"
#include "platform/window_thread.h"

namespace qor {
namespace {

using test::EventLog;
using test::Fd;
using test::TcpListener;

constexpr int64_t kPatience = 30000;  // ms: generous, only reached when something is broken

using Events = std::vector<std::string>;

class TcpClientTest : public ::testing::Test {
 protected:
  // The client hands its events to this thread, so accepting must keep serving it. The client
  // always hands over OnConnected once its connect has returned, which wakes the wait.
  Fd Accept(TcpListener& listener, std::string* peerAddress = nullptr,
            uint16_t* peerPort = nullptr) {
    if (!window_.ProcessUntil([&] { return test::Readable(listener.Get()); }, kPatience)) {
      return Fd();
    }
    return listener.Accept(0, peerAddress, peerPort);
  }
  // Serves the window thread until a thread of ours sits in recvfrom (only the client receives
  // in these tests). Nothing is handed over while it waits, so look again every few ms.
  bool WaitUntilBlockedInReceive() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
    while (test::ThreadsBlockedIn(SYS_recvfrom) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      window_.ProcessUntil([] { return false; }, 5);
    }
    return true;
  }
  // Serves the window thread until the event has been seen.
  bool WaitForEvent(const std::string& event) {
    return window_.ProcessUntil([&] { return log_.Has(event); }, kPatience);
  }

  WindowThread window_;
  EventLog log_{window_};
};

TEST_F(TcpClientTest, TargetRefusedByConnectBeforeAnyThreadStarts) {
  struct Case {
    std::string host, address;
    int32_t port;
    std::string text;
  };
  const Case cases[] = {
      {"", "127.0.0.1", 65536, "TTCP: Remote port value out of range"},
      {"", "127.0.0.1", 0, "TTCP: Remote port value out of range"},
      {"localhost", "", -1, "TTCP: Remote port value out of range"},
      {"", "", 80, "TTCP: No remote host or address specified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " port " + std::to_string(c.port));
    EventLog log(window_);
    TTCP tcp;
    test::Record(tcp, log);
    tcp.RemoteHost = c.host;
    tcp.RemoteAddress = c.address;
    tcp.RemotePort = c.port;
    tcp.Connect();
    EXPECT_EQ(log.events, (Events{"Connecting", "Message 8 " + c.text}));
    EXPECT_EQ(tcp.MessageText, c.text);
    EXPECT_EQ(tcp.MessageCode, 8);
    EXPECT_FALSE(tcp.Started());
    EXPECT_FALSE(tcp.IsActive());
  }
}

TEST_F(TcpClientTest, UnresolvableNameReportsLookupFailureWithoutDisconnect) {
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteHost = "no-such-host.qor-tests.invalid";
  tcp.RemotePort = 80;
  tcp.Connect();
  tcp.WaitFor();
  ASSERT_EQ(log_.events.size(), 3u);
  EXPECT_EQ(log_.events[0], "Connecting");
  EXPECT_EQ(log_.events[1], "Resolving");
  const std::string prefix = "Message 8 TTCP: DNS resolve failed: ";
  ASSERT_EQ(log_.events[2].rfind(prefix, 0), 0u) << log_.events[2];
  const int number = std::stoi(log_.events[2].substr(prefix.size()));
  EXPECT_GE(number, 11001);
  EXPECT_LE(number, 11004);
  EXPECT_FALSE(tcp.IsActive());
  EXPECT_TRUE(tcp.RemoteAddress.empty());
  EXPECT_FALSE(log_.offWindowThread);
}

TEST_F(TcpClientTest, RefusedConnectionReportsWinsockNumber) {
  test::RefusingPort refusing;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = refusing.Port();
  tcp.Connect();
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving",
                                 "Message 8 TTCP: socket connect failed: 10061 (connection "
                                 "refused: nothing listens on that port)"}));
  EXPECT_FALSE(log_.offWindowThread);
}

TEST_F(TcpClientTest, AddressThatIsNoDottedNumberFailsToConnect) {
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "localhost";  // a name given where only an address is looked at
  tcp.RemotePort = 80;
  tcp.Connect();
  tcp.WaitFor();
  EXPECT_EQ(
      log_.events,
      (Events{
          "Connecting", "Resolving",
          "Message 8 TTCP: socket connect failed: 10049 (address not available on this machine)"}));
}

TEST_F(TcpClientTest, PeerThatAcceptsAndClosesGivesConnectedThenDisconnected) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteHost = "localhost";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  uint16_t clientPort = 0;
  std::string clientAddress;
  Fd connection = Accept(listener, &clientAddress, &clientPort);
  ASSERT_TRUE(connection.Valid());
  connection.Reset();
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving", "Connected", "Disconnected"}));
  EXPECT_EQ(tcp.RemoteAddress, "127.0.0.1");
  EXPECT_EQ(tcp.LocalAddress, clientAddress);
  EXPECT_EQ(tcp.LocalPort, clientPort);
  EXPECT_FALSE(tcp.IsActive());
  EXPECT_FALSE(log_.offWindowThread);
}

TEST_F(TcpClientTest, SendsBothWaysAndHandsOverEveryByteInOrder) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  std::vector<uint8_t> received;
  tcp.OnData = [&](TTCP*, const uint8_t* block, int32_t length) {
    if (!window_.IsWindowThread()) log_.offWindowThread = true;
    received.insert(received.end(), block, block + length);
  };
  tcp.BufferSize = 7;  // forces the reply through many small hand-overs
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  EXPECT_EQ(tcp.Send("early", 5), -1);  // nothing to send on yet
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  ASSERT_TRUE(WaitForEvent("Connected"));

  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  EXPECT_EQ(tcp.Send(request.data(), static_cast<int32_t>(request.size())),
            static_cast<int32_t>(request.size()));
  std::string seen(request.size(), '\0');
  ASSERT_TRUE(test::ReceiveExactly(connection.Get(), seen.data(), seen.size()));
  EXPECT_EQ(seen, request);

  std::vector<uint8_t> reply(1000);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_TRUE(test::SendAll(connection.Get(), reply.data(), reply.size()));
  ASSERT_TRUE(window_.ProcessUntil([&] { return received.size() >= reply.size(); }, kPatience));
  EXPECT_EQ(received, reply);

  tcp.Close();
  tcp.WaitFor();
  EXPECT_EQ(tcp.Send("late", 4), -1);
  EXPECT_FALSE(log_.offWindowThread);
}

TEST_F(TcpClientTest, BlocksSentFromTwoThreadsArriveWhole) {
  constexpr size_t kBlock = 64 * 1024;
  constexpr int kPerThread = 100;
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  ASSERT_TRUE(WaitForEvent("Connected"));

  // The peer reads concurrently so the senders never wait on a full socket for long.
  int wholeBlocks = 0;
  int mixedBlocks = 0;
  std::thread reader([&] {
    std::vector<uint8_t> block(kBlock);
    for (int i = 0; i < 2 * kPerThread; ++i) {
      if (!test::ReceiveExactly(connection.Get(), block.data(), block.size())) return;
      const bool whole =
          std::all_of(block.begin(), block.end(), [&](uint8_t b) { return b == block[0]; });
      ++(whole ? wholeBlocks : mixedBlocks);
    }
  });
  auto sendMany = [&](uint8_t fill) {
    std::vector<uint8_t> block(kBlock, fill);
    for (int i = 0; i < kPerThread; ++i) {
      EXPECT_EQ(tcp.Send(block.data(), static_cast<int32_t>(block.size())),
                static_cast<int32_t>(block.size()));
    }
  };
  std::thread first(sendMany, uint8_t{'a'});
  std::thread second(sendMany, uint8_t{'b'});
  first.join();
  second.join();
  reader.join();
  EXPECT_EQ(wholeBlocks, 2 * kPerThread);
  EXPECT_EQ(mixedBlocks, 0);
  tcp.Close();
  tcp.WaitFor();
}

TEST_F(TcpClientTest, CloseDuringBlockedReceiveEndsWithoutMessage) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);  // held open, silent
  ASSERT_TRUE(connection.Valid());
  ASSERT_TRUE(WaitForEvent("Connected"));
  ASSERT_TRUE(WaitUntilBlockedInReceive());
  EXPECT_TRUE(tcp.IsActive());
  tcp.Close();
  EXPECT_FALSE(tcp.IsActive());
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving", "Connected", "Disconnected"}));
  // The peer sees the connection end.
  char byte;
  EXPECT_FALSE(test::ReceiveExactly(connection.Get(), &byte, 1));
}

TEST_F(TcpClientTest, CloseFromInsideAnEventHandlerEndsTheConnection) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.OnConnected = [&](TTCP* sender) {
    log_.Add("Connected");
    sender->Close();
  };
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving", "Connected", "Disconnected"}));
}

TEST_F(TcpClientTest, CloseWhileConnectIsPendingEndsSilently) {
  // A listener that never accepts, with its queue full: further connection attempts stay
  // unanswered, so the client sits in connect.
  TcpListener listener(0);
  std::vector<Fd> fillers;
  for (int i = 0; i < 4; ++i) {
    Fd filler(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(listener.Port());
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(filler.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target);
    fillers.push_back(std::move(filler));
  }
  const int pendingBefore = test::PendingConnectsTo(listener.Port());
  ASSERT_GE(pendingBefore, 1) << "the listener's queue did not fill up";
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  // The client's own attempt shows up as one more pending connection. Nothing is handed over
  // while it hangs, so look again every few milliseconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  while (test::PendingConnectsTo(listener.Port()) <= pendingBefore &&
         std::chrono::steady_clock::now() < deadline) {
    window_.ProcessUntil([] { return false; }, 5);
  }
  ASSERT_GT(test::PendingConnectsTo(listener.Port()), pendingBefore);
  tcp.Close();
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving"}));
  EXPECT_EQ(test::PendingConnectsTo(listener.Port()), pendingBefore);  // its socket is gone
}

TEST_F(TcpClientTest, HandlerThatThrowsDoesNotLeaveTheConnectionOpen) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.OnConnected = [](TTCP*) { throw std::runtime_error("handler failed"); };
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  tcp.WaitFor();  // the exception ended the thread
  char byte;
  EXPECT_FALSE(test::ReceiveExactly(connection.Get(), &byte, 1));  // and the peer sees the end
  EXPECT_EQ(tcp.Send("x", 1), -1);
}

TEST_F(TcpClientTest, PeerResetEndsSilentlyWithDisconnect) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  ASSERT_TRUE(WaitForEvent("Connected"));
  test::ResetConnection(connection);
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving", "Connected", "Disconnected"}));
  EXPECT_EQ(tcp.Send("x", 1), -1);  // no signal, no crash: just a failed send
}

// A peer that streams a pattern as fast as it can; stops when the connection goes away.
class StreamingPeer {
 public:
  StreamingPeer(Fd connection, uint64_t total)
      : connection_(std::move(connection)), thread_([this, total] { Run(total); }) {}
  ~StreamingPeer() { thread_.join(); }
  uint64_t Sent() const { return sent_.load(); }

  static uint8_t PatternAt(uint64_t offset) { return static_cast<uint8_t>(offset % 251); }

 private:
  void Run(uint64_t total) {
    // The pattern repeats every 251 bytes, so any stretch of it is a slice of one prepared
    // buffer: no per-byte work on the way out.
    constexpr size_t kPeriod = 251;
    std::vector<uint8_t> pattern(kPeriod * 4200);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = PatternAt(i);
    const size_t chunk = pattern.size() - kPeriod;
    while (sent_ < total) {
      const uint64_t start = sent_;
      const size_t size = static_cast<size_t>(std::min<uint64_t>(chunk, total - start));
      if (!test::SendAll(connection_.Get(), pattern.data() + start % kPeriod, size)) return;
      sent_ += size;
    }
    connection_.Reset();
  }

  Fd connection_;
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

TEST_F(TcpClientTest, HundredsOfMegabytesArriveWholeAndInOrder) {
  constexpr uint64_t kTotal = 300ull << 20;
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  uint64_t offset = 0;
  bool intact = true;
  tcp.OnData = [&](TTCP*, const uint8_t* block, int32_t length) {
    if (!window_.IsWindowThread()) log_.offWindowThread = true;
    // Spot-check each block at its ends and a stride inside (a full check would dominate the
    // run time under the sanitizers).
    for (int32_t i = 0; i < length; i += (i + 4096 < length ? 4096 : 1)) {
      if (block[i] != StreamingPeer::PatternAt(offset + static_cast<uint64_t>(i))) intact = false;
    }
    offset += static_cast<uint64_t>(length);
  };
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  StreamingPeer peer(std::move(connection), kTotal);
  tcp.WaitFor();
  EXPECT_EQ(offset, kTotal);
  EXPECT_TRUE(intact);
  EXPECT_EQ(peer.Sent(), kTotal);
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving", "Connected", "Disconnected"}));
  EXPECT_FALSE(log_.offWindowThread);
}

TEST_F(TcpClientTest, DestroyingWhileThePeerStreamsReturns) {
  TcpListener listener;
  auto tcp = std::make_unique<TTCP>();
  test::Record(*tcp, log_);
  tcp->RemoteAddress = "127.0.0.1";
  tcp->RemotePort = listener.Port();
  tcp->Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  StreamingPeer peer(std::move(connection), ~0ull);  // endless
  ASSERT_TRUE(window_.ProcessUntil([&] { return log_.dataBytes > (1u << 20); }, kPatience));
  tcp.reset();  // must not hang although hand-overs are queued and the peer keeps sending
  EXPECT_EQ(log_.events.back(), "Disconnected");
  for (const std::string& event : log_.events) EXPECT_EQ(event.find("Message"), std::string::npos);
}

TEST_F(TcpClientTest, CloseFromAnotherThreadWhileThePeerStreams) {
  TcpListener listener;
  TTCP tcp;
  test::Record(tcp, log_);
  tcp.RemoteAddress = "127.0.0.1";
  tcp.RemotePort = listener.Port();
  tcp.Connect();
  Fd connection = Accept(listener);
  ASSERT_TRUE(connection.Valid());
  StreamingPeer peer(std::move(connection), ~0ull);
  ASSERT_TRUE(window_.ProcessUntil([&] { return log_.dataBytes > (1u << 20); }, kPatience));
  std::thread closer([&] { tcp.Close(); });  // as the session thread would
  closer.join();
  tcp.WaitFor();
  EXPECT_EQ(log_.events, (Events{"Connecting", "Resolving", "Connected", "Data", "Disconnected"}));
}

}  // namespace
}  // namespace qor
