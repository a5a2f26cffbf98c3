// Loss detection and the resend schedule of UDP media, including past the first 256 datagrams.

#include "session/udp_resend_tracker.h"

#include <gtest/gtest.h>

#include <thread>

namespace qor::mms {
namespace {

using Seqs = std::vector<uint32_t>;

TEST(UdpResendTracker, InOrderPacketsAskForNothing) {
  UdpResendTracker t;
  for (uint8_t s : {0, 1, 2, 3}) EXPECT_TRUE(t.LossCheck(s).empty());
  EXPECT_EQ(t.RecoveredPackets(), 0u);
  EXPECT_EQ(t.Expected(), 4u);
}

TEST(UdpResendTracker, AGapIsRequestedAtOnceAndALateArrivalCountsAsRecovered) {
  UdpResendTracker t;
  t.LossCheck(0);
  t.LossCheck(1);
  EXPECT_EQ(t.LossCheck(4), (Seqs{2, 3}));
  EXPECT_EQ(t.Pending(2), 5);
  EXPECT_EQ(t.Pending(3), 5);
  EXPECT_TRUE(t.LossCheck(2).empty());
  EXPECT_EQ(t.RecoveredPackets(), 1u);
  EXPECT_EQ(t.Pending(2), 0);
  EXPECT_EQ(t.Pending(3), 5);
  EXPECT_EQ(t.Expected(), 5u);
}

TEST(UdpResendTracker, WrapsAreCountedSoRequestsNameTheWholeSequence) {
  UdpResendTracker t;
  for (int i = 0; i < 250; ++i) t.LossCheck(static_cast<uint8_t>(i));
  // Expected 250, arriving 3: nine missing across the wrap, numbered past 255.
  EXPECT_EQ(t.LossCheck(3), (Seqs{250, 251, 252, 253, 254, 255, 256, 257, 258}));
  EXPECT_EQ(t.Expected(), 260u);
  // Expected 4 (low byte), arriving 250: late, not a gap.
  EXPECT_TRUE(t.LossCheck(250).empty());
  EXPECT_EQ(t.RecoveredPackets(), 1u);
}

// The table has a slot for each low byte: a gap 256 datagrams after one still asked for takes
// its slot, and the one it replaces counts as lost instead of being forgotten.
TEST(UdpResendTracker, AGapInTheSlotOfOneStillAskedForCountsThatOneLost) {
  UdpResendTracker t;
  EXPECT_EQ(t.LossCheck(1), (Seqs{0}));
  for (int i = 2; i < 256; ++i) t.LossCheck(static_cast<uint8_t>(i));
  EXPECT_EQ(t.LossCheck(1), (Seqs{256}));
  EXPECT_EQ(t.LostPackets(), 1u);
  const auto step = t.Scan();
  EXPECT_EQ(step.sequence, 256u);
}

TEST(UdpResendTracker, ScanRepeatsAMissingPacketFiveTimesThenGivesUpOnce) {
  UdpResendTracker t;
  EXPECT_EQ(t.LossCheck(1), (Seqs{0}));
  int requests = 1, gaveUp = 0;
  for (int tick = 0; tick < 256 * 8; ++tick) {
    const auto step = t.Scan();
    if (step.request) {
      EXPECT_EQ(step.index, 0);
      EXPECT_EQ(step.sequence, 0u);
      ++requests;
    }
    if (step.gaveUp) ++gaveUp;
  }
  EXPECT_EQ(requests, 6);
  EXPECT_EQ(gaveUp, 1);
  EXPECT_EQ(t.LostPackets(), 1u);
}

TEST(UdpResendTracker, ScanAndCheckFromTwoThreads) {
  UdpResendTracker t;
  std::atomic<bool> done{false};
  std::thread scanner([&] {
    while (!done.load()) t.Scan();
  });
  for (uint32_t i = 0; i < 20000; ++i) {
    if (i % 7 == 3) continue;  // never sent: the scanner gives these up
    t.LossCheck(static_cast<uint8_t>(i));
  }
  done = true;
  scanner.join();
  EXPECT_EQ(t.Expected(), 20000u);
}

}  // namespace
}  // namespace qor::mms
