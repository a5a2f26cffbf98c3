#include "gui/program.h"

#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#include "app/open_media_dialog.h"
#include "gui/qt_canvas.h"

// The built-in icons live in this static library: nothing else refers to them, so they are
// brought in by name.
static void LoadBuiltInIcons() {
  Q_INIT_RESOURCE(icons);
}

namespace qor::gui {

void InstallQtPictures() {
  SetPictureFactory([] { return std::make_unique<QtCanvas>(); });
}

QIcon ProgramIcon() {
  LoadBuiltInIcons();
  QIcon builtIn;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    builtIn.addFile(QString(":/qor/qor-%1.png").arg(size), QSize(size, size));
  return QIcon::fromTheme("org.qor.Qor", builtIn);
}

Program::Program() {
  InstallQtPictures();
  // Every window of the program (dialogs and message boxes too) shows it.
  QApplication::setWindowIcon(ProgramIcon());
  app_ = std::make_unique<TApplication>(desktop_);
  app_->CreateForms();
  desktop_.OnError = [this](std::exception_ptr error) {
    app_->MainForm->QorHandleException("Dialog", error);
  };
  driver_ = std::make_unique<WindowThreadDriver>(app_->Window);
  window_ = std::make_unique<MainWindow>(*app_, desktop_);
  driver_->OnServed = [this] {
    window_->Sync();
    desktop_.Served();
  };
}

std::string Program::LocationFromArgument(const std::string& argument) {
  const QString text = QString::fromStdString(argument);
  const QUrl url(text);
  if (url.isLocalFile()) return url.toLocalFile().toStdString();
  // A relative path means the folder qor was started in; the window thread's folder may differ.
  if (url.scheme().size() <= 1 && QFileInfo::exists(text))
    return QFileInfo(text).absoluteFilePath().toStdString();
  return argument;
}

void Program::OpenLocation(const std::string& location) {
  window_->Forward([this, location] {
    TOpenMediaDialog& dialog = *app_->OpenMediaDialog;
    dialog.FormShow();
    dialog.Combo1.Text = location;
    dialog.Button3Click();
    app_->MainForm->OpenLocation();
  });
}

Program::~Program() {
  if (!app_->MainForm->Closed()) window_->Forward([this] { app_->MainForm->Close(); });
  driver_->OnServed = nullptr;
  desktop_.CloseDialogs();
  window_.reset();
  desktop_.OnError = nullptr;
  // The driver reaches the window thread, so it goes first; waits after this serve the window
  // thread on their own.
  driver_.reset();
  app_.reset();
}

}  // namespace qor::gui
