// Pictures of every dialog of qor, for scripts/screenshots: each dialog is made over its real
// form by the binder the program registers, and every page of a dialog with tabs is saved, with
// the main window as the program shows it on this screen. Each must fit the screen's available
// area (what a user can reach): one that does not is named, and the run fails.
//
// Usage: qor_dialog_shots OUT SUFFIX MEDIA_FILE     (on a display, or QT_QPA_PLATFORM=offscreen)

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>

#include "app/about_dialog.h"
#include "app/date_time_dlg.h"
#include "app/http_password_dlg.h"
#include "app/main_form.h"
#include "app/main_info_dialog.h"
#include "app/mms_password_dlg.h"
#include "app/open_media_dialog.h"
#include "app/options_dialog.h"
#include "app/resume_dlg.h"
#include "gui/form_dialog.h"
#include "gui/program.h"
#include "platform/settings_store.h"
#include "support/helper.h"

namespace {

QString out_dir;
QString suffix;
int misfits = 0;

// Whether the window lies within the available area of its screen; says so when not.
void CheckFits(QWidget& window, const QString& name) {
  const QScreen* screen = window.screen();
  if (!screen) return;
  const QRect room = screen->availableGeometry();
  const QRect taken = window.frameGeometry();
  if (room.contains(taken)) return;
  ++misfits;
  std::fprintf(stderr, "qor_dialog_shots: %s (%dx%d at %d,%d) does not fit the screen (%dx%d)\n",
               qPrintable(name), taken.width(), taken.height(), taken.x(), taken.y(), room.width(),
               room.height());
}

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

void Save(QWidget& widget, const QString& name, const QString& kind = "dialog") {
  Settle();
  const QString path = out_dir + "/" + kind + "-" + name + "-" + suffix + ".png";
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "qor_dialog_shots: cannot write %s\n", qPrintable(path));
    std::exit(1);
  }
  std::printf("saved %s\n", qPrintable(path));
}

// Saves the dialog, or each of its pages.
void SaveDialog(QDialog& dialog, const QString& name) {
  // At the size the dialog takes for itself on this screen.
  dialog.show();
  Settle();
  CheckFits(dialog, name);
  auto* tabs = dialog.findChild<QTabWidget*>("Pages");
  if (!tabs) {
    Save(dialog, name);
    return;
  }
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    Save(dialog, name + "-" + QString::number(i + 1));
  }
}

void SaveForm(qor::TForm& form, const QString& name) {
  const qor::gui::FormBinder* binder = qor::gui::FindFormBinder(form);
  if (!binder) {
    std::fprintf(stderr, "qor_dialog_shots: no dialog for %s\n", form.Name.c_str());
    std::exit(1);
  }
  form.FormShow();
  qor::gui::FormDialog dialog(form, (*binder)(form), nullptr);
  SaveDialog(dialog, name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qor_dialog_shots OUT SUFFIX MEDIA_FILE\n");
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationDisplayName("Qor");
  out_dir = QString::fromLocal8Bit(argv[1]);
  suffix = QString::fromLocal8Bit(argv[2]);
  const std::string media = argv[3];
  QDir().mkpath(out_dir);

  QTemporaryDir config;
  qor::SettingsStore store(config.path().toStdString());
  qor::THelper::UseStore(&store);
  {
    qor::gui::Program program;
    program.Window().show();
    qor::TApplication& app = program.App();
    Settle();
    CheckFits(program.Window(), "the main window");
    Save(program.Window(), "main", "window");

    SaveForm(*app.OptionsDialog, "options");
    SaveForm(*app.OpenMediaDialog, "open");
    SaveForm(*app.AboutDialog, "about");
    qor::TResumeDlg resume;
    SaveForm(resume, "resume");
    qor::THttpPasswordDlg http;
    SaveForm(http, "http-password");
    qor::MmsCredentialsExchange exchange{"127.0.0.1", "realm=Qor test server", "",
                                         "127.0.0.1:1755"};
    qor::TMmsPasswordDlg mms(exchange);
    SaveForm(mms, "mms-password");
    qor::TDateTimeDlg vcr;
    vcr.Start = 46380.75;  // 24 December 2026, 18:00
    vcr.End = 46380.8125;
    SaveForm(vcr, "vcr");

    // Media information of a saved file, through the window's own command.
    program.Form().MediaWindow.Caption = media;
    program.Window().Forward([&program] { program.Form().ShowFileProperties1Click(); });
    QDialog* info = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == "qorForm_InfoDialog") info = qobject_cast<QDialog*>(top);
      if (!info) info = top->findChild<QDialog*>("qorForm_InfoDialog");
    }
    if (!info) {
      std::fprintf(stderr, "qor_dialog_shots: the information dialog did not open\n");
      return 1;
    }
    SaveDialog(*info, "info");
  }
  qor::THelper::UseStore(nullptr);
  return misfits == 0 ? 0 : 1;
}
