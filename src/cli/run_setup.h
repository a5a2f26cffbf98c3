#pragma once
// The forms of one command-line download, set up from its flags. get, record and batch all start
// here, so a flag means the same to each of them: the settings store it names and what the run
// may write there, the desktop's answers, the options dialog's controls and the main window's
// hooks for the time-outs, the stream choice, the reconnects and the transport.

#include <memory>

#include "app/application.h"
#include "cli/cli_desktop.h"
#include "cli/cli_options.h"
#include "cli/terminal_output.h"
#include "platform/settings_store.h"

namespace qor::cli {

// Points every helper at the store --config-dir names (else the default one) and limits what the
// run writes there, for as long as it exists.
class RunSettings {
 public:
  explicit RunSettings(const CliOptions& options);
  ~RunSettings();
  RunSettings(const RunSettings&) = delete;
  RunSettings& operator=(const RunSettings&) = delete;

 private:
  std::unique_ptr<SettingsStore> store_;
};

// The answers the desktop gives from the flags: credentials and the log file.
void AnswerFromFlags(const CliOptions& options, CliDesktop& desktop);

// The folder -d names, created when it does not exist yet (with a note); false, with a note that
// names it, when it cannot be made or is no folder. Checked before anything starts, so a
// recording does not find out at its start moment.
bool PrepareFolder(const CliOptions& options, TerminalOutput& out);

// The forms of the run, made and given the flags. options must outlive them.
std::unique_ptr<TApplication> MakeRunForms(const CliOptions& options, CliDesktop& desktop);

}  // namespace qor::cli
