#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/thread.h"
#include "platform/window_thread.h"

namespace qor {
namespace {

// Loops until asked to end, counting its passes.
class SpinningThread : public TThread {
 public:
  ~SpinningThread() override { TerminateAndWait(); }
  std::atomic<int> passes{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++passes;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

// Hands `count` events to the window thread and records what the window saw.
class HandingThread : public TThread {
 public:
  explicit HandingThread(int count) : count_(count) {}
  ~HandingThread() override { TerminateAndWait(); }
  int delivered = 0;  // written on the window thread only
  std::atomic<int> refused{0};

 protected:
  void Execute() override {
    for (int i = 0; i < count_; ++i) {
      if (!Synchronize([this] { ++delivered; })) ++refused;
    }
  }

 private:
  int count_;
};

TEST(ThreadLifecycle, CreatedSuspendedAndStartedOnce) {
  SpinningThread thread;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(thread.Started());
  EXPECT_EQ(thread.passes.load(), 0);
  thread.Start();
  thread.Start();  // a second call starts nothing
  EXPECT_TRUE(thread.Started());
  while (thread.passes.load() == 0) std::this_thread::yield();
  EXPECT_FALSE(thread.Finished());
  thread.Terminate();
  EXPECT_TRUE(thread.Terminated());
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  thread.WaitFor();  // twice is harmless
}

TEST(ThreadLifecycle, WaitForNeverStartedReturnsAtOnce) {
  SpinningThread thread;
  thread.WaitFor();
  EXPECT_FALSE(thread.Finished());
  EXPECT_EQ(thread.passes.load(), 0);
}

// Outside the object: a thread that relies on the base destructor must not touch its own members.
std::atomic<int> g_reportingState{0};

TEST(ThreadLifecycle, BaseDestructorTerminatesAndJoins) {
  class Reporting : public TThread {
   protected:
    void Execute() override {
      g_reportingState = 1;
      while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // still busy when asked
      g_reportingState = 2;
    }
  };
  g_reportingState = 0;
  {
    Reporting thread;
    thread.Start();
    while (g_reportingState.load() == 0) std::this_thread::yield();
  }
  EXPECT_EQ(g_reportingState.load(), 2);  // the destructor returned only after Execute did
}

TEST(ThreadLifecycle, ExceptionInExecuteEndsOnlyThatThread) {
  class Throwing : public TThread {
   protected:
    void Execute() override { throw std::runtime_error("boom"); }
  } thread;
  thread.Start();
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
}

TEST(ThreadLifecycle, WaitForOnWindowThreadServesTheLastHandovers) {
  WindowThread window;
  HandingThread thread(50);
  thread.Start();
  // Off the loop the worker would block forever in its first Synchronize; WaitFor must serve it.
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(thread.delivered, 50);
  EXPECT_EQ(thread.refused.load(), 0);
}

TEST(ThreadLifecycle, TerminateAndWaitOnWindowThreadWhileWorkerIsBlockedInHandover) {
  WindowThread window;
  std::atomic<bool> inside{false};
  class Blocking : public TThread {
   public:
    explicit Blocking(std::atomic<bool>& in) : inside_(in) {}
    ~Blocking() override { TerminateAndWait(); }
    bool ran = false;

   protected:
    void Execute() override {
      inside_ = true;
      Synchronize([this] { ran = true; });
    }

   private:
    std::atomic<bool>& inside_;
  } thread(inside);
  thread.Start();
  while (!inside.load()) std::this_thread::yield();
  thread.TerminateAndWait();
  EXPECT_TRUE(thread.ran);
}

TEST(ThreadLifecycle, WaitForOffTheWindowThreadJustJoins) {
  WindowThread window;  // this test thread is the window thread
  SpinningThread thread;
  thread.Start();
  std::thread other([&] {
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
  });
  other.join();
}

}  // namespace
}  // namespace qor
