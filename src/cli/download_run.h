#pragma once
// One run of the window logic from the command line: the forms are created as the desktop
// program creates them, the options dialog's controls take the flags on top of the stored
// settings, and the download is started and watched through the main window's own handlers.

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/application.h"
#include "cli/cli_desktop.h"
#include "cli/cli_options.h"
#include "cli/terminal_output.h"
#include "platform/settings_store.h"

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
  void ApplyOptions();
  void OnDrained(const MessagePair& pair, bool acts);
  void ShowProgress();
  // Ends a run: the log saved when asked, the last lines shown.
  int Done(int status);
  // The status of a download that ended by a failure, and of one that completed.
  int FailedStatus();
  int CompletedStatus();
  // One line on stderr: file, packets saved, recovered, lost, duration, size, average rate.
  void Summary();
  int Interrupt();
  void ServeFor(int64_t ms);
  int64_t PassMs() const;

  const CliOptions& options_;
  TerminalOutput& out_;
  std::unique_ptr<SettingsStore> store_;
  CliDesktop desktop_;
  std::unique_ptr<TApplication> app_;

  bool started_ = false;
  bool completed_ = false;
  bool fatal_ = false;
  bool fatal_after_completion_ = false;

  int64_t run_start_ms_ = -1;
  int64_t rate_mark_ms_ = -1;
  uint64_t rate_mark_bytes_ = 0;
  uint64_t bytes_per_second_ = 0;
  int64_t json_mark_ms_ = -1;  // when the last progress object was written
  // The summary's values, written as the last object once the exit status is known.
  nlohmann::ordered_json summary_;
};

}  // namespace qor::cli
