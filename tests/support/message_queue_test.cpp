#include "support/message_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qor {
namespace {

TEST(MessageQueue, EmptyTakeGivesNothing) {
  TMessageClass queue;
  std::string text = "left over";
  uint32_t code = 99;
  EXPECT_FALSE(queue.Take(text, code));
  EXPECT_EQ(text, "");
  EXPECT_EQ(code, 0u);
  MessagePair pair{"x", 5, 9};
  EXPECT_FALSE(queue.Take(pair));
  EXPECT_EQ(pair.text, "");
  EXPECT_EQ(pair.code, 0u);
  EXPECT_EQ(pair.source, kWindowSource);
}

TEST(MessageQueue, KeepsOrderWellBeyondFiftyUnreadPairs) {
  TMessageClass queue;
  for (int i = 0; i < 500; ++i) queue.Post("line " + std::to_string(i), 1u << (i % 8));
  EXPECT_EQ(queue.Pending(), 500u);
  for (int i = 0; i < 500; ++i) {
    std::string text;
    uint32_t code = 0;
    ASSERT_TRUE(queue.Take(text, code));
    EXPECT_EQ(text, "line " + std::to_string(i));
    EXPECT_EQ(code, 1u << (i % 8));
  }
  std::string text;
  uint32_t code = 0;
  EXPECT_FALSE(queue.Take(text, code));
}

TEST(MessageQueue, RecordsTheSourceOfEachPair) {
  TMessageClass queue;
  queue.Post("from the window", mcNormal);
  queue.Post("", mcCompleted, 7);
  MessagePair pair;
  ASSERT_TRUE(queue.Take(pair));
  EXPECT_EQ(pair.source, kWindowSource);
  ASSERT_TRUE(queue.Take(pair));
  EXPECT_EQ(pair.text, "");
  EXPECT_EQ(pair.code, static_cast<uint32_t>(mcCompleted));
  EXPECT_EQ(pair.source, 7u);
}

TEST(MessageQueue, ClearForgetsEverything) {
  TMessageClass queue;
  queue.Post("a", mcFatal);
  queue.Post("b", mcNormal);
  queue.Clear();
  EXPECT_EQ(queue.Pending(), 0u);
  MessagePair pair;
  EXPECT_FALSE(queue.Take(pair));
}

// Fills the queue to the cap with plain lines.
void FillToCap(TMessageClass& queue) {
  for (size_t i = 0; i < TMessageClass::kPlainCap; ++i) queue.Post("plain", mcNormal);
  ASSERT_EQ(queue.Pending(), TMessageClass::kPlainCap);
}

TEST(MessageQueueOverflow, DropsPlainLinesWithOneNoteButNeverAnAction) {
  TMessageClass queue;
  FillToCap(queue);
  queue.Post("dropped 1", mcNotice);
  queue.Post("fatal", mcFatal | mcMedia);
  queue.Post("dropped 2", mcWarning);
  queue.Post("started", mcStarted | mcNotice);
  queue.Post("", mcCompleted);
  queue.Post("", mcNewTrack);
  queue.Post("dropped 3", mcMedia);
  // The cap plus one note plus four action pairs.
  ASSERT_EQ(queue.Pending(), TMessageClass::kPlainCap + 5);

  MessagePair pair;
  for (size_t i = 0; i < TMessageClass::kPlainCap; ++i) {
    ASSERT_TRUE(queue.Take(pair));
    ASSERT_EQ(pair.text, "plain");
  }
  std::vector<uint32_t> codes;
  std::vector<std::string> texts;
  while (queue.Take(pair)) {
    codes.push_back(pair.code);
    texts.push_back(pair.text);
  }
  ASSERT_EQ(codes.size(), 5u);
  // The note stands where the first line went missing; its code only colours it.
  EXPECT_EQ(codes[0], static_cast<uint32_t>(mcWarning));
  EXPECT_FALSE(texts[0].empty());
  EXPECT_EQ(ActionOf(codes[0]), 0u);
  EXPECT_EQ(texts[1], "fatal");
  EXPECT_EQ(texts[2], "started");
  EXPECT_EQ(codes[3], static_cast<uint32_t>(mcCompleted));
  EXPECT_EQ(codes[4], static_cast<uint32_t>(mcNewTrack));
}

TEST(MessageQueueOverflow, AcceptsPlainLinesAgainOnceTheReaderCaughtUp) {
  TMessageClass queue;
  FillToCap(queue);
  queue.Post("dropped", mcNormal);
  MessagePair pair;
  while (queue.Take(pair)) {
  }
  queue.Post("kept", mcNormal);
  ASSERT_TRUE(queue.Take(pair));
  EXPECT_EQ(pair.text, "kept");

  // A second flood gets a note of its own.
  FillToCap(queue);
  queue.Post("dropped again", mcNormal);
  EXPECT_EQ(queue.Pending(), TMessageClass::kPlainCap + 1);
}

TEST(MessageCodes, ColourFollowsTheFirstBitInLogOrder) {
  EXPECT_EQ(ColourOf(mcNotice), LogColour::Blue);
  EXPECT_EQ(ColourOf(mcNormal), LogColour::Black);
  EXPECT_EQ(ColourOf(mcWarning), LogColour::Green);
  EXPECT_EQ(ColourOf(mcMedia), LogColour::Purple);
  EXPECT_EQ(ColourOf(mcFatal), LogColour::Red);
  EXPECT_EQ(ColourOf(33), LogColour::Blue);
  EXPECT_EQ(ColourOf(24), LogColour::Purple);  // media wins over fatal
  EXPECT_EQ(ColourOf(12), LogColour::Green);
  EXPECT_EQ(ColourOf(mcStarted), LogColour::Black);
  EXPECT_EQ(ColourOf(0), LogColour::Black);
}

TEST(MessageCodes, RgbValues) {
  auto same = [](Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
  EXPECT_TRUE(same(RgbOf(LogColour::Blue), Rgb{0, 0, 255}));
  EXPECT_TRUE(same(RgbOf(LogColour::Black), Rgb{0, 0, 0}));
  EXPECT_TRUE(same(RgbOf(LogColour::Green), Rgb{0, 128, 0}));
  EXPECT_TRUE(same(RgbOf(LogColour::Purple), Rgb{128, 0, 128}));
  EXPECT_TRUE(same(RgbOf(LogColour::Red), Rgb{255, 0, 0}));
}

TEST(MessageCodes, ActionFollowsTheFirstBitInActionOrder) {
  EXPECT_EQ(ActionOf(33), static_cast<uint32_t>(mcStarted));
  EXPECT_EQ(ActionOf(24), static_cast<uint32_t>(mcFatal));
  EXPECT_EQ(ActionOf(mcFatal | mcCompleted), static_cast<uint32_t>(mcCompleted));
  EXPECT_EQ(ActionOf(mcFatal | mcNewTrack), static_cast<uint32_t>(mcNewTrack));
  EXPECT_EQ(ActionOf(mcStarted | mcCompleted | mcNewTrack), static_cast<uint32_t>(mcStarted));
  EXPECT_EQ(ActionOf(mcNotice | mcNormal | mcWarning | mcMedia), 0u);
}

}  // namespace
}  // namespace qor
