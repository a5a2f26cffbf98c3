// The log: saving it as text, printing it, and the help entries of the menu.

#include <unistd.h>

#include <cstdio>

#include "app/about_dialog.h"
#include "app/app_constants.h"
#include "app/date_time_text.h"
#include "app/main_form.h"
#include "app/open_media_dialog.h"
#include "app/options_dialog.h"
#include "app/print_layout.h"

namespace qor {

// A log that could not be saved is the log's business: as warnings, these lines never end the
// download that is being recorded meanwhile.
void TMainForm::SaveLog1Click() {
  desktop_.Repaint();
  if (SaveLogFile()) {
    Messages.Post("Log file was saved", mcNotice);
  } else {
    Messages.Post("Log file saving cancelled", mcWarning);
  }
}

void TMainForm::ClearLog1Click() {
  desktop_.Repaint();
  LogWindow.Clear();
}

void TMainForm::SeparateLog() {
  if (log_separated_) return;
  log_separated_ = true;
  // Through the queue, so it comes after the lines the previous download still has waiting.
  const TCivilDateTime now = DecodeDateTime(LocalNow(window_.GetClock()));
  char text[64];
  std::snprintf(text, sizeof text, "---------------- %02d:%02d:%02d ----------------", now.Hour,
                now.Minute, now.Second);
  Messages.Post(text, kLogSeparator);
}

void TMainForm::AppendSeparator(const std::string& text) {
  // Nothing to separate from, or a separator already ends the log (a Go that was cancelled).
  static const std::string kMark = "----------------";
  if (LogWindow.Count() == 0 || LogWindow.Lines().back().Text.rfind(kMark, 0) == 0) return;
  LogWindow.CurrentColor = clGray;
  LogWindow.Append(text);
}

bool TMainForm::SaveLogFile() {
  TFileDialogRequest request;
  request.InitialDir = Helper.ReadSetting(kSettingsKeyPath, "LogDir");
  request.DefaultExt = "txt";
  request.Title = "Save Log File";
  request.Filter = kSaveFilter;
  request.FilterIndex = 3;
  const std::string source = !SaveWindow.Caption.empty() ? SaveWindow.Caption : MediaWindow.Caption;
  request.FileName = source.empty() ? std::string("default_qor_log")
                                    : THelper::StripExtension(THelper::FileNameOf(source));
  request.FileName += ".txt";
  request.OverwritePrompt = true;
  const std::optional<std::string> chosen = desktop_.SaveFileDialog(request);
  if (!chosen) return false;
  Helper.WriteSetting(kSettingsKeyPath, "LogDir", DirectoryOf(*chosen));
  const std::string text = LogWindow.Text();
  if (text.empty()) {
    Messages.Post("No log data to save !", mcWarning);
    return false;
  }
  FileHandle file;
  if (!file.Open(*chosen, FileHandle::Mode::CreateTruncate)) {
    Messages.Post("Error creating the log file", mcWarning);
    return false;
  }
  const bool written = file.Write(text.data(), text.size());
  const bool closed = file.Close();
  if (!written || !closed) {
    Messages.Post("There was an error saving the log file", mcWarning);
    return false;
  }
  return true;
}

void TMainForm::Print1Click() {
  desktop_.Repaint();
  std::vector<std::string> lines;
  lines.reserve(LogWindow.Lines().size());
  for (const TLogLine& line : LogWindow.Lines()) lines.push_back(line.Text);
  PrintLog(desktop_, lines);
}

void TMainForm::PrintSetup1Click() {
  desktop_.PrinterSetupDialog();
}

void TMainForm::ReadMe1Click() {
  desktop_.Repaint();
  const std::string readme = ReadmePath();
  if (::access(readme.c_str(), R_OK) == 0 && desktop_.OpenWithShell(readme) > 32) return;
  desktop_.MessageBox(
      "The following file failed to open:  " + readme + "\n\nFile is missing or failed to open",
      kProductName, TMsgDlgType::Warning, mbOK);
}

void TMainForm::OpenHelpPage(const std::string& address) {
  // The pages are files installed with the program: one that is missing is said plainly, not
  // handed to a browser that would show its own error.
  const std::string path = address.substr(std::string("file://").size());
  if (::access(path.c_str(), R_OK) != 0) {
    desktop_.MessageBox("The help page is missing:  " + path +
                            "\n\nIt is installed with Qor, in share/doc/qor beside the folder of "
                            "the program.",
                        kProductName, TMsgDlgType::Warning, mbOK);
    return;
  }
  OpenWithShell(address);
}

void TMainForm::VisitQorWebSite1Click() {
  desktop_.Repaint();
  OpenHelpPage(WebSiteAddress());
}

void TMainForm::QorMediatestSite1Click() {
  desktop_.Repaint();
  OpenHelpPage(MediaTestSiteAddress());
}

}  // namespace qor

namespace qor {

// Both stay beside the main window, which goes on working while they show.
void TMainForm::ViewSetupClick() {
  desktop_.Repaint();
  if (peers_.OptionsDialog) desktop_.ShowModeless(*peers_.OptionsDialog);
}

void TMainForm::About1Click() {
  desktop_.Repaint();
  if (peers_.AboutDialog) desktop_.ShowModeless(*peers_.AboutDialog);
}

}  // namespace qor
