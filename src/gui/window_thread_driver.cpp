#include "gui/window_thread_driver.h"

#include <QMetaObject>

#include <algorithm>
#include <limits>

#include "platform/window_thread.h"

namespace qor::gui {

WindowThreadDriver::WindowThreadDriver(WindowThread& window, QObject* parent)
    : QObject(parent), window_(window) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &WindowThreadDriver::Serve);
  // Called from workers inside Synchronize and from timer changes on this thread: one queued call
  // at a time is enough, as one Serve drains everything that is pending.
  target_->driver = this;
  window_.SetWakeup([target = target_] {
    std::lock_guard<std::mutex> lock(target->mutex);
    WindowThreadDriver* driver = target->driver;
    if (driver && !driver->posted_.exchange(true)) {
      // By name: the queued call is then made and freed by Qt alone, never half in our code.
      QMetaObject::invokeMethod(driver, "Serve", Qt::QueuedConnection);
    }
  });
  Serve();
}

WindowThreadDriver::~WindowThreadDriver() {
  {
    std::lock_guard<std::mutex> lock(target_->mutex);
    target_->driver = nullptr;
  }
  window_.SetWakeup(nullptr);
}

void WindowThreadDriver::Serve() {
  const auto start = std::chrono::steady_clock::now();
  posted_ = false;
  // Also from a nested loop (a modal dialog opened by a handler): the window thread's work goes on
  // while the dialog shows, as it does while a handler waits for a thread; the handlers guard
  // themselves against running inside themselves.
  window_.ProcessMessages();
  Reschedule();
  if (OnServed) OnServed();
  if (measuring_) {
    const int64_t took = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    longest_serve_us_ = std::max(longest_serve_us_, took);
  }
}

void WindowThreadDriver::Reschedule() {
  const int64_t due = window_.NextTimerDueInMs();
  if (due < 0) {
    timer_.stop();
    return;
  }
  const int64_t ms = std::clamp<int64_t>(due, 0, std::numeric_limits<int>::max());
  timer_.start(static_cast<int>(ms));
}

void WindowThreadDriver::StartMeasuring() {
  longest_gap_us_ = 0;
  longest_serve_us_ = 0;
  turns_ = 0;
  measuring_ = true;
  last_turn_ = std::chrono::steady_clock::now();
  // A precise 1 ms timer fires at every turn that comes at least a millisecond after the last
  // one; any work that holds the loop shows as a longer gap. (A zero timer would spin the CPU
  // and compete with what is measured.)
  probe_.setTimerType(Qt::PreciseTimer);
  probe_.setInterval(1);
  connect(&probe_, &QTimer::timeout, this, &WindowThreadDriver::Probe, Qt::UniqueConnection);
  probe_.start();
}

void WindowThreadDriver::Probe() {
  const auto now = std::chrono::steady_clock::now();
  const int64_t gap =
      std::chrono::duration_cast<std::chrono::microseconds>(now - last_turn_).count();
  longest_gap_us_ = std::max(longest_gap_us_, gap);
  ++turns_;
  last_turn_ = now;
}

}  // namespace qor::gui
