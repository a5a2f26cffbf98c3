#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_thread.h"

namespace qor {
namespace {

TEST(WindowHandover, SeveralWorkersAtOnceRunOnTheWindowThread) {
  WindowThread window;
  constexpr int kWorkers = 4;
  constexpr int kEach = 200;
  std::vector<int> seen(kWorkers, 0);  // touched only on the window thread
  std::atomic<int> offThread{0};
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i) {
        int before = -1;
        bool ran = Synchronize([&] {
          if (!window.IsWindowThread()) ++offThread;
          before = seen[w]++;
        });
        // The result of the handover is visible to the worker once Synchronize returns.
        EXPECT_TRUE(ran);
        EXPECT_EQ(before, i);
      }
      ++finished;
      window.Notify();
    });
  }
  EXPECT_TRUE(window.ProcessUntil([&] { return finished.load() == kWorkers; }, 60'000));
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(offThread.load(), 0);
  for (int w = 0; w < kWorkers; ++w) EXPECT_EQ(seen[w], kEach);
}

TEST(WindowHandover, InlineOnTheWindowThread) {
  WindowThread window;
  bool ran = false;
  EXPECT_TRUE(Synchronize([&] { ran = true; }));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(window.ProcessMessages());  // nothing was queued
}

TEST(WindowHandover, WithoutWindowThreadRunsInline) {
  ASSERT_EQ(WindowThread::Current(), nullptr);
  int calls = 0;
  EXPECT_TRUE(Synchronize([&] { ++calls; }));
  EXPECT_EQ(calls, 1);
}

TEST(WindowHandover, QueueRunsLaterInOrder) {
  WindowThread window;
  std::vector<int> order;
  window.Queue([&] { order.push_back(1); });
  window.Queue([&] {
    order.push_back(2);
    window.Queue([&] { order.push_back(3); });  // waits for the next pass
  });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(window.ProcessMessages());
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(window.ProcessMessages());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WindowHandover, ExceptionWithoutHandlerReachesTheWorker) {
  WindowThread window;
  std::atomic<bool> caught{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& error) {
      caught = std::string(error.what()) == "handler failed";
    }
    done = true;
    WindowThread::Current()->Notify();
  });
  EXPECT_TRUE(window.ProcessUntil([&] { return done.load(); }, 60'000));
  worker.join();
  EXPECT_TRUE(caught.load());
}

TEST(WindowHandover, ExceptionGoesToTheHandlerOnTheWindowThread) {
  WindowThread window;
  std::vector<std::string> reported;
  bool handlerOnWindowThread = true;
  window.SetExceptionHandler([&](std::exception_ptr error) {
    handlerOnWindowThread = handlerOnWindowThread && window.IsWindowThread();
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported.emplace_back(e.what());
    }
  });
  std::atomic<bool> workerResult{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    workerResult = Synchronize([] { throw std::runtime_error("from handover"); });
    done = true;
    window.Notify();
  });
  window.Queue([] { throw std::runtime_error("from queue"); });
  EXPECT_TRUE(window.ProcessUntil([&] { return done.load(); }, 60'000));
  worker.join();
  EXPECT_TRUE(Synchronize([] { throw std::logic_error("inline"); }));
  EXPECT_TRUE(workerResult.load());
  EXPECT_TRUE(handlerOnWindowThread);
  ASSERT_EQ(reported.size(), 3u);
  EXPECT_EQ(std::count(reported.begin(), reported.end(), "from queue"), 1);
  EXPECT_EQ(std::count(reported.begin(), reported.end(), "from handover"), 1);
  EXPECT_EQ(reported.back(), "inline");
}

TEST(WindowHandover, ShutdownReleasesWaitingWorkersAndRefusesLaterOnes) {
  auto window = std::make_unique<WindowThread>();
  constexpr int kWorkers = 3;
  std::atomic<int> waiting{0};
  std::atomic<int> refused{0};
  std::atomic<int> ran{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      ++waiting;
      if (!Synchronize([&] { ++ran; })) ++refused;
      // Once the window is gone every later handover returns false at once.
      if (!Synchronize([&] { ++ran; })) ++refused;
    });
  }
  while (waiting.load() < kWorkers) std::this_thread::yield();
  window->Shutdown();
  EXPECT_FALSE(window->Synchronize([&] { ++ran; }));  // inline refused too
  for (auto& worker : workers) worker.join();
  // Each worker may have queued its first handover before or after the shutdown; either way it
  // is refused, because the window thread never served it.
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(refused.load(), 2 * kWorkers);
  window.reset();
}

TEST(WindowHandover, DestroyingTheWindowWhileWorkersHandOver) {
  auto window = std::make_unique<WindowThread>();
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 2; ++w) {
    workers.emplace_back([&] {
      while (!stop.load()) {
        if (Synchronize([&] { ++served; })) continue;
        ++refused;
        std::this_thread::yield();
      }
    });
  }
  EXPECT_TRUE(window->ProcessUntil([&] { return served.load() >= 20; }, 60'000));
  window.reset();  // must not hang while workers keep calling
  EXPECT_EQ(WindowThread::Current(), nullptr);
  stop = true;
  for (auto& worker : workers) worker.join();
  EXPECT_GE(served.load(), 20);
}

TEST(WindowHandover, DestroyingTheWindowReleasesAWorkerBlockedInItsSynchronize) {
  auto window = std::make_unique<WindowThread>();
  std::atomic<bool> queued{false};
  window->SetWakeup([&] { queued = true; });  // called once the handover is in the queue
  WindowThread* raw = window.get();
  std::atomic<int> result{-1};
  std::thread worker([&] { result = raw->Synchronize([] {}) ? 1 : 0; });
  while (!queued.load()) std::this_thread::yield();
  window.reset();  // the worker is still inside the member call and must leave it cleanly
  worker.join();
  EXPECT_EQ(result.load(), 0);
}

TEST(WindowHandover, NewestWindowThreadIsCurrent) {
  EXPECT_EQ(WindowThread::Current(), nullptr);
  WindowThread first;
  EXPECT_EQ(WindowThread::Current(), &first);
  {
    WindowThread second;
    EXPECT_EQ(WindowThread::Current(), &second);
  }
  EXPECT_EQ(WindowThread::Current(), &first);
}

TEST(WindowHandover, RunUntilQuitFromAnotherThread) {
  WindowThread window;
  std::atomic<bool> handed{false};
  int wakeups = 0;
  std::mutex wakeMutex;
  window.SetWakeup([&] {
    std::lock_guard<std::mutex> lock(wakeMutex);
    ++wakeups;
  });
  std::thread worker([&] {
    handed = Synchronize([&] {});
    window.Quit();
  });
  window.Run();  // returns only after the worker's Quit
  worker.join();
  EXPECT_TRUE(handed.load());
  std::lock_guard<std::mutex> lock(wakeMutex);
  EXPECT_GE(wakeups, 2);  // one for the handover, one for Quit
}

TEST(WindowHandover, ProcessUntilTimesOut) {
  WindowThread window;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(window.ProcessUntil([] { return false; }, 30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace qor
