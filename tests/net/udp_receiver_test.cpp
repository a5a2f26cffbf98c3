#include "net/udp_receiver.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "event_log.h"
#include "loopback.h"
#include "platform/window_thread.h"

namespace qor {
namespace {

using test::EventLog;
using test::UdpPeer;

constexpr int64_t kPatience = 30000;  // ms: generous, only reached when something is broken

using Events = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

struct Datagram {
  Bytes data;
  std::string senderAddress;
  uint16_t senderPort;
};

int SystemReceiveBufferCeiling() {
  std::ifstream file("/proc/sys/net/core/rmem_max");
  int bytes = 0;
  file >> bytes;
  return bytes;
}

class UdpReceiverTest : public ::testing::Test {
 protected:
  // A receiver on a free port of every local address that records what it gets.
  void Configure(TUDP& udp, uint16_t remotePort = 9) {
    udp.LocalHost = "";
    udp.LocalPort = test::FreeUdpPort();
    udp.RemoteHost = "127.0.0.1";
    udp.RemotePort = remotePort;
    Record(udp);
  }
  void Record(TUDP& udp) {
    udp.OnData = [this](TUDP*, const uint8_t* data, int32_t length, const std::string& address,
                        uint16_t port) {
      if (!window_.IsWindowThread()) log_.offWindowThread = true;
      received_.push_back({Bytes(data, data + length), address, port});
    };
    udp.OnMessage = [this](TUDP*, const std::string& text, uint32_t code) {
      log_.Add("Message " + std::to_string(code) + " " + text);
    };
  }
  bool WaitForDatagrams(size_t count) {
    return window_.ProcessUntil([&] { return received_.size() >= count; }, kPatience);
  }
  // Datagrams sent before the receiver has bound its port are lost, so knock until one gets
  // through, then flush the knocks with a last datagram and start the test with nothing received.
  void ProveReceiving(TUDP& udp, UdpPeer& peer) {
    const auto port = static_cast<uint16_t>(udp.LocalPort);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
    do {
      ASSERT_TRUE(peer.SendTo(port, "knock", 5));
    } while (!window_.ProcessUntil([&] { return !received_.empty(); }, 100) &&
             std::chrono::steady_clock::now() < deadline);
    ASSERT_FALSE(received_.empty());
    ASSERT_TRUE(peer.SendTo(port, "flush", 5));
    ASSERT_TRUE(window_.ProcessUntil(
        [&] {
          return received_.back().data == Bytes{'f', 'l', 'u', 's', 'h'};
        },
        kPatience));
    received_.clear();
  }

  WindowThread window_;
  EventLog log_{window_};
  std::vector<Datagram> received_;
};

TEST_F(UdpReceiverTest, ConfigurationIsCheckedInOrderBeforeAnySocket) {
  struct Case {
    std::optional<std::string> localHost;
    uint32_t localPort;
    std::optional<std::string> remoteHost;
    uint32_t remotePort;
    uint32_t maxPacketSize;
    std::string text;
  };
  const Case cases[] = {
      {std::nullopt, 0, std::nullopt, 0, 0, "TUDP: No local host specified"},
      {"", 0, "127.0.0.1", 1755, 32000, "TUDP: Local port value out of range"},
      {"", 65536, "127.0.0.1", 1755, 32000, "TUDP: Local port value out of range"},
      {"", 7000, std::nullopt, 0, 0, "TUDP: No remote host Specified"},
      {"", 7000, "127.0.0.1", 0, 32000, "TUDP: Remote port value out of range"},
      {"", 7000, "127.0.0.1", 65536, 32000, "TUDP: Remote port value out of range"},
      {"", 7000, "127.0.0.1", 1755, 0, "TUDP: Max UDP packet size out of range"},
      {"", 7000, "127.0.0.1", 1755, 65536, "TUDP: Max UDP packet size out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    log_.events.clear();
    TUDP udp;
    Record(udp);
    udp.LocalHost = c.localHost;
    udp.LocalPort = c.localPort;
    udp.RemoteHost = c.remoteHost;
    udp.RemotePort = c.remotePort;
    udp.MaxPacketSize = c.maxPacketSize;
    udp.Start();
    udp.WaitFor();
    EXPECT_EQ(log_.events, (Events{"Message 8 " + c.text}));
    EXPECT_EQ(udp.ErrorText, c.text);
    EXPECT_EQ(udp.ErrorCode, 8u);
    EXPECT_FALSE(udp.Send("x", 1) >= 0);  // no socket was made
  }
  EXPECT_FALSE(log_.offWindowThread);
}

TEST_F(UdpReceiverTest, BindFailuresCarryTheWinsockNumber) {
  UdpPeer occupant;  // holds a port on 127.0.0.1
  {
    TUDP udp;
    Configure(udp);
    udp.LocalHost = "127.0.0.1";
    udp.LocalPort = occupant.Port();
    udp.Start();
    udp.WaitFor();
    EXPECT_EQ(log_.events,
              (Events{"Message 8 TUDP: socket bind failed: 10048 (address already in use)"}));
  }
  log_.events.clear();
  {
    // Allowed to fall back, the receiver takes a free port and says which.
    TUDP udp;
    Configure(udp);
    udp.LocalHost = "127.0.0.1";
    udp.LocalPort = occupant.Port();
    udp.FallBackToFreePort = true;
    udp.Start();
    ASSERT_TRUE(udp.WaitUntilBound(std::chrono::milliseconds(kPatience)));
    EXPECT_NE(udp.BoundPort(), 0u);
    EXPECT_NE(udp.BoundPort(), occupant.Port());
    EXPECT_TRUE(log_.events.empty());
    udp.Stop();
  }
  {
    TUDP udp;
    Configure(udp);
    udp.LocalHost = "not-an-address";
    udp.Start();
    udp.WaitFor();
    EXPECT_EQ(
        log_.events,
        (Events{
            "Message 8 TUDP: socket bind failed: 10049 (address not available on this machine)"}));
  }
}

// Whoever announces the port waits for the binding first: after it, nothing sent is missed; a
// port that cannot be bound ends the wait at once.
TEST_F(UdpReceiverTest, WaitUntilBoundSaysWhenThePortIsReady) {
  TUDP udp;
  Configure(udp);
  udp.Start();
  ASSERT_TRUE(udp.WaitUntilBound(std::chrono::milliseconds(kPatience)));
  UdpPeer peer;
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), "first", 5));
  ASSERT_TRUE(WaitForDatagrams(1));
  EXPECT_EQ(received_[0].data, (Bytes{'f', 'i', 'r', 's', 't'}));

  TUDP taken;
  Record(taken);
  taken.LocalHost = "";
  taken.LocalPort = udp.LocalPort;
  taken.RemoteHost = "127.0.0.1";
  taken.RemotePort = 9;
  taken.Start();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(taken.WaitUntilBound(std::chrono::milliseconds(kPatience)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kPatience / 2));
  taken.WaitFor();
  ASSERT_EQ(log_.events.size(), 1u);
  EXPECT_EQ(log_.events[0].rfind("Message 8 TUDP: socket bind failed", 0), 0u) << log_.events[0];
}

TEST_F(UdpReceiverTest, DeliversDatagramsWholeWithTheirSender) {
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  udp.Start();
  ProveReceiving(udp, peer);

  Bytes largest(TUDP::kDefaultMaxPacketSize);
  for (size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<uint8_t>(i * 13 + 1);
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), "a", 1));
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), largest.data(), largest.size()));
  ASSERT_TRUE(WaitForDatagrams(2));
  EXPECT_EQ(received_[0].data, Bytes{'a'});
  EXPECT_EQ(received_[1].data, largest);
  EXPECT_EQ(received_[1].senderAddress, "127.0.0.1");
  EXPECT_EQ(received_[1].senderPort, peer.Port());
  EXPECT_TRUE(log_.events.empty());
  EXPECT_FALSE(udp.Finished());
  EXPECT_FALSE(log_.offWindowThread);
}

// A fast sender's burst waits in the socket while the window thread is busy elsewhere, and is
// handed over whole and in order once it returns.
TEST_F(UdpReceiverTest, BurstWhileTheWindowIsBusyArrivesWholeAndInOrder) {
  constexpr uint32_t kCount = 3000;
  constexpr size_t kSize = 1400;
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  udp.Start();
  ProveReceiving(udp, peer);
  // The receiver asks for a large buffer; only an unprivileged process on a system with a low
  // ceiling gets less, and then the burst cannot be held.
  if (geteuid() != 0 && SystemReceiveBufferCeiling() < (8 << 20)) {
    GTEST_SKIP() << "the system caps receive buffers at " << SystemReceiveBufferCeiling();
  }
  ASSERT_GE(udp.ReceiveBufferBytes(), 8 << 20);
  Bytes datagram(kSize);
  for (uint32_t i = 0; i < kCount; ++i) {
    std::memcpy(datagram.data(), &i, sizeof i);
    ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), datagram.data(), kSize));
  }
  ASSERT_TRUE(WaitForDatagrams(kCount));
  ASSERT_EQ(received_.size(), kCount);
  for (uint32_t i = 0; i < kCount; ++i) {
    uint32_t number = 0;
    ASSERT_EQ(received_[i].data.size(), kSize);
    std::memcpy(&number, received_[i].data.data(), sizeof number);
    ASSERT_EQ(number, i);
  }
  EXPECT_TRUE(log_.events.empty());
}

// A fast sender's datagrams are handed over in batches: OnDataDone closes each handover after its
// OnData calls, none is empty, and there are far fewer of them than datagrams.
TEST_F(UdpReceiverTest, AFastStreamIsHandedOverInBatchesEachClosedByOnDataDone) {
  constexpr uint32_t kCount = 2000;
  constexpr size_t kSize = 1000;
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  std::vector<size_t> batchEnds;  // received_.size() at each OnDataDone
  udp.OnDataDone = [&](TUDP*) {
    if (!window_.IsWindowThread()) log_.offWindowThread = true;
    batchEnds.push_back(received_.size());
  };
  udp.Start();
  ProveReceiving(udp, peer);
  batchEnds.clear();
  if (udp.ReceiveBufferBytes() < static_cast<int>(kCount * 2 * kSize))
    GTEST_SKIP() << "the receive buffer cannot hold the burst";
  Bytes datagram(kSize);
  for (uint32_t i = 0; i < kCount; ++i) {
    std::memcpy(datagram.data(), &i, sizeof i);
    ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), datagram.data(), kSize));
  }
  ASSERT_TRUE(WaitForDatagrams(kCount));
  ASSERT_TRUE(window_.ProcessUntil([&] { return !batchEnds.empty() && batchEnds.back() == kCount; },
                                   kPatience));
  for (size_t i = 0; i < batchEnds.size(); ++i) {
    EXPECT_GT(batchEnds[i], i == 0 ? 0 : batchEnds[i - 1]) << "an empty handover at " << i;
  }
  EXPECT_LT(batchEnds.size(), kCount / 4) << "datagrams were handed over one by one";
  for (uint32_t i = 0; i < kCount; ++i) {
    uint32_t number = 0;
    std::memcpy(&number, received_[i].data.data(), sizeof number);
    ASSERT_EQ(number, i);
  }
  EXPECT_TRUE(log_.events.empty());
}

TEST_F(UdpReceiverTest, DatagramOneByteOverTheLimitEndsTheReceiver) {
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  udp.MaxPacketSize = 1000;
  udp.Start();
  ProveReceiving(udp, peer);
  Bytes exact(1000, 0x5A);
  Bytes over(1001, 0xA5);
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), exact.data(), exact.size()));
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), over.data(), over.size()));
  udp.WaitFor();
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].data, exact);
  EXPECT_EQ(log_.events, (Events{"Message 8 TUDP: UDP packet size exceeds max setting10040"}));
  EXPECT_EQ(udp.ErrorText, "TUDP: UDP packet size exceeds max setting10040");
  EXPECT_TRUE(udp.Terminated());
}

TEST_F(UdpReceiverTest, EmptyDatagramIsIgnoredWhileRunning) {
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  udp.Start();
  ProveReceiving(udp, peer);
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), "", 0));
  ASSERT_TRUE(peer.SendTo(static_cast<uint16_t>(udp.LocalPort), "after", 5));
  ASSERT_TRUE(WaitForDatagrams(1));
  EXPECT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].data, (Bytes{'a', 'f', 't', 'e', 'r'}));
  EXPECT_FALSE(udp.Terminated());
  EXPECT_TRUE(log_.events.empty());
}

TEST_F(UdpReceiverTest, StopDuringBlockedReceiveEndsWithoutMessage) {
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  udp.Start();
  ProveReceiving(udp, peer);
  // Nothing is handed over while the receiver waits, so look again every few ms.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  while (test::ThreadsBlockedIn(SYS_recvmmsg) == 0 && std::chrono::steady_clock::now() < deadline) {
    window_.ProcessUntil([] { return false; }, 5);
  }
  ASSERT_EQ(test::ThreadsBlockedIn(SYS_recvmmsg), 1);
  udp.Stop();
  udp.WaitFor();
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(udp.Send("x", 1), -1);
  // The port is free again: the socket was closed.
  TUDP again;
  Record(again);
  again.LocalHost = "";
  again.LocalPort = udp.LocalPort;
  again.RemoteHost = "127.0.0.1";
  again.RemotePort = 9;
  again.Start();
  ProveReceiving(again, peer);
  again.Stop();
  again.WaitFor();
  EXPECT_TRUE(log_.events.empty());
}

TEST_F(UdpReceiverTest, StopRightAfterStartAndFromAnotherThreadIsSilent) {
  for (int round = 0; round < 20; ++round) {
    TUDP udp;
    Configure(udp);
    udp.Start();
    std::thread stopper([&] { udp.Stop(); });
    stopper.join();
    udp.WaitFor();
  }
  EXPECT_TRUE(log_.events.empty());
}

TEST_F(UdpReceiverTest, SendReachesTheRemoteFromTwoThreadsAtOnce) {
  constexpr int kPerThread = 200;
  UdpPeer remote;
  std::set<std::string> seen;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    Bytes datagram;
    while (seen.size() < 2 * kPerThread && remote.Receive(datagram, 5000)) {
      seen.insert(std::string(datagram.begin(), datagram.end()));
    }
    done = true;
    window_.Notify();
  });
  TUDP udp;
  Configure(udp, remote.Port());
  udp.Start();
  UdpPeer peer;
  ProveReceiving(udp, peer);  // the socket exists: sends may begin

  std::atomic<int> failures{0};
  auto sendMany = [&](char tag) {
    for (int i = 0; i < kPerThread; ++i) {
      const std::string payload = tag + std::to_string(i);
      if (udp.Send(payload.data(), static_cast<int32_t>(payload.size())) !=
          static_cast<int32_t>(payload.size())) {
        ++failures;
      }
    }
  };
  std::thread first(sendMany, 'a');
  std::thread second(sendMany, 'b');
  first.join();
  second.join();
  window_.ProcessUntil([&] { return done.load(); }, kPatience);
  reader.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(seen.size(), 2u * kPerThread);
  EXPECT_EQ(seen.count("a0"), 1u);
  EXPECT_EQ(seen.count("b199"), 1u);
}

TEST_F(UdpReceiverTest, SendToAnAddressThatIsNoDottedNumberFails) {
  UdpPeer peer;
  TUDP udp;
  Configure(udp);
  udp.RemoteHost = "";  // the session passes an empty text when it has no resolved address
  udp.Start();
  ProveReceiving(udp, peer);
  EXPECT_EQ(udp.Send("x", 1), -1);
  EXPECT_TRUE(log_.events.empty());
}

}  // namespace
}  // namespace qor
