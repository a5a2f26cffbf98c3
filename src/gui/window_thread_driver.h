#pragma once
// Qt's event loop drives the core's window thread: a wakeup from any thread posts one queued call
// that drains the handovers, and a single-shot timer is kept at the next window timer's deadline.
// Nothing ever waits on a blocking queued connection, which would deadlock against a join; and
// as the drain is an ordinary event, nested loops (a modal dialog) keep serving it too.

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace qor {
class WindowThread;
}

namespace qor::gui {

class WindowThreadDriver : public QObject {
  Q_OBJECT

 public:
  explicit WindowThreadDriver(WindowThread& window, QObject* parent = nullptr);
  ~WindowThreadDriver() override;

  // Runs after every turn that served the window thread (the window copies its state then).
  std::function<void()> OnServed;

  // The longest time between two turns of the event loop seen so far, for the benchmark; the
  // probe counts only while measuring.
  void StartMeasuring();
  int64_t LongestGapUs() const { return longest_gap_us_; }
  int64_t Turns() const { return turns_; }
  // The longest single turn that served the window thread (its handovers, timers and the window's
  // state shown after them): what of a gap is our own work rather than the machine's scheduling.
  int64_t LongestServeUs() const { return longest_serve_us_; }

 public slots:
  void Serve();

 private:
  void Reschedule();
  void Probe();

  // What a wakeup reaches: cleared under its lock when the driver goes, so a worker that took the
  // wakeup function just before can never post to a destroyed object.
  struct Target {
    std::mutex mutex;
    WindowThreadDriver* driver = nullptr;
  };

  WindowThread& window_;
  std::shared_ptr<Target> target_ = std::make_shared<Target>();
  QTimer timer_;
  std::atomic<bool> posted_{false};

  QTimer probe_;
  std::chrono::steady_clock::time_point last_turn_{};
  int64_t longest_gap_us_ = 0;
  int64_t turns_ = 0;
  int64_t longest_serve_us_ = 0;
  bool measuring_ = false;
};

}  // namespace qor::gui
