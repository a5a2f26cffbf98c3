#pragma once
// qor-cli open: opens a location as File -> Open does and prints what came of it: the entries of
// a play list, one a line, or the address made ready to download. The pieces that open a
// location inside a running set of forms are shared with qor-cli batch.

#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/location_loader.h"
#include "cli/cli_desktop.h"
#include "cli/terminal_output.h"

namespace qor::cli {

// The command-line desktop, which may also save a fetched play list when asked to.
class LocationDesktop : public CliDesktop {
 public:
  // Where a fetched play list is saved; none: the question is answered no.
  std::optional<std::string> SaveListAs;

  int32_t MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                     uint32_t buttons) override;
  std::optional<std::string> SaveFileDialog(const TFileDialogRequest& request) override;
  int32_t ShowModal(TForm& form) override;

  // Set when a web server's password request was answered: opening again sends the credentials.
  bool CredentialsGiven = false;
};

// Opens location as the window's loop would: an exception of the HTTP client goes to the
// window's exception handler. Drains the log afterwards. When the server asked for a password
// and one was given, the location is opened once more with it, as the user would.
TLocationLoader::Outcome OpenInForms(TApplication& app, TLocationLoader& loader,
                                     LocationDesktop& desktop, const std::string& location);
// Log lines of the drain to the terminal output.
void LogDrained(TerminalOutput& out, const MessagePair& pair);

// For get and record: the note that a play list location is opened, not saved as media; empty
// for any other location.
std::string PlayListNote(const std::string& command, const std::string& location);

int RunOpen(const std::vector<std::string>& args);
std::string OpenUsage();

}  // namespace qor::cli
