// Producers post from their own threads while the window takes; the window must see every pair
// it is owed, in the order posted.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/message_queue.h"

namespace qor {
namespace {

uint32_t CodeFor(int i) {
  return 1u << (i % 8);
}

TEST(MessageQueueStress, OneProducerOneReaderEveryPairInOrder) {
  constexpr int kPairs = 60000;
  TMessageClass queue;
  std::thread producer([&] {
    for (int i = 0; i < kPairs; ++i) queue.Post(std::to_string(i), CodeFor(i), 3);
  });
  int next = 0;
  int wrong = 0;
  MessagePair pair;
  while (next < kPairs) {
    if (!queue.Take(pair)) {
      std::this_thread::yield();
      continue;
    }
    if (pair.text != std::to_string(next) || pair.code != CodeFor(next) || pair.source != 3) {
      ++wrong;
    }
    ++next;
  }
  producer.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_FALSE(queue.Take(pair));
}

// A reader far slower than the producer: plain lines may go, with notes, but every action pair
// arrives and what arrives keeps the posting order.
TEST(MessageQueueStress, ActionPairsSurviveAFloodAgainstASlowReader) {
  constexpr int kPairs = 250000;
  TMessageClass queue;
  auto is_action = [](int i) { return i % 97 == 0; };
  std::thread producer([&] {
    for (int i = 0; i < kPairs; ++i) {
      queue.Post(std::to_string(i), is_action(i) ? mcFatal | mcMedia : mcNormal, 1);
    }
    queue.Post("end", mcCompleted, 1);
  });

  // Hold the reader back until the queue is at its cap, so the producer certainly overflows.
  while (queue.Pending() < TMessageClass::kPlainCap) std::this_thread::yield();

  int last = -1;
  int actions = 0;
  int notes = 0;
  int out_of_order = 0;
  bool done = false;
  MessagePair pair;
  while (!done) {
    if (!queue.Take(pair)) {
      std::this_thread::yield();
      continue;
    }
    if (pair.code == mcCompleted) {
      done = true;
    } else if (pair.code == mcWarning) {
      ++notes;
      continue;
    } else {
      const int index = std::stoi(pair.text);
      if (index <= last) ++out_of_order;
      last = index;
      if (pair.code & mcFatal) ++actions;
    }
  }
  producer.join();
  EXPECT_EQ(out_of_order, 0);
  EXPECT_EQ(actions, (kPairs + 96) / 97);
  EXPECT_GE(notes, 1);
  EXPECT_FALSE(queue.Take(pair));
}

}  // namespace
}  // namespace qor
