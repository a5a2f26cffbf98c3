#pragma once
// An answer the session thread needs from the user (credentials from a dialog): asked on the
// window thread, waited for on the session thread until it comes or the session is asked to stop.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/window_thread.h"

namespace qor {

template <typename T>
class WindowAnswer {
 public:
  // Session thread: runs ask on the window thread (at once where there is none, or when this is
  // it) and waits for what it returns. False, with answer untouched, when stopped() became true
  // first.
  bool Ask(std::function<T()> ask, const std::function<bool()>& stopped, T& answer) {
    auto request = std::make_shared<Request>();
    {
      // Published before the first look at the stop request, so a stop cannot slip past the wait.
      std::lock_guard<std::mutex> lock(asking_mutex_);
      asking_ = request;
    }
    auto run = [request, ask = std::move(ask)] {
      T value = ask();
      std::lock_guard<std::mutex> lock(request->mutex);
      request->value = std::move(value);
      request->answered = true;
      request->changed.notify_all();
    };
    WindowThread* window = WindowThread::Current();
    if (window == nullptr || window->IsWindowThread()) {
      run();
    } else {
      window->Queue(run);
    }
    bool answered = false;
    {
      std::unique_lock<std::mutex> lock(request->mutex);
      request->changed.wait(lock, [&] { return request->answered || stopped(); });
      answered = request->answered;
      if (answered) answer = std::move(request->value);
    }
    std::lock_guard<std::mutex> lock(asking_mutex_);
    asking_.reset();
    return answered;
  }

  // Any thread: a wait in progress looks at its stop condition again.
  void Wake() {
    std::lock_guard<std::mutex> lock(asking_mutex_);
    if (!asking_) return;
    std::lock_guard<std::mutex> requestLock(asking_->mutex);
    asking_->changed.notify_all();
  }

 private:
  struct Request {
    std::mutex mutex;
    std::condition_variable changed;  // answered, or the session was asked to stop
    bool answered = false;
    T value{};
  };
  std::mutex asking_mutex_;
  std::shared_ptr<Request> asking_;  // the question waiting for its answer, if any
};

}  // namespace qor
