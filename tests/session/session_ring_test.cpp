// The data handlers give the protocol loop a bounded time to make room in the ring before they
// give up, and a stopped session gives up silently.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "session/scripted_port.h"

namespace qor {
namespace {

TEST(SessionInput, AFullRingWaitsForTheLoopToMakeRoomAndABlockLargerThanItIsRefused) {
  testing::ScriptedPort port{SessionConfig{}};
  SessionInput& input = port.Input();
  std::vector<uint8_t> block(600000, 1);
  ASSERT_TRUE(input.Write(block.data(), static_cast<int32_t>(block.size())));
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<uint8_t> sink(block.size());
    int32_t count = static_cast<int32_t>(sink.size());
    input.Ring().Read(sink.data(), count);
  });
  // Does not fit until the reader has taken the first block.
  EXPECT_TRUE(input.Write(block.data(), static_cast<int32_t>(block.size())));
  reader.join();
  EXPECT_EQ(input.Ring().Available(), 600000);
  EXPECT_TRUE(port.Posts().empty());

  std::vector<uint8_t> huge(SessionInput::kRingSize, 1);
  EXPECT_FALSE(input.Write(huge.data(), static_cast<int32_t>(huge.size())));
  ASSERT_EQ(port.Posts().size(), 1u);
  EXPECT_EQ(port.Posts()[0].first, "The circular buffer has reached its size limit !");
  EXPECT_EQ(port.Posts()[0].second, mcFatal);
}

TEST(SessionInput, AStoppedSessionDropsWithoutAMessage) {
  testing::ScriptedPort port{SessionConfig{}};
  SessionInput& input = port.Input();
  std::vector<uint8_t> block(600000, 1);
  ASSERT_TRUE(input.Write(block.data(), static_cast<int32_t>(block.size())));
  port.StopAll();
  EXPECT_FALSE(input.Write(block.data(), static_cast<int32_t>(block.size())));
  EXPECT_TRUE(port.Posts().empty());
}

}  // namespace
}  // namespace qor
