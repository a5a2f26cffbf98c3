#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_thread.h"

namespace qor {
namespace {

struct ManualWindow : ::testing::Test {
  ManualClock clock{10'000};
  WindowThread window{&clock};
  std::vector<std::string> fired;

  void Name(TTimer& timer, std::string name) {
    timer.OnTimer = [this, name] { fired.push_back(name + "@" + std::to_string(Now())); };
  }
  int64_t Now() const { return clock.MonotonicMs() - 10'000; }
};

TEST_F(ManualWindow, FiresExactlyTheDueTimersInDeadlineOrder) {
  TTimer drain(&window), counters(&window), graph(&window);
  drain.SetInterval(150);
  counters.SetInterval(200);
  graph.SetInterval(1000);
  Name(drain, "drain");
  Name(counters, "counters");
  Name(graph, "graph");
  window.Advance(1000);
  EXPECT_EQ(fired,
            (std::vector<std::string>{"drain@150", "counters@200", "drain@300", "counters@400",
                                      "drain@450", "drain@600", "counters@600", "drain@750",
                                      "counters@800", "drain@900", "counters@1000", "graph@1000"}));
  EXPECT_EQ(Now(), 1000);
  fired.clear();
  window.Advance(49);
  EXPECT_TRUE(fired.empty());
  window.Advance(1);
  EXPECT_EQ(fired, (std::vector<std::string>{"drain@1050"}));
}

TEST_F(ManualWindow, DisabledAndZeroIntervalTimersNeverFire) {
  TTimer off(&window), zero(&window);
  Name(off, "off");
  Name(zero, "zero");
  off.SetEnabled(false);
  zero.SetInterval(0);
  window.Advance(10'000);
  EXPECT_TRUE(fired.empty());
  EXPECT_EQ(window.NextTimerDueInMs(), -1);
  EXPECT_FALSE(window.ProcessMessages());
}

TEST_F(ManualWindow, ChangingEnabledOrIntervalRestartsThePeriod) {
  TTimer timer(&window);
  timer.SetInterval(100);
  Name(timer, "t");
  window.Advance(60);
  timer.SetEnabled(false);
  timer.SetEnabled(true);  // period restarts at 60
  window.Advance(60);
  EXPECT_TRUE(fired.empty());
  window.Advance(40);
  EXPECT_EQ(fired, (std::vector<std::string>{"t@160"}));
  window.Advance(30);
  timer.SetEnabled(true);  // already on: changes nothing
  timer.SetInterval(100);  // same value: changes nothing
  window.Advance(70);
  EXPECT_EQ(fired.back(), "t@260");
  timer.SetInterval(50);  // restarts at 260
  window.Advance(50);
  EXPECT_EQ(fired.back(), "t@310");
  EXPECT_EQ(window.NextTimerDueInMs(), 50);
}

TEST_F(ManualWindow, HandlerDisablingItselfAndAnother) {
  TTimer self(&window), other(&window);
  self.SetInterval(100);
  other.SetInterval(100);  // due at the same moment, fires after self (older first)
  Name(other, "other");
  int selfCalls = 0;
  self.OnTimer = [&] {
    ++selfCalls;
    self.SetEnabled(false);
    other.SetEnabled(false);
  };
  window.Advance(1000);
  EXPECT_EQ(selfCalls, 1);
  EXPECT_TRUE(fired.empty());
}

TEST_F(ManualWindow, HandlerChangingItsIntervalTakesEffectFromThatFiring) {
  TTimer timer(&window);
  timer.SetInterval(100);
  int calls = 0;
  timer.OnTimer = [&] {
    fired.push_back(std::to_string(Now()));
    if (++calls == 2) timer.SetInterval(250);
  };
  window.Advance(1000);
  EXPECT_EQ(fired, (std::vector<std::string>{"100", "200", "450", "700", "950"}));
}

TEST_F(ManualWindow, HandlerDeletingItsOwnAndAnotherTimer) {
  auto self = std::make_unique<TTimer>(&window);
  auto other = std::make_unique<TTimer>(&window);
  auto later = std::make_unique<TTimer>(&window);
  self->SetInterval(100);
  other->SetInterval(100);
  later->SetInterval(300);
  Name(*other, "other");
  Name(*later, "later");
  std::string capture = "kept alive by the copy";
  self->OnTimer = [&, capture] {
    self.reset();  // destroys the running handler's own timer
    other.reset();
    fired.push_back(capture);  // the captures must still be valid here
  };
  window.Advance(1000);
  EXPECT_EQ(fired, (std::vector<std::string>{"kept alive by the copy", "later@300", "later@600",
                                             "later@900"}));
}

TEST_F(ManualWindow, HandlerCreatingATimerFiresItInTheSameAdvance) {
  std::unique_ptr<TTimer> created;
  TTimer starter(&window);
  starter.SetInterval(100);
  starter.OnTimer = [&] {
    starter.SetEnabled(false);
    created = std::make_unique<TTimer>(&window);
    created->SetInterval(50);
    Name(*created, "created");
  };
  window.Advance(220);
  EXPECT_EQ(fired, (std::vector<std::string>{"created@150", "created@200"}));
}

TEST_F(ManualWindow, TimerOutlivingItsWindowThreadIsHarmless) {
  auto other = std::make_unique<WindowThread>(&clock);
  TTimer timer(other.get());
  timer.OnTimer = [] {};
  other.reset();
  timer.SetInterval(5);  // no thread anymore: only remembered
  EXPECT_EQ(timer.Interval(), 5u);
}

TEST_F(ManualWindow, ExceptionInTimerHandlerGoesToTheHandlerAndTimerGoesOn) {
  int reported = 0;
  window.SetExceptionHandler([&](std::exception_ptr) { ++reported; });
  TTimer timer(&window);
  timer.SetInterval(100);
  timer.OnTimer = [] { throw std::runtime_error("timer failed"); };
  window.Advance(300);
  EXPECT_EQ(reported, 3);
}

TEST_F(ManualWindow, RunServesHandoversButNotTime) {
  TTimer timer(&window);
  timer.SetInterval(1);
  Name(timer, "t");
  std::thread worker([&] {
    Synchronize([] {});
    window.Quit();
  });
  window.Run();
  worker.join();
  EXPECT_TRUE(fired.empty());
}

TEST(SystemClockTimers, FireOnTheRealClockWhileTheLoopSleeps) {
  // Taken before the timers are armed: their intervals count from a moment after this one.
  const auto start = SystemClock().MonotonicMs();
  WindowThread window;
  TTimer fast(&window), slow(&window);
  fast.SetInterval(5);
  slow.SetInterval(40);
  int fastCalls = 0, slowCalls = 0;
  fast.OnTimer = [&] { ++fastCalls; };
  slow.OnTimer = [&] {
    if (++slowCalls == 2) window.Quit();
  };
  window.Run();
  EXPECT_GE(SystemClock().MonotonicMs() - start, 80);
  EXPECT_GE(fastCalls, 1);
  EXPECT_EQ(slowCalls, 2);
  EXPECT_THROW(window.Advance(10), std::logic_error);
}

double ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

TEST(SystemClockTimers, RunSleepsBetweenTimersInsteadOfSpinning) {
  // Taken before the timer is armed: its three intervals count from a moment after this one.
  const int64_t wallStart = SystemClock().MonotonicMs();
  WindowThread window;
  TTimer timer(&window);
  timer.SetInterval(100);
  int calls = 0;
  timer.OnTimer = [&] {
    if (++calls == 3) window.Quit();
  };
  double cpuStart = ThreadCpuMs();
  window.Run();
  double cpu = ThreadCpuMs() - cpuStart;
  int64_t wall = SystemClock().MonotonicMs() - wallStart;
  EXPECT_GE(wall, 300);
  // A spinning loop would burn about as much processor time as the wall time it waited.
  EXPECT_LT(cpu, wall / 3.0) << "cpu " << cpu << " ms over " << wall << " ms";
}

TEST(SystemClockTimers, ATimerWithoutWorkLetsTheLoopSleepUntilNotified) {
  WindowThread window;
  TTimer drain(&window);
  drain.SetInterval(50);
  std::atomic<int> waiting{0};
  int drains = 0;
  drain.Wanted = [&] { return waiting.load() > 0; };
  drain.OnTimer = [&] {
    ++drains;
    waiting = 0;
  };
  // Nothing wakes the loop for it over four periods; the loop's own end may still serve it.
  window.ProcessUntil([] { return false; }, 220);
  EXPECT_LE(drains, 1);
  drains = 0;
  std::thread poster([&] {
    waiting = 1;
    window.Notify();
  });
  // Bounded by the wait rather than timed: a loop that did not plan again would sleep it out.
  EXPECT_TRUE(window.ProcessUntil([&] { return drains > 0; }, 5000));
  poster.join();
}

TEST(ManualClockTest, WallTimeMovesWithTheMonotonicTime) {
  ManualClock clock(500, 1'700'000'000);
  EXPECT_EQ(clock.WallTime(), 1'700'000'000);
  clock.Set(2'499);
  EXPECT_EQ(clock.WallTime(), 1'700'000'001);
  clock.SetWall(1'800'000'000);
  EXPECT_EQ(clock.WallTime(), 1'800'000'000);
  clock.Set(3'499);
  EXPECT_EQ(clock.WallTime(), 1'800'000'001);
  EXPECT_EQ(clock.MonotonicMs(), 3'499);
}

}  // namespace
}  // namespace qor
