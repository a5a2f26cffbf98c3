#pragma once
// The whole program's forms on a manual clock with a scripted desktop, downloading from the real
// qor-server on loopback. Network work runs in real time; the window's timers move only when the
// fixture advances the clock, so every drain and VCR check happens at a known point.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/options_dialog.h"
#include "common/server_process.h"
#include "dialogs_store.h"
#include "scripted_desktop.h"

namespace qor {

std::string SampleMedia(const std::string& name);
std::unique_ptr<testing::ServerProcess> StartServer(const std::vector<std::string>& extra = {});
// ffprobe's duration in seconds; -1 when ffprobe cannot read the file.
double ProbeDuration(const std::string& path);
int64_t FileSize(const std::string& path);
std::string ReadText(const std::string& path);

class MainFormTest : public StoreTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  TMainForm& Form() { return *app_->MainForm; }
  TOptionsDialog& Options() { return *app_->OptionsDialog; }
  // Serves the window thread in real time and advances the manual clock in 50 ms steps until
  // pred holds; false after 60 s of real time.
  bool RunUntil(const std::function<bool()>& pred, int64_t realTimeoutMs = 60000);
  // Advances the manual clock, serving handovers between the steps.
  void Advance(int64_t ms);
  // Sets the URL and the protocol (0 HTTP, 1 TCP, 2 UDP).
  void Location(const std::string& url, int32_t protocol);
  // The texts of the log lines, without the "> " mark.
  std::vector<std::string> LogTexts() const;
  int CountLog(const std::string& text) const;
  bool Logged(const std::string& text) const { return CountLog(text) > 0; }
  // Runs until the log shows the completion line (or a failure ends the download).
  bool RunToCompletion();

  ManualClock clock_;
  ScriptedDesktop desktop_;
  std::unique_ptr<TApplication> app_;
  std::unique_ptr<testing::ServerProcess> server_;
};

}  // namespace qor
