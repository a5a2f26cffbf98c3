// One writer thread and one reader thread move millions of bytes through a small ring, as the
// network handlers and the protocol loop do; every byte must arrive once and in order.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/circular_buffer.h"

namespace qor {
namespace {

// A pattern whose bytes depend on their position far beyond 256, so a skipped or repeated
// block shows up.
uint8_t PatternByte(uint64_t index) {
  return static_cast<uint8_t>(index ^ (index >> 8) ^ (index >> 16) ^ 0x5A);
}

TEST(RingStress, WriterAndReaderThreadsKeepEveryByteInOrder) {
  constexpr uint64_t kTotal = 6u * 1024u * 1024u;
  constexpr int32_t kRingSize = 4099;
  TCB ring;
  ASSERT_TRUE(ring.Allocate(kRingSize));

  std::atomic<uint64_t> refused{0};
  std::thread writer([&] {
    std::vector<uint8_t> block(2048);
    uint64_t sent = 0;
    uint32_t step = 1;
    while (sent < kTotal) {
      step = step * 1103515245u + 12345u;
      const auto length =
          static_cast<int32_t>(std::min<uint64_t>(1 + (step >> 16) % block.size(), kTotal - sent));
      for (int32_t i = 0; i < length; ++i) block[static_cast<size_t>(i)] = PatternByte(sent + i);
      // A refused block is retried whole, exactly as the session waits for room.
      while (!ring.Write(block.data(), length)) {
        refused.fetch_add(1, std::memory_order_relaxed);
        std::this_thread::yield();
      }
      sent += static_cast<uint64_t>(length);
    }
  });

  uint64_t received = 0;
  uint64_t mismatches = 0;
  std::vector<uint8_t> out(3000);
  uint32_t step = 7;
  while (received < kTotal) {
    const int32_t available = ring.Available();
    if (available == 0) {
      std::this_thread::yield();
      continue;
    }
    step = step * 1664525u + 1013904223u;
    // Reading no more than was seen available always delivers all of it.
    const int32_t wanted =
        std::min<int32_t>(available, 1 + static_cast<int32_t>((step >> 8) % 3000));
    int32_t count = wanted;
    ASSERT_TRUE(ring.Read(out.data(), count));
    ASSERT_EQ(count, wanted);
    for (int32_t i = 0; i < count; ++i) {
      if (out[static_cast<size_t>(i)] != PatternByte(received + i)) ++mismatches;
    }
    received += static_cast<uint64_t>(count);
  }
  writer.join();

  EXPECT_EQ(received, kTotal);
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(ring.Available(), 0);
  // The ring is far smaller than the traffic, so the writer must have met a full ring.
  EXPECT_GT(refused.load(), 0u);
}

}  // namespace
}  // namespace qor

namespace qor {
namespace {

// Each side sleeps on the ring instead of polling it: a waiting reader is woken by the write it
// waits for, a waiting writer by the read that makes room, long before their (huge) bounds.
TEST(RingWaits, WritesAndReadsWakeTheOtherSide) {
  using namespace std::chrono;
  constexpr auto kBound = seconds(60);
  TCB ring;
  ASSERT_TRUE(ring.Allocate(16));
  EXPECT_FALSE(ring.WaitForAvailable(1, milliseconds(1)));
  const auto start = steady_clock::now();
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(20));
    const uint8_t block[15] = {1, 2, 3};
    ring.Write(block, 15);  // full: the next block waits for a read to make room
    ring.WaitForRoom(5, kBound);
    ring.Write(block, 5);
  });
  EXPECT_TRUE(ring.WaitForAvailable(15, kBound));
  uint8_t taken[16];
  int32_t count = 5;
  EXPECT_TRUE(ring.Read(taken, count));
  EXPECT_TRUE(ring.WaitForAvailable(15, kBound));
  writer.join();
  EXPECT_LT(steady_clock::now() - start, kBound / 4);
  EXPECT_FALSE(ring.WaitForRoom(1, milliseconds(1)));  // full again
}

}  // namespace
}  // namespace qor
