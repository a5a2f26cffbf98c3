#include "cli/cli_desktop.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "app/date_time_dlg.h"
#include "app/http_password_dlg.h"
#include "app/mms_password_dlg.h"
#include "app/resume_dlg.h"

namespace qor::cli {

namespace {

bool ReadLine(std::string& line, bool echo) {
  termios saved{};
  const bool tty = ::isatty(STDIN_FILENO) != 0;
  if (tty && !echo && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool ok = static_cast<bool>(std::getline(std::cin, line));
  if (tty && !echo) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  return ok;
}

}  // namespace

const std::vector<std::string>* WritableSettings(bool savePassword) {
  static const std::vector<std::string> none;
  static const std::vector<std::string> credentials{"Authh", "AuthhSite", "Authm", "AuthmSite"};
  return savePassword ? &credentials : &none;
}

int32_t CliDesktop::MessageBox(const std::string& text, const std::string& /*caption*/,
                               TMsgDlgType /*type*/, uint32_t buttons) {
  std::cerr << "qor-cli: " << text << "\n";
  // Questions are answered no: nothing unattended may choose for the user.
  if (buttons & mbNo) return mrNo;
  if (buttons & mbCancel) return mrCancel;
  return mrOk;
}

std::optional<std::string> CliDesktop::OpenFileDialog(const TFileDialogRequest& /*request*/) {
  return std::nullopt;
}

std::optional<std::string> CliDesktop::SaveFileDialog(const TFileDialogRequest& request) {
  if (request.Title == "Save Log File") return LogFile;
  // The save file is answered once; asking again means the answer was refused.
  if (save_answered_) return std::nullopt;
  save_answered_ = true;
  if (SaveFile) last_save_ = *SaveFile;
  return SaveFile;
}

bool CliDesktop::PromptCredentials(const std::string& site, std::string& id,
                                   std::string& password) {
  if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDERR_FILENO) == 0) return false;
  std::cerr << "qor-cli: " << site << " asks for a user id and password\nUser id: ";
  if (!ReadLine(id, true)) return false;
  std::cerr << "Password: ";
  return ReadLine(password, false);
}

int32_t CliDesktop::ShowModal(TForm& form) {
  form.BeginModal();
  if (auto* resume = dynamic_cast<TResumeDlg*>(&form)) {
    switch (Resume) {
      case ResumeAnswer::Resume:
        resume->ResumeBtn.Click();
        break;
      case ResumeAnswer::Overwrite:
        resume->OverwriteBtn.Click();
        break;
      case ResumeAnswer::Refuse:
        ResumeRefused = true;
        RefusedFile = last_save_;
        resume->CancelBtn.Click();
        break;
    }
  } else if (auto* mms = dynamic_cast<TMmsPasswordDlg*>(&form)) {
    std::string id = mms->Id.Text, password = mms->Password.Text;
    bool answered = true;
    if (User) {
      id = *User;
      password = Password.value_or("");
    } else if (id.empty()) {
      answered = PromptCredentials(mms->Site.Caption, id, password);
    }
    if (answered) {
      mms->Id.Text = id;
      mms->Password.Text = password;
      mms->SavePassTick.Checked = SavePassword;
      mms->Button1.Click();
    } else {
      std::cerr << "qor-cli: the server asks for a password; give --user and --password\n";
      mms->Button2.Click();
    }
  } else if (auto* http = dynamic_cast<THttpPasswordDlg*>(&form)) {
    std::string id = http->UserIDWindow.Text, password = http->PasswordWindow.Text;
    bool answered = true;
    if (User) {
      id = *User;
      password = Password.value_or("");
    } else if (id.empty()) {
      answered = PromptCredentials("The web server", id, password);
    }
    if (answered) {
      http->UserIDWindow.Text = id;
      http->PasswordWindow.Text = password;
      http->SavePassTick.Checked = SavePassword;
      http->Button1.Click();
    } else {
      std::cerr << "qor-cli: the server asks for a password; give --user and --password\n";
      http->Button2.Click();
    }
  } else if (auto* vcr = dynamic_cast<TDateTimeDlg*>(&form)) {
    vcr->DateTimePicker1.DateTime = DateOf(VcrStart);
    vcr->DateTimePicker2.DateTime = TimeOf(VcrStart);
    vcr->DateTimePicker3.DateTime = DateOf(VcrEnd);
    vcr->DateTimePicker4.DateTime = TimeOf(VcrEnd);
    vcr->Button1.Click();
  }
  if (!form.ModalDone()) form.Close();
  return form.EndModal();
}

void CliDesktop::ShowModeless(TForm& /*form*/) {}

int32_t CliDesktop::OpenWithShell(const std::string& /*target*/) {
  // Nothing is handed to a desktop from the command line.
  return 0;
}

}  // namespace qor::cli
