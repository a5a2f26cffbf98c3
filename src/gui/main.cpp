// qor: the desktop program.

#include <QApplication>
#include <QByteArray>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_constants.h"
#include "gui/program.h"
#include "support/helper.h"

namespace {

constexpr const char* kNoDisplay =
    "qor: no display to show the window on.\n"
    "Start qor from a graphical desktop session (DISPLAY or WAYLAND_DISPLAY set), or record\n"
    "without a window with qor-cli (qor-cli --help).\n";

constexpr const char* kUsage =
    "Usage: qor [OPTION] [LOCATION]\n"
    "\n"
    "Records Windows Media streams into .asf files, in a window. LOCATION (a stream's address,\n"
    "a play list or a saved file, as a path or a file:// URL) is opened as File -> Open does.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Qt's own options (-style, -platform, -reverse, ...) are taken as well.\n"
    "Without a display: qor-cli (qor-cli --help) records from the command line.\n";

// Qt's own command-line options, which QApplication takes out of the arguments itself; the first
// group is followed by a value (unless given as -name=value).
constexpr const char* kQtOptionsWithValue[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "qmljsdebugger"};
constexpr const char* kQtSwitches[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct Arguments {
  enum class Action { Run, Help, Version, Wrong } action = Action::Run;
  std::string location;
  std::string problem;
};

Arguments ReadArguments(int argc, char** argv) {
  Arguments result;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if (options && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--help" || arg == "-h") return {Arguments::Action::Help, "", ""};
      if (arg == "--version") return {Arguments::Action::Version, "", ""};
      std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
      const size_t equals = name.find('=');
      const bool inlineValue = equals != std::string::npos;
      if (inlineValue) name.erase(equals);
      bool known = false;
      for (const char* option : kQtOptionsWithValue) {
        if (name == option) {
          known = true;
          if (!inlineValue) ++i;  // its value
        }
      }
      for (const char* option : kQtSwitches) known = known || name == option;
      if (!known) {
        result.action = Arguments::Action::Wrong;
        result.problem = "unknown option '" + arg + "'";
        return result;
      }
      continue;
    }
    if (!result.location.empty()) {
      result.action = Arguments::Action::Wrong;
      result.problem = "one location at a time ('" + result.location + "', then '" + arg + "')";
      return result;
    }
    result.location = arg;
  }
  return result;
}

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
  const Arguments arguments = ReadArguments(argc, argv);
  switch (arguments.action) {
    case Arguments::Action::Version:
      std::printf("qor %s\n", qor::kVersionText);
      return 0;
    case Arguments::Action::Help:
      std::fputs(kUsage, stdout);
      std::printf("\nThe help pages: %s\n", qor::DocumentationFile(qor::kWebSitePage).c_str());
      return 0;
    case Arguments::Action::Wrong:
      std::fprintf(stderr, "qor: %s\n\n%s", arguments.problem.c_str(), kUsage);
      return 2;
    case Arguments::Action::Run:
      break;
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
  qInstallMessageHandler(nullptr);

  int status = 0;
  {
    qor::gui::Program program;
    QObject::connect(&program.Window(), &qor::gui::MainWindow::closed, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    program.Window().show();
    // qor LOCATION (what a desktop runs for a play list or an mms:// link) opens it once the
    // window is up.
    if (!arguments.location.empty()) {
      const std::string location = qor::gui::Program::LocationFromArgument(arguments.location);
      QTimer::singleShot(0, &program.Window(),
                         [&program, location] { program.OpenLocation(location); });
    }
    status = QApplication::exec();
  }
  return status;
}
