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

// The streams a live feed carried in each stretch between its entry changes, for `stretches`.
std::vector<std::set<uint8_t>> StreamsPerEntry(PacketFeed& feed, size_t stretches) {
  std::vector<std::set<uint8_t>> seen(1);
  for (int i = 0; i < 100000 && seen.size() <= stretches; ++i) {
    FeedItem item = feed.Next();
    if (item.kind == FeedItem::Kind::kEnd) break;
    if (item.kind == FeedItem::Kind::kEntryChange) {
      seen.emplace_back();
      continue;
    }
    PacketParts parts;
    EXPECT_TRUE(SplitPacket(item.bytes.data(), item.bytes.size(), parts));
    for (const auto& p : parts.payloads) seen.back().insert(p.stream);
  }
  seen.resize(stretches);
  return seen;
}

// A client chooses from the header it was given; a live play list can move on between its
// describe and its play request. The choice holds only for an entry with the streams it named:
// another entry goes whole, and what was queued under the choice still goes, before the change.
TEST(StreamChoiceFeed, ALivePlayListsOtherEntryGoesWhole) {
  QOR_NEED_SAMPLES();
  std::string error;
  const auto audio = MediaSource::Load(SampleDir() + "/audio.wma", error);
  const auto clip = MediaSource::Load(SampleDir() + "/clip.wmv", error);
  ASSERT_TRUE(audio && clip) << error;
  ASSERT_EQ(audio->StreamNumbers().size(), 1u);
  ASSERT_EQ(clip->StreamNumbers().size(), 2u);
  const auto now = std::chrono::steady_clock::now();
  const std::vector<std::shared_ptr<const MediaSource>> entries{audio, clip};

  // Chosen from the audio entry's header, played once the clip is on.
  const auto movedOn = std::make_shared<const LiveChannel>(
      "show", entries, now - std::chrono::milliseconds(audio->SpanMs() + 50));
  PacketFeed late(movedOn, false);
  late.Choose(ParseStreamSwitchEntries("ffff:1:0 "));
  EXPECT_EQ(StreamsPerEntry(late, 1)[0], (std::set<uint8_t>{1, 2}));

  // Chosen from the clip's header while the audio entry is still on: the audio goes whole, the
  // clip is filtered, the audio after it goes whole again.
  const auto early =
      std::make_shared<const LiveChannel>("show", entries, now - std::chrono::milliseconds(50));
  PacketFeed filtered(early, false);
  filtered.Choose(ParseStreamSwitchEntries("ffff:1:2 ffff:2:0 "));
  EXPECT_EQ(StreamsPerEntry(filtered, 3),
            (std::vector<std::set<uint8_t>>{{1}, {2}, {1}}));
  PacketFeed whole(clip, 0, false);
  EXPECT_EQ(filtered.Counts().at(2).payloads, Drain(whole).counts.at(2).payloads);
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
