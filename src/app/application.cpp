#include "app/application.h"

#include "app/app_constants.h"

namespace qor {

TApplication::TApplication(DesktopServices& desktop, Clock* clock)
    : Title(kProductName), Window(clock), desktop_(desktop) {}

TApplication::~TApplication() {
  // It hooks into the main window, so it goes before it.
  LocationLoader.reset();
  // The main window first: it stops its session, whose wait may still reach the others.
  MainForm.reset();
  ResumeDlg.reset();
  OptionsDialog.reset();
  DateTimeDlg.reset();
  HttpPasswordDlg.reset();
  OpenMediaDialog.reset();
  InfoDialog.reset();
  AboutDialog.reset();
}

void TApplication::CreateForms() {
  MainForm = std::make_unique<TMainForm>(desktop_, Window);
  MainForm->FormCreate();
  MainForm->Visible = true;
  AboutDialog = std::make_unique<TAboutDialog>();
  InfoDialog = std::make_unique<TInfoDialog>();
  OpenMediaDialog = std::make_unique<TOpenMediaDialog>(desktop_, MainForm->MediaWindow,
                                                       MainForm->SaveWindow, MainForm->URL);
  TMainForm* main = MainForm.get();
  HttpPasswordDlg = std::make_unique<THttpPasswordDlg>(
      [main](const std::string& id, const std::string& password) {
        main->HTTPSocket.SetCredentials(id, password);
      });
  DateTimeDlg = std::make_unique<TDateTimeDlg>();
  OptionsDialog = std::make_unique<TOptionsDialog>(desktop_);
  ResumeDlg = std::make_unique<TResumeDlg>();
  MainForm->Attach({AboutDialog.get(), InfoDialog.get(), OpenMediaDialog.get(),
                    HttpPasswordDlg.get(), DateTimeDlg.get(), OptionsDialog.get(),
                    ResumeDlg.get()});
  LocationLoader = std::make_unique<TLocationLoader>(
      *MainForm,
      TLocationLoader::Dialogs{OpenMediaDialog.get(), OptionsDialog.get(), HttpPasswordDlg.get()});
}

void TApplication::Run() {
  Window.ProcessUntil([this] { return !MainForm || MainForm->Closed() || Window.QuitRequested(); });
}

}  // namespace qor
