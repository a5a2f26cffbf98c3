// The data handlers give the protocol loop a bounded time to make room in the ring before they
// give up, and a stopped session gives up silently.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "session/session.h"

namespace qor {
namespace {

TEST(SessionRing, AFullRingWaitsForTheLoopToMakeRoom) {
  TMessageClass queue;
  TMMS session;
  session.Messages = &queue;
  std::vector<uint8_t> block(600000, 1);
  ASSERT_TRUE(session.WriteRing(block.data(), static_cast<int32_t>(block.size())));
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<uint8_t> sink(block.size());
    int32_t count = static_cast<int32_t>(sink.size());
    session.Ring().Read(sink.data(), count);
  });
  // Does not fit until the reader has taken the first block.
  EXPECT_TRUE(session.WriteRing(block.data(), static_cast<int32_t>(block.size())));
  reader.join();
  EXPECT_EQ(session.Ring().Available(), 600000);
  EXPECT_EQ(queue.Pending(), 0u);
}

TEST(SessionRing, ABlockLargerThanTheRingIsRefusedAtOnce) {
  TMessageClass queue;
  TMMS session;
  session.Messages = &queue;
  std::vector<uint8_t> block(TMMS::kRingSize, 1);
  EXPECT_FALSE(session.WriteRing(block.data(), static_cast<int32_t>(block.size())));
  MessagePair pair;
  ASSERT_TRUE(queue.Take(pair));
  EXPECT_EQ(pair.text, "The circular buffer has reached its size limit !");
  EXPECT_EQ(pair.code, mcFatal);
  EXPECT_EQ(session.Ring().Available(), 0);
}

TEST(SessionRing, AStoppedSessionDropsWithoutAMessage) {
  TMessageClass queue;
  TMMS session;
  session.Messages = &queue;
  std::vector<uint8_t> block(600000, 1);
  ASSERT_TRUE(session.WriteRing(block.data(), static_cast<int32_t>(block.size())));
  session.Stop();
  EXPECT_FALSE(session.WriteRing(block.data(), static_cast<int32_t>(block.size())));
  EXPECT_EQ(queue.Pending(), 0u);
}

}  // namespace
}  // namespace qor
