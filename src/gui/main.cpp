// qor: the desktop program.

#include <QApplication>
#include <QByteArray>
#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui/program.h"
#include "support/helper.h"

namespace {

constexpr const char* kNoDisplay =
    "qor: no display to show the window on.\n"
    "Start qor from a graphical desktop session (DISPLAY or WAYLAND_DISPLAY set), or record\n"
    "without a window with qor-cli (qor-cli --help).\n";

constexpr const char* kUsage =
    "Usage: qor [LOCATION]\n"
    "\n"
    "Records Windows Media streams into .asf files, in a window. LOCATION (a stream's address,\n"
    "a play list or a saved file, as a path or a file:// URL) is opened as File -> Open does.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Without a display: qor-cli (qor-cli --help) records from the command line.\n";

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// What Qt said while starting; shown only when the start fails.
QByteArray& StartMessages() {
  static QByteArray messages;
  return messages;
}

// Qt ends the program with an abort when no platform plugin can start (a DISPLAY that cannot be
// reached); that becomes the same plain message and exit status as no display at all, with the
// first thing Qt said about it.
void ReportStart(QtMsgType type, const QMessageLogContext& /*context*/, const QString& message) {
  const QByteArray text = message.toLocal8Bit();
  if (type != QtFatalMsg) {
    if (StartMessages().isEmpty()) StartMessages() = text;
    return;
  }
  if (text.contains("platform plugin")) {
    std::fputs(kNoDisplay, stderr);
    if (!StartMessages().isEmpty()) std::fprintf(stderr, "(%s)\n", StartMessages().constData());
    std::_Exit(2);
  }
  std::fprintf(stderr, "qor: %s\n", text.constData());
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before any display is needed: a package check or a script runs these anywhere.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("qor %s\n", qor::kVersionText);
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Without any display there is nothing to try; a chosen platform (offscreen, for example)
  // needs none.
  if (!EnvSet("QT_QPA_PLATFORM") && !EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY")) {
    std::fputs(kNoDisplay, stderr);
    return 2;
  }
  qInstallMessageHandler(ReportStart);
  QApplication application(argc, argv);
  QApplication::setApplicationName("qor");
  QApplication::setApplicationDisplayName("Qor");
  // The desktop entry's name, so a Wayland compositor shows the entry's icon for the window.
  QGuiApplication::setDesktopFileName("org.qor.Qor");
  QApplication::setWindowIcon(QIcon::fromTheme("org.qor.Qor"));
  qInstallMessageHandler(nullptr);

  int status = 0;
  {
    qor::gui::Program program;
    QObject::connect(&program.Window(), &qor::gui::MainWindow::closed, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    program.Window().show();
    // qor LOCATION (what a desktop runs for a play list or an mms:// link) opens it once the
    // window is up.
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) {
      const std::string location =
          qor::gui::Program::LocationFromArgument(arguments.at(1).toStdString());
      QTimer::singleShot(0, &program.Window(),
                         [&program, location] { program.OpenLocation(location); });
    }
    status = QApplication::exec();
  }
  return status;
}
