// The live channel's clock: a client joining later must find the broadcast where the clock's
// pace (the server's --rate) has carried it, or a recorder that reconnects at a track change
// falls further behind the broadcast at every change.

#include "live_channel.h"

#include <gtest/gtest.h>

#include "server_test_support.h"

namespace qor::server {
namespace {

using testing::SampleDir;

TEST(LiveChannel, TheBroadcastMovesOnAtThePaceOfTheRate) {
  QOR_NEED_SAMPLES();
  std::string error;
  auto clip = MediaSource::Load(SampleDir() + "/clip.wmv", error);
  auto audio = MediaSource::Load(SampleDir() + "/audio.wma", error);
  ASSERT_TRUE(clip && audio) << error;
  ASSERT_GT(clip->SpanMs(), 2000u);
  const auto start = std::chrono::steady_clock::now();
  const auto later = start + std::chrono::milliseconds(clip->SpanMs() / 8);

  const LiveChannel real("radio", {clip, audio}, start);
  EXPECT_EQ(real.TimelineMs(later), clip->SpanMs() / 8);
  EXPECT_EQ(real.At(later).entry, 0u);

  // Ten times the pace: an eighth of the clip's time later, the broadcast is in the next entry.
  const LiveChannel fast("radio", {clip, audio}, start, 10.0);
  EXPECT_EQ(fast.TimelineMs(later), clip->SpanMs() / 8 * 10);
  EXPECT_EQ(fast.At(later).entry, 1u);

  // Unpaced sending keeps the clock at real time.
  const LiveChannel unpaced("radio", {clip, audio}, start, 0.0);
  EXPECT_EQ(unpaced.TimelineMs(later), clip->SpanMs() / 8);
}

}  // namespace
}  // namespace qor::server
