#pragma once
// One run of the window logic from the command line: the forms are created as the desktop
// program creates them, the options dialog's controls take the flags on top of the stored
// settings, and the download is started and watched through the main window's own handlers.

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "app/application.h"
#include "cli/cli_desktop.h"
#include "cli/cli_options.h"
#include "cli/run_report.h"
#include "cli/run_setup.h"
#include "cli/terminal_output.h"

namespace qor::cli {

// Set by the SIGINT handler; the run loop looks at it between its passes.
void InstallInterruptHandler();
bool Interrupted();

// While it exists, an interrupt runs onInterrupt on a thread of its own: a window thread blocked
// in a fetch cannot look at the flag, so the fetch is cancelled from outside. The thread sleeps
// until the signal or the end of the scope.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> onInterrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

class DownloadRun {
 public:
  DownloadRun(const CliOptions& options, TerminalOutput& out);
  ~DownloadRun();

  int Get();
  int Record();

 private:
  void Setup();
  void OnDrained(const MessagePair& pair, bool acts);
  // Ends a run: the log saved when asked, the last lines shown.
  int Done(int status);
  // The status of a download that ended by a failure, and of one that completed.
  int FailedStatus();
  int CompletedStatus();
  int Interrupt();
  void ServeFor(int64_t ms);
  int64_t PassMs() const;

  const CliOptions& options_;
  TerminalOutput& out_;
  RunSettings settings_;
  CliDesktop desktop_;
  std::unique_ptr<TApplication> app_;
  std::unique_ptr<RunReport> report_;

  bool started_ = false;
  bool completed_ = false;
  bool fatal_ = false;
  bool fatal_after_completion_ = false;
};

}  // namespace qor::cli
