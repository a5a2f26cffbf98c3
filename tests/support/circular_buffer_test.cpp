#include "support/circular_buffer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

namespace qor {
namespace {

std::vector<uint8_t> Sequence(int32_t count, uint8_t first) {
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

TEST(RingLifecycle, RefusesEverythingBeforeAllocation) {
  TCB ring;
  uint8_t byte = 7;
  EXPECT_FALSE(ring.Write(&byte, 1));
  EXPECT_FALSE(ring.Clear());
  EXPECT_EQ(ring.Available(), 0);
  EXPECT_EQ(ring.Room(), 0);
  EXPECT_EQ(ring.Size(), 0);
  int32_t count = -1;
  EXPECT_TRUE(ring.Read(&byte, count));
  EXPECT_EQ(count, 0);
  count = 1;
  EXPECT_FALSE(ring.Read(&byte, count));
  EXPECT_EQ(count, 0);
}

TEST(RingLifecycle, AllocatesOnceWithAPositiveSize) {
  TCB ring;
  EXPECT_FALSE(ring.Allocate(0));
  EXPECT_FALSE(ring.Allocate(-5));
  ASSERT_TRUE(ring.Allocate(10));
  EXPECT_EQ(ring.Size(), 10);
  EXPECT_EQ(ring.Room(), 9);
  const auto data = Sequence(4, 1);
  ASSERT_TRUE(ring.Write(data.data(), 4));
  // A second allocation changes nothing, not even the unread bytes.
  EXPECT_FALSE(ring.Allocate(20));
  EXPECT_EQ(ring.Size(), 10);
  EXPECT_EQ(ring.Available(), 4);
}

TEST(RingLifecycle, ClearEmptiesAndZeroFills) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(8));
  const auto data = Sequence(5, 0xA0);
  ASSERT_TRUE(ring.Write(data.data(), 5));
  EXPECT_TRUE(ring.Clear());
  EXPECT_EQ(ring.Available(), 0);
  EXPECT_EQ(ring.Room(), 7);
  // After the clear the indices start over at 0; a full write reads back what was written, and
  // nothing of the earlier bytes leaks into it.
  const auto next = Sequence(7, 0x10);
  ASSERT_TRUE(ring.Write(next.data(), 7));
  std::vector<uint8_t> out(7);
  int32_t count = -1;
  ASSERT_TRUE(ring.Read(out.data(), count));
  EXPECT_EQ(count, 7);
  EXPECT_EQ(out, next);
}

TEST(RingWrite, HoldsSizeMinusOneAndRefusesMoreWithoutLosingAnything) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(10));
  const auto data = Sequence(9, 1);
  EXPECT_TRUE(ring.Write(data.data(), 9));
  EXPECT_EQ(ring.Available(), 9);
  EXPECT_EQ(ring.Room(), 0);
  // The tenth byte does not fit: it is refused and the nine unread bytes stay readable.
  uint8_t extra = 0xEE;
  EXPECT_FALSE(ring.Write(&extra, 1));
  EXPECT_EQ(ring.Available(), 9);
  std::vector<uint8_t> out(9);
  int32_t count = -1;
  ASSERT_TRUE(ring.Read(out.data(), count));
  EXPECT_EQ(out, data);
}

TEST(RingWrite, ABlockThatDoesNotFitWholeStoresNoneOfIt) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(16));
  const auto first = Sequence(10, 1);
  ASSERT_TRUE(ring.Write(first.data(), 10));
  const auto second = Sequence(6, 100);
  EXPECT_FALSE(ring.Write(second.data(), 6));  // room is 5
  EXPECT_EQ(ring.Available(), 10);
  EXPECT_TRUE(ring.Write(second.data(), 5));
  std::vector<uint8_t> out(15);
  int32_t count = 15;
  ASSERT_TRUE(ring.Read(out.data(), count));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
  EXPECT_TRUE(std::equal(second.begin(), second.begin() + 5, out.begin() + 10));
}

TEST(RingWrite, EmptyAndInvalidWrites) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(4));
  EXPECT_TRUE(ring.Write(nullptr, 0));
  EXPECT_FALSE(ring.Write(nullptr, 2));
  uint8_t byte = 1;
  EXPECT_FALSE(ring.Write(&byte, -1));
  EXPECT_EQ(ring.Available(), 0);
}

TEST(RingRead, ShortReadDeliversWhatIsThereAndSaysSo) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(10));
  const auto data = Sequence(3, 41);
  ASSERT_TRUE(ring.Write(data.data(), 3));
  std::vector<uint8_t> out(4, 0);
  int32_t count = 4;
  EXPECT_FALSE(ring.Read(out.data(), count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(out, (std::vector<uint8_t>{41, 42, 43, 0}));
  EXPECT_EQ(ring.Available(), 0);
}

TEST(RingRead, AllUnreadOfAnEmptyRingIsNothingAndTrue) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(10));
  uint8_t byte = 0;
  int32_t count = -1;
  EXPECT_TRUE(ring.Read(&byte, count));
  EXPECT_EQ(count, 0);
  count = 0;
  EXPECT_TRUE(ring.Read(nullptr, count));
  count = -2;
  EXPECT_FALSE(ring.Read(&byte, count));
  EXPECT_EQ(count, 0);
}

TEST(RingRead, ReadingInPiecesKeepsOrder) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(32));
  const auto data = Sequence(20, 0);
  ASSERT_TRUE(ring.Write(data.data(), 20));
  std::vector<uint8_t> out;
  for (int32_t piece : {1, 7, 5, 7}) {
    std::vector<uint8_t> part(static_cast<size_t>(piece));
    int32_t count = piece;
    ASSERT_TRUE(ring.Read(part.data(), count));
    ASSERT_EQ(count, piece);
    out.insert(out.end(), part.begin(), part.end());
  }
  EXPECT_EQ(out, data);
  EXPECT_EQ(ring.Available(), 0);
}

// A write and a read of every length that fits, starting at every offset of a small ring, so
// each span that crosses the end (and each that ends exactly on it) is exercised.
TEST(RingWrap, EverySpanAtEveryOffsetComesBackIntact) {
  constexpr int32_t kSize = 11;
  for (int32_t offset = 0; offset < kSize; ++offset) {
    for (int32_t length = 1; length < kSize; ++length) {
      TCB ring;
      ASSERT_TRUE(ring.Allocate(kSize));
      // Move both indices to `offset`.
      std::vector<uint8_t> filler(static_cast<size_t>(offset), 0xCC);
      ASSERT_TRUE(ring.Write(filler.data(), offset));
      int32_t skipped = offset;
      ASSERT_TRUE(ring.Read(filler.data(), skipped));
      ASSERT_EQ(ring.Available(), 0);

      const auto data = Sequence(length, static_cast<uint8_t>(offset * 16 + 1));
      ASSERT_TRUE(ring.Write(data.data(), length)) << "offset " << offset << " length " << length;
      EXPECT_EQ(ring.Available(), length);
      EXPECT_EQ(ring.Room(), kSize - 1 - length);
      std::vector<uint8_t> out(static_cast<size_t>(length));
      int32_t count = length;
      ASSERT_TRUE(ring.Read(out.data(), count));
      EXPECT_EQ(out, data) << "offset " << offset << " length " << length;
      EXPECT_EQ(ring.Available(), 0);
    }
  }
}

TEST(RingWrap, WriteAcrossTheEndCountsFromTheReader) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(10));
  std::vector<uint8_t> filler(8, 0);
  ASSERT_TRUE(ring.Write(filler.data(), 8));
  int32_t count = 8;
  ASSERT_TRUE(ring.Read(filler.data(), count));
  const auto data = Sequence(5, 1);
  ASSERT_TRUE(ring.Write(data.data(), 5));  // indices 8, 9, 0, 1, 2
  EXPECT_EQ(ring.Available(), 5);
  // Refusal is judged by the room left after the wrap, not by the distance to the end.
  const auto more = Sequence(5, 50);
  EXPECT_FALSE(ring.Write(more.data(), 5));
  EXPECT_TRUE(ring.Write(more.data(), 4));
  EXPECT_EQ(ring.Available(), 9);
  std::vector<uint8_t> out(9);
  count = -1;
  ASSERT_TRUE(ring.Read(out.data(), count));
  EXPECT_EQ(count, 9);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 50, 51, 52, 53}));
}

// Interleaved writes and reads of varying sizes walk the indices round the ring many times.
TEST(RingWrap, LongInterleavedTrafficKeepsEveryByte) {
  TCB ring;
  ASSERT_TRUE(ring.Allocate(13));
  uint8_t next_in = 0;
  uint8_t next_out = 0;
  for (int round = 0; round < 500; ++round) {
    const int32_t write_len = 1 + round % 12;
    if (write_len <= ring.Room()) {
      std::vector<uint8_t> block(static_cast<size_t>(write_len));
      for (auto& b : block) b = next_in++;
      ASSERT_TRUE(ring.Write(block.data(), write_len));
    } else {
      uint8_t probe = 0;
      std::vector<uint8_t> block(static_cast<size_t>(write_len), probe);
      const int32_t before = ring.Available();
      ASSERT_FALSE(ring.Write(block.data(), write_len));
      ASSERT_EQ(ring.Available(), before);
    }
    const int32_t read_len = 1 + (round * 7) % 9;
    std::vector<uint8_t> out(static_cast<size_t>(read_len));
    int32_t count = read_len;
    const int32_t available = ring.Available();
    EXPECT_EQ(ring.Read(out.data(), count), available >= read_len);
    ASSERT_EQ(count, std::min(available, read_len));
    for (int32_t i = 0; i < count; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], next_out++);
  }
}

// The loops' waits end on the bytes or room they wait for, or on a Wake that came after they took
// their mark; a Wake before the mark must not end a later wait (it would spin), and one after it
// must (a stop would otherwise go unseen until the deadline).
TEST(RingWaits, EndOnTheirBytesOrRoomOrOnAWakeAfterTheirMark) {
  using namespace std::chrono_literals;
  using Steady = std::chrono::steady_clock;
  TCB ring;
  ASSERT_TRUE(ring.Allocate(16));
  const auto far = [] { return Steady::now() + 60s; };

  const uint64_t before = ring.Wakes();
  ring.Wake();
  EXPECT_FALSE(ring.WaitForAvailable(1, far(), before)) << "a wake after the mark ends the wait";
  const auto start = Steady::now();
  EXPECT_FALSE(ring.WaitForAvailable(1, start + 100ms, ring.Wakes()));
  EXPECT_GE(Steady::now() - start, 100ms) << "a wake before the mark ended a later wait";

  // Bytes written in pieces: the waiter for four is done only when all four are there.
  std::thread writer([&] {
    const uint8_t bytes[4] = {1, 2, 3, 4};
    for (const uint8_t& b : bytes) ring.Write(&b, 1);
  });
  EXPECT_TRUE(ring.WaitForAvailable(4, far(), ring.Wakes()));
  writer.join();
  EXPECT_EQ(ring.Available(), 4);

  // A full ring read in small pieces: the writer waiting for room for 12 is done only then.
  ASSERT_TRUE(ring.Write(Sequence(11, 0).data(), 11));
  ASSERT_EQ(ring.Room(), 0);
  std::thread reader([&] {
    uint8_t byte = 0;
    for (int i = 0; i < 12; ++i) {
      int32_t one = 1;
      ring.Read(&byte, one);
    }
  });
  EXPECT_TRUE(ring.WaitForRoom(12, far(), ring.Wakes()));
  reader.join();
  EXPECT_GE(ring.Room(), 12);

  // A wake from another thread ends a wait with no deadline at all.
  const uint64_t mark = ring.Wakes();
  std::thread waker([&] { ring.Wake(); });
  EXPECT_FALSE(ring.WaitForAvailable(100, Steady::time_point::max(), mark));
  waker.join();
}

}  // namespace
}  // namespace qor
