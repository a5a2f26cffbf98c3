// The server's answer to a stream choice: the multiple-bit-rate clip fed with some streams
// chosen carries only those, packed into fewer full packets, and the feed still ends.
#include <gtest/gtest.h>

#include "packet_feed.h"
#include "server_test_support.h"
#include "stream_filter.h"

namespace qor::server::testing {
namespace {

struct FeedRun {
  std::vector<Bytes> packets;
  StreamCounts counts;
  std::set<uint8_t> streamsSeen;
  bool ended = false;
};

FeedRun Drain(PacketFeed& feed) {
  FeedRun run;
  for (int i = 0; i < 100000; ++i) {
    FeedItem item = feed.Next();
    if (item.kind == FeedItem::Kind::kEnd) {
      run.ended = true;
      break;
    }
    if (item.kind != FeedItem::Kind::kPacket) continue;
    PacketParts parts;
    EXPECT_TRUE(SplitPacket(item.bytes.data(), item.bytes.size(), parts));
    for (const auto& p : parts.payloads) run.streamsSeen.insert(p.stream);
    EXPECT_EQ(item.locationId, run.packets.size());  // numbered without gaps
    run.packets.push_back(std::move(item.bytes));
  }
  run.counts = feed.Counts();
  return run;
}

TEST(StreamChoiceFeed, ChosenStreamsOnlyInFullPacketsNumberedOn) {
  QOR_NEED_SAMPLES();
  std::string error;
  const auto media = MediaSource::Load(SampleDir() + "/mbr.wmv", error);
  ASSERT_TRUE(media) << error;

  PacketFeed all(media, 0, false);
  const FeedRun whole = Drain(all);
  ASSERT_TRUE(whole.ended);
  EXPECT_EQ(whole.packets.size(), media->PacketCount());
  EXPECT_EQ(whole.streamsSeen, (std::set<uint8_t>{1, 2, 3, 4}));

  PacketFeed low(media, 0, false);
  low.Choose(ParseStreamSwitchEntries("ffff:1:2 ffff:2:0 ffff:3:2 ffff:4:0 "));
  const FeedRun chosen = Drain(low);
  ASSERT_TRUE(chosen.ended);
  EXPECT_EQ(chosen.streamsSeen, (std::set<uint8_t>{2, 4}));
  for (const Bytes& p : chosen.packets) EXPECT_EQ(p.size(), media->PacketSize());
  // Every payload of the chosen streams arrives, byte for byte as many as in the whole feed.
  for (uint8_t s : {2, 4}) {
    EXPECT_EQ(chosen.counts.at(s).payloads, whole.counts.at(s).payloads) << int(s);
    EXPECT_EQ(chosen.counts.at(s).bytes, whole.counts.at(s).bytes) << int(s);
  }
  EXPECT_EQ(chosen.counts.count(1), 0u);
  // Packed again into full packets: the low rates (about a fifth of the whole) take a fraction of
  // the packets, not one per packet that carried any of them.
  EXPECT_LE(chosen.packets.size(), whole.packets.size() / 2);
}

TEST(StreamChoiceFeed, SwitchEntriesReadLikeServers) {
  EXPECT_EQ(ParseStreamSwitchEntries("ffff:1:0 ffff:2:0 ").streams, (std::set<uint8_t>{1, 2}));
  EXPECT_EQ(ParseStreamSwitchEntries("ffff:1:2 ffff:a:0 ffff:3:0").streams,
            (std::set<uint8_t>{10, 3}));
  // Damaged entries are skipped; when nothing readable is wanted, every stream goes.
  EXPECT_TRUE(ParseStreamSwitchEntries("ffff:zz:0 ffff::0 :::: ffff:1:2").All());
}

}  // namespace
}  // namespace qor::server::testing
