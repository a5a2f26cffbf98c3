// qor's place on the desktop: the installed entry and metainfo validate, and the entry's Exec
// line, run the way a desktop runs it, opens a play list file and an mms:// link.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/temp_folder.h"

namespace qor::gui {
namespace {

std::string Output(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int result = ::pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  return ::access(path.c_str(), R_OK) == 0;
}

class DesktopEntry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new TempFolder();
    int status = -1;
    install_log_ = new std::string(
        Output("cmake --install '" QOR_BUILD_DIR "' --prefix '" + prefix_->Path() + "'", &status));
    install_status_ = status;
  }
  static void TearDownTestSuite() {
    delete prefix_;
    delete install_log_;
  }
  std::string Installed(const std::string& relative) const {
    return prefix_->Path() + "/" + relative;
  }

  // The Exec line of the installed entry with %u replaced, as a desktop starts it.
  std::string ExecLine(const std::string& location) const {
    std::istringstream entry(ReadFile(Installed("share/applications/org.qor.Qor.desktop")));
    std::string line;
    std::string exec;
    while (std::getline(entry, line)) {
      if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
    }
    const auto at = exec.find("%u");
    if (at != std::string::npos) exec.replace(at, 2, "'" + location + "'");
    return exec;
  }

  // Runs the entry for this location with its own settings folder; true once qor has taken the
  // location into its Open history (what the Open dialog's OK does).
  bool OpensLocation(const std::string& argument, const std::string& expected) {
    const std::string config = folder_.Path("config");
    const std::string command = "exec " + ExecLine(argument);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string path = prefix_->Path() + "/bin:" + std::getenv("PATH");
      ::setenv("PATH", path.c_str(), 1);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid < 0) return false;
    bool opened = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!opened && std::chrono::steady_clock::now() < deadline) {
      opened = ReadFile(config + "/qor/settings.conf").find(expected) != std::string::npos;
      int status = 0;
      if (!opened && ::waitpid(pid, &status, WNOHANG) == pid) return false;  // qor ended early
      if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return opened;
  }

  TempFolder folder_;
  static TempFolder* prefix_;
  static std::string* install_log_;
  static int install_status_;
};

TempFolder* DesktopEntry::prefix_ = nullptr;
std::string* DesktopEntry::install_log_ = nullptr;
int DesktopEntry::install_status_ = -1;

TEST_F(DesktopEntry, InstallsAValidEntryMetainfoIconsAndDocuments) {
  ASSERT_EQ(install_status_, 0) << *install_log_;
  for (const char* file :
       {"bin/qor", "share/applications/org.qor.Qor.desktop",
        "share/metainfo/org.qor.Qor.metainfo.xml", "share/icons/hicolor/48x48/apps/org.qor.Qor.png",
        "share/icons/hicolor/256x256/apps/org.qor.Qor.png",
        "share/icons/hicolor/scalable/apps/org.qor.Qor.svg", "share/doc/qor/README.md",
        "share/doc/qor/index.html"}) {
    EXPECT_TRUE(Exists(Installed(file))) << file;
  }
  int status = -1;
  const std::string desktop =
      Output("desktop-file-validate '" + Installed("share/applications/org.qor.Qor.desktop") + "'",
             &status);
  EXPECT_EQ(status, 0) << desktop;
  const std::string entry = ReadFile(Installed("share/applications/org.qor.Qor.desktop"));
  for (const char* type :
       {"audio/x-ms-asx", "x-scheme-handler/mms;", "x-scheme-handler/mmsh;",
        "x-scheme-handler/mmst;", "x-scheme-handler/mmsu;", "x-scheme-handler/rtsp;",
        "x-scheme-handler/rtspu;", "x-scheme-handler/rtspt;"}) {
    EXPECT_NE(entry.find(type), std::string::npos) << type;
  }
  const std::string metainfo =
      Output("appstreamcli validate --no-net '" +
                 Installed("share/metainfo/org.qor.Qor.metainfo.xml") + "'",
             &status);
  EXPECT_EQ(status, 0) << metainfo;
}

// Each program answers --version from where it was installed (qor without a display), and its
// manual page is installed and formats without a warning from groff or man.
TEST_F(DesktopEntry, InstallsManualsCompletionAndVersionedPrograms) {
  ASSERT_EQ(install_status_, 0) << *install_log_;
  for (const char* program : {"qor", "qor-cli", "qor-server"}) {
    SCOPED_TRACE(program);
    int status = -1;
    const std::string version = Output("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                                           Installed("bin/") + program + "' --version",
                                       &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(version, std::string(program) + " 2.3.0\n");
    const std::string page = Installed("share/man/man1/") + program + ".1.gz";
    ASSERT_TRUE(Exists(page));
    const std::string formatted =
        Output("MANWIDTH=80 man --warnings -l '" + page + "' 2>&1 >/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(formatted, "") << "warnings formatting " << page;
  }
  // The installed program finds its help pages beside it, wherever the prefix is.
  int status = -1;
  const std::string help =
      Output("env -u QOR_DOC_DIR '" + Installed("bin/qor") + "' --help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(help.find("The help pages: " + Installed("bin/../share/doc/qor/index.html")),
            std::string::npos)
      << help;
  EXPECT_TRUE(Exists(Installed("share/bash-completion/completions/qor-cli")));
  EXPECT_TRUE(Exists(Installed("share/zsh/vendor-completions/_qor-cli")));
  EXPECT_TRUE(Exists(Installed("share/doc/qor/copyright")));
}

TEST_F(DesktopEntry, ExecLineOpensAPlayListFileAndAnMmsLink) {
  ASSERT_EQ(install_status_, 0) << *install_log_;
  const std::string list = folder_.Path("radio.asx");
  {
    std::ofstream out(list);
    out << "<ASX version=\"3.0\"><Entry><Ref href=\"mms://127.0.0.1:1/a.wmv\"/></Entry></ASX>\n";
  }
  // A file manager hands a file over as a file:// URL.
  EXPECT_TRUE(OpensLocation("file://" + list, list));
  EXPECT_TRUE(OpensLocation("mms://127.0.0.1:1/live", "mms://127.0.0.1:1/live"));
}

}  // namespace
}  // namespace qor::gui
