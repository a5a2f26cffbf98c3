#pragma once
// The whole desktop program in one object: the Qt desktop, the application's forms in their
// order, Qt's event loop driving the window thread, and the main window. main() makes one; the
// GUI tests make one per test on the offscreen platform.

#include <QIcon>

#include <memory>

#include "app/application.h"
#include "gui/main_window.h"
#include "gui/qt_desktop.h"
#include "gui/window_thread_driver.h"

namespace qor::gui {

class Program {
 public:
  // Needs a QApplication. Creates the forms (which restore the stored settings) and the window;
  // show() is left to the caller.
  Program();
  // Closes the main window if it is still open (finishing a download), then takes it all down.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  TApplication& App() { return *app_; }
  // Opens a location named on the command line (a path, a file:// URL or a stream's address) the
  // way the Open dialog's OK does: into the location history, then opened.
  void OpenLocation(const std::string& location);
  // What a desktop hands over (%u: a URL, file:// for files) as the location the Open dialog
  // takes: a local path for a file, anything else unchanged.
  static std::string LocationFromArgument(const std::string& argument);
  TMainForm& Form() { return *app_->MainForm; }
  MainWindow& Window() { return *window_; }
  WindowThreadDriver& Driver() { return *driver_; }
  QtDesktop& Desktop() { return desktop_; }

 private:
  QtDesktop desktop_;
  std::unique_ptr<TApplication> app_;
  std::unique_ptr<WindowThreadDriver> driver_;
  std::unique_ptr<MainWindow> window_;
};

// Installs the Qt picture for controls made from now on (real fonts for the gauge's text).
void InstallQtPictures();

// The program's icon: the installed theme's, else the one built in.
QIcon ProgramIcon();

}  // namespace qor::gui
