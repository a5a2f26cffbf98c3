#pragma once
// TApplication: the window thread and the program's forms, created once in their fixed order
// (MainForm, AboutDialog, InfoDialog, OpenMediaDialog, HttpPasswordDlg, DateTimeDlg,
// OptionsDialog, ResumeDlg). Creating the options dialog loads the stored settings into it;
// from then on its controls are the live configuration of every download start.

#include <memory>
#include <string>

#include "app/about_dialog.h"
#include "app/date_time_dlg.h"
#include "app/desktop_services.h"
#include "app/http_password_dlg.h"
#include "app/location_loader.h"
#include "app/main_form.h"
#include "app/main_info_dialog.h"
#include "app/open_media_dialog.h"
#include "app/options_dialog.h"
#include "app/resume_dlg.h"
#include "platform/window_thread.h"

namespace qor {

class TApplication {
 public:
  // The calling thread becomes the window thread. clock: a ManualClock in tests.
  explicit TApplication(DesktopServices& desktop, Clock* clock = nullptr);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  void CreateForms();
  // Serves the window thread until the main window has closed or Quit was asked.
  void Run();

  std::string Title;
  WindowThread Window;
  std::unique_ptr<TMainForm> MainForm;
  std::unique_ptr<TAboutDialog> AboutDialog;
  std::unique_ptr<TInfoDialog> InfoDialog;
  std::unique_ptr<TOpenMediaDialog> OpenMediaDialog;
  std::unique_ptr<THttpPasswordDlg> HttpPasswordDlg;
  std::unique_ptr<TDateTimeDlg> DateTimeDlg;
  std::unique_ptr<TOptionsDialog> OptionsDialog;
  std::unique_ptr<TResumeDlg> ResumeDlg;
  // Opens locations for the main window (File -> Open); made once the forms exist.
  std::unique_ptr<TLocationLoader> LocationLoader;

 private:
  DesktopServices& desktop_;
};

}  // namespace qor
