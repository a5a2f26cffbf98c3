#pragma once
// The whole desktop program on Qt's offscreen platform: real widgets, Qt's event loop driving the
// window thread in real time, the real qor-server on loopback. Tests press the widgets and answer
// the real dialogs; they read what the widgets show.

#include <gtest/gtest.h>

#include <QColor>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/server_process.h"
#include "gui/program.h"
#include "platform/settings_store.h"
#include "platform/temp_folder.h"

class QPushButton;
class QTimer;

namespace qor::gui {

std::string SampleMedia(const std::string& name);
// ffprobe's duration in seconds; -1 when ffprobe cannot read the file.
double ProbeDuration(const std::string& path);

struct ShownLine {
  QString text;
  QColor color;
};

class GuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  void StartServer(const std::vector<std::string>& extra = {});
  std::string HttpUrl(const std::string& name) const;
  std::string MmsUrl(const std::string& name) const;

  TMainForm& Form() { return program_->Form(); }
  MainWindow& Window() { return program_->Window(); }
  QPushButton* Button(const char* name);
  // Types the location into the URL box and picks the transport (0 HTTP, 1 TCP, 2 UDP).
  void Location(const std::string& url, int protocol);
  // Runs Qt's event loop until pred holds; false after timeoutMs.
  bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 60000);
  // Answers every save dialog that opens with the next of these paths.
  void AnswerSaveDialogs(std::vector<std::string> paths);
  // The log as the widget shows it.
  std::vector<ShownLine> ShownLog() const;
  bool Shown(const QString& text) const;
  // The shown log as one text, for failure messages.
  std::string Dump() const;
  QColor ShownColor(const QString& text) const;
  std::string WidgetText(const char* name);

  TempFolder folder_;
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<testing::ServerProcess> server_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<QTimer> answerer_;
  std::vector<std::string> save_answers_;
  int saves_answered_ = 0;
};

}  // namespace qor::gui
