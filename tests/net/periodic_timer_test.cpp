#include "net/periodic_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qor {
namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kPatience = std::chrono::seconds(30);

// Counts ticks and lets a test wait for a number of them.
class TickCounter {
 public:
  void Tick() {
    std::lock_guard lock(mutex_);
    ++ticks_;
    changed_.notify_all();
  }
  bool WaitFor(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return ticks_ >= count; });
  }
  int Ticks() const {
    std::lock_guard lock(mutex_);
    return ticks_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int ticks_ = 0;
};

TEST(PeriodicTimerTest, StartClampsDelayAndResolution) {
  struct Case {
    uint32_t delay, resolution, expectedDelay, expectedResolution;
  };
  const Case cases[] = {
      {8, 2, 8, 2},
      {0, 0, 1, 1},
      {2'000'000, 5'000'000, 1'000'000, 1'000'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.delay) + "/" + std::to_string(c.resolution));
    TMMTimer timer;
    EXPECT_EQ(timer.RunningMarker(), 0u);
    EXPECT_EQ(timer.TimerId(), 0u);
    uint32_t error = 77;
    ASSERT_TRUE(timer.Start(c.delay, error, c.resolution));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(timer.Delay(), c.expectedDelay);
    EXPECT_EQ(timer.Resolution(), c.expectedResolution);
    EXPECT_NE(timer.TimerId(), 0u);
    EXPECT_EQ(timer.RunningMarker(), TMMTimer::kRunningMarker);
  }
}

TEST(PeriodicTimerTest, SecondStopReleasesTheResolution) {
  TMMTimer timer;
  uint32_t error = 0;
  ASSERT_TRUE(timer.Start(8, error, 2));
  timer.Stop();
  EXPECT_EQ(timer.TimerId(), 0u);
  EXPECT_EQ(timer.RunningMarker(), 0u);
  EXPECT_EQ(timer.Resolution(), 2u);  // still held after the first Stop
  EXPECT_EQ(timer.Delay(), 8u);
  timer.Stop();
  EXPECT_EQ(timer.Resolution(), 0u);
  EXPECT_EQ(timer.Delay(), 0u);
  timer.Stop();  // idle: nothing changes
  EXPECT_EQ(timer.Resolution(), 0u);
  // And it can run again.
  TickCounter counter;
  timer.OnTimer = [&](TMMTimer*) { counter.Tick(); };
  ASSERT_TRUE(timer.Start(1, error, 1));
  EXPECT_TRUE(counter.WaitFor(3));
}

TEST(PeriodicTimerTest, TicksAtItsPeriodWithoutBursts) {
  TMMTimer timer;
  TickCounter counter;
  std::atomic<bool> onCallerThread{false};
  const auto caller = std::this_thread::get_id();
  timer.OnTimer = [&](TMMTimer* sender) {
    if (std::this_thread::get_id() == caller || sender != &timer) onCallerThread = true;
    counter.Tick();
  };
  uint32_t error = 0;
  const auto start = Steady::now();
  ASSERT_TRUE(timer.Start(8, error, 2));
  // Deadlines are absolute from the start: however the thread is scheduled, tick n cannot come
  // before n periods have passed.
  ASSERT_TRUE(counter.WaitFor(20));
  EXPECT_GE(Steady::now() - start, milliseconds(20 * 8));
  // Loose rate check over one second (8 ms gives 125): a load-proof band, not a timing test.
  const int before = counter.Ticks();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int inOneSecond = counter.Ticks() - before;
  EXPECT_GE(inOneSecond, 40);
  EXPECT_LE(inOneSecond, 200);
  timer.Stop();
  EXPECT_FALSE(onCallerThread.load());
}

TEST(PeriodicTimerTest, StartWhileRunningReplacesTheTicks) {
  TMMTimer timer;
  TickCounter counter;
  timer.OnTimer = [&](TMMTimer*) { counter.Tick(); };
  uint32_t error = 0;
  ASSERT_TRUE(timer.Start(50, error, 2));
  const uint32_t firstId = timer.TimerId();
  ASSERT_TRUE(timer.Start(50, error, 2));
  EXPECT_NE(timer.TimerId(), firstId);
  const auto start = Steady::now();
  ASSERT_TRUE(counter.WaitFor(10));
  // Two runs would tick twice as often.
  EXPECT_GE(Steady::now() - start, milliseconds(9 * 50));
}

TEST(PeriodicTimerTest, StopWaitsForARunningTickAndNoneFollows) {
  TMMTimer timer;
  std::atomic<bool> inHandler{false};
  std::atomic<bool> stopped{false};
  std::atomic<bool> tickAfterStop{false};
  TickCounter counter;
  timer.OnTimer = [&](TMMTimer*) {
    if (stopped) tickAfterStop = true;
    inHandler = true;
    counter.Tick();
    std::this_thread::sleep_for(milliseconds(20));  // a slow handler
    inHandler = false;
  };
  uint32_t error = 0;
  ASSERT_TRUE(timer.Start(1, error, 1));
  ASSERT_TRUE(counter.WaitFor(2));
  std::thread stopper([&] {
    timer.Stop();
    EXPECT_FALSE(inHandler.load());
    stopped = true;
  });
  stopper.join();
  const int ticks = counter.Ticks();
  // Watch for a while: many periods pass and nothing more runs.
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(counter.Ticks(), ticks);
  EXPECT_FALSE(tickAfterStop.load());
}

TEST(PeriodicTimerTest, StopFromInsideTheTickEndsTheTicks) {
  TickCounter counter;
  std::atomic<int> ticksAfterStop{0};
  std::atomic<bool> stopped{false};
  {
    TMMTimer timer;
    timer.OnTimer = [&](TMMTimer* sender) {
      if (stopped) ++ticksAfterStop;
      // The third tick stops the timer before it counts itself, so the test's wait for three
      // ticks also waits for the stop, however late the tick thread runs.
      if (counter.Ticks() == 2) {
        sender->Stop();  // must not wait for itself
        stopped = true;
      }
      counter.Tick();
    };
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(1, error, 1));
    ASSERT_TRUE(counter.WaitFor(3));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(timer.RunningMarker(), 0u);
    EXPECT_EQ(timer.TimerId(), 0u);
    EXPECT_EQ(timer.Resolution(), 1u);
  }  // destruction collects the stopped tick thread
  EXPECT_EQ(counter.Ticks(), 3);
  EXPECT_EQ(ticksAfterStop.load(), 0);
}

TEST(PeriodicTimerTest, RestartFromInsideTheTickKeepsTicking) {
  TickCounter counter;
  TMMTimer timer;
  std::atomic<bool> restarted{false};
  timer.OnTimer = [&](TMMTimer* sender) {
    counter.Tick();
    if (!restarted.exchange(true)) {
      uint32_t error = 0;
      sender->Stop();
      EXPECT_TRUE(sender->Start(2, error, 1));
    }
  };
  uint32_t error = 0;
  ASSERT_TRUE(timer.Start(1, error, 1));
  EXPECT_TRUE(counter.WaitFor(5));
  EXPECT_EQ(timer.Delay(), 2u);
  timer.Stop();
  const int ticks = counter.Ticks();
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(counter.Ticks(), ticks);
}

}  // namespace
}  // namespace qor
