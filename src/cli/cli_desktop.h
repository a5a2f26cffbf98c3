#pragma once
// The desktop of qor-cli: dialogs answered from the command line's flags, message boxes written
// to stderr, password requests answered from --user/--password or asked on the terminal.

#include <optional>
#include <string>
#include <vector>

#include "app/date_time_text.h"
#include "app/desktop_services.h"

namespace qor::cli {

// A printer that prints nothing (qor-cli has no print command).
class NullPrinter : public TPrinter {
 public:
  void SetTitle(const std::string&) override {}
  void SetFontSize(int32_t) override {}
  int32_t FontHeight() const override { return 100; }
  int32_t PageWidth() const override { return 4800; }
  int32_t PageHeight() const override { return 6600; }
  void BeginDoc() override {}
  void TextOut(int32_t, int32_t, const std::string&) override {}
  void NewPage() override {}
  void EndDoc() override {}
};

// What a command-line run may write to the settings store: nothing but the credentials the user
// asked to save. Flags hold for one run, and dialogs' side effects (the folder of a log file, the
// VCR moments) are no choice the user made.
const std::vector<std::string>* WritableSettings(bool savePassword);

class CliDesktop : public DesktopServices {
 public:
  enum class ResumeAnswer { Refuse, Resume, Overwrite };

  // The save file the first save dialog gets (then cancelled); none: cancelled.
  std::optional<std::string> SaveFile;
  ResumeAnswer Resume = ResumeAnswer::Refuse;
  // The log file the log's save dialog gets.
  std::optional<std::string> LogFile;
  std::optional<std::string> User, Password;
  // Whether credentials that a server accepts are saved (--save-password); otherwise they are
  // used for this run only.
  bool SavePassword = false;
  // The VCR moments the date-time dialog is given.
  TDateTime VcrStart = 0, VcrEnd = 0;

  // Set when the resume question was refused for lack of --resume or --overwrite.
  bool ResumeRefused = false;
  std::string RefusedFile;

  int32_t MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                     uint32_t buttons) override;
  std::optional<std::string> OpenFileDialog(const TFileDialogRequest& request) override;
  std::optional<std::string> SaveFileDialog(const TFileDialogRequest& request) override;
  int32_t ShowModal(TForm& form) override;
  void ShowModeless(TForm& form) override;
  bool PrintDialog() override { return false; }
  void PrinterSetupDialog() override {}
  TPrinter& Printer() override { return printer_; }
  int32_t OpenWithShell(const std::string& target) override;

 private:
  // Asks id and password on the terminal; false when there is none or input ended.
  bool PromptCredentials(const std::string& site, std::string& id, std::string& password);

  NullPrinter printer_;
  bool save_answered_ = false;
  std::string last_save_;
};

}  // namespace qor::cli
