// What a desktop user meets first: the command line, the armed VCR, the keyboard, quitting.

#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "app/date_time_text.h"
#include "common/foreign_library_suppressions.h"
#include "controls/gauge.h"
#include "gui_fixture.h"

namespace qor::gui {
namespace {

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int result = ::pclose(pipe);
  *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

// Pixels that read as red (text is drawn smoothed, so not exactly 255, 0, 0).
int RedPixels(QWidget* widget) {
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c(image.pixel(x, y));
      n += c.red() > 170 && c.green() < 90 && c.blue() < 90;
    }
  }
  return n;
}

TEST(QorProgram, AnUnknownOptionOrASecondLocationPrintsTheUsageAndFails) {
  TempFolder home;
  for (const char* arguments : {"--bogus", "-x", "mms://a/1 mms://a/2"}) {
    SCOPED_TRACE(arguments);
    int status = -1;
    // A window that opens anyway never ends by itself: the timeout tells.
    const std::string output =
        RunCommand("timeout 20 env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME='" + home.Path() +
                       "' " + QOR_PROGRAM + " " + arguments,
                   &status);
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("Usage: qor"), std::string::npos) << output;
  }
}

// The main window and every dialog (each page) within the screen, frame and all, on screens a
// laptop has: 1280x900 and 1920x1080 at 200 %, and 1024x600.
TEST(QorProgram, EveryWindowFitsSmallAndHighDpiScreens) {
  struct Screen {
    int width, height, scale;
  };
  for (const Screen screen : {Screen{1280, 900, 2}, Screen{1920, 1080, 2}, Screen{1024, 600, 1}}) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
    TempFolder folder;
    const std::string config = folder.Path("screen.json");
    std::ofstream(config) << "{\"windowFrameMargins\": true, \"screens\": [{\"name\": \"s\", "
                             "\"x\": 0, \"y\": 0, \"width\": "
                          << screen.width << ", \"height\": " << screen.height
                          << ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}";
    int status = -1;
    const std::string output = RunCommand(
        "timeout 120 env QT_QPA_PLATFORM=offscreen:configfile=" + config + " QT_SCALE_FACTOR=" +
            std::to_string(screen.scale) + " XDG_CONFIG_HOME='" + folder.Path("config") + "' '" +
            qor::testing::ForeignLibraryTsanOptions("qt_pool_threads.supp") + "' " +
            QOR_DIALOG_SHOTS + " '" + folder.Path() + "' fit '" + SampleMedia("clip.wmv") + "'",
        &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("dialog-info-6-fit.png"), std::string::npos) << output;
  }
}

TEST_F(GuiTest, TheArmedVcrShowsOnItsButtonItsMenuAndTheStatusLine) {
  auto* box = Window().findChild<QComboBox*>("URL");
  ASSERT_NE(box, nullptr);
  box->lineEdit()->setText("mms://127.0.0.1:1/live");
  const TDateTime now = LocalNow(program_->App().Window.GetClock());
  Form().vcrStart = now + 2.0 / 24;
  Form().vcrStop = now + 3.0 / 24;
  QPushButton* power = Button("VcrPower");
  auto* menu = Window().findChild<QAction*>("VCROn1");
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(RedPixels(power), 0);
  EXPECT_FALSE(menu->isChecked());

  power->click();
  ASSERT_TRUE(RunUntil([&] { return RedPixels(power) > 10; }, 5000));
  EXPECT_TRUE(menu->isCheckable());
  EXPECT_TRUE(menu->isChecked());
  auto* countdown = Window().findChild<QLabel*>("VcrCountdown");
  ASSERT_NE(countdown, nullptr);
  EXPECT_TRUE(countdown->isVisible());
  EXPECT_TRUE(countdown->text().contains("Recording starts in 1:59:") ||
              countdown->text().contains("Recording starts in 2:00:00"))
      << countdown->text().toStdString();

  // The menu entry disarms as the button does.
  menu->trigger();
  ASSERT_TRUE(RunUntil([&] { return RedPixels(power) == 0; }, 5000));
  EXPECT_FALSE(menu->isChecked());
  EXPECT_FALSE(countdown->isVisible());
  EXPECT_FALSE(Form().Timer4.Enabled());
}

TEST_F(GuiTest, MenusHaveTheDesktopsKeysAndNoMnemonicTwice) {
  for (QAction* entry : Window().menuBar()->actions()) {
    QMenu* menu = entry->menu();
    ASSERT_NE(menu, nullptr);
    std::set<QChar> letters;
    for (QAction* action : menu->actions()) {
      const qsizetype mark = action->text().indexOf('&');
      if (mark < 0 || mark + 1 >= action->text().size()) continue;
      EXPECT_TRUE(letters.insert(action->text().at(mark + 1).toLower()).second)
          << menu->title().toStdString() << ": " << action->text().toStdString();
    }
  }
  const std::pair<const char*, QKeySequence::StandardKey> keys[] = {
      {"Open1", QKeySequence::Open},
      {"SaveLog1", QKeySequence::Save},
      {"Print1", QKeySequence::Print},
      {"Exit1", QKeySequence::Quit},
      {"VisitQorWebSite1", QKeySequence::HelpContents}};
  for (const auto& [name, key] : keys) {
    auto* action = Window().findChild<QAction*>(name);
    ASSERT_NE(action, nullptr) << name;
    EXPECT_EQ(action->shortcut(), QKeySequence(key)) << name;
  }
}

// On a dark desktop nothing is drawn black on the dark ground: the window's plain text is the
// palette's, the log's colours are lightened, the gauge's ground is dark.
TEST_F(GuiTest, OnADarkPaletteEveryColourReads) {
  const QPalette saved = QApplication::palette();
  QPalette dark = saved;
  for (const auto role : {QPalette::Window, QPalette::Button})
    dark.setColor(role, QColor(49, 54, 59));
  dark.setColor(QPalette::Base, QColor(35, 38, 41));
  for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
    dark.setColor(role, QColor(239, 240, 241));
  QApplication::setPalette(dark);
  for (const uint32_t code : {mcNotice, mcNormal, mcWarning, mcMedia}) {
    Form().Messages.Post("line of code " + std::to_string(code), code);
  }
  ASSERT_TRUE(RunUntil([&] { return Shown("line of code 16"); }, 5000));
  for (const ShownLine& line : ShownLog()) {
    EXPECT_GE(line.color.lightness(), 150) << line.text.toStdString();
  }
  EXPECT_FALSE(Window().findChild<QLabel*>("Standby")->styleSheet().contains("#000000"));
  // A prompt in an empty box stays visible on the dark base.
  const QPalette now = QApplication::palette();
  EXPECT_GE(std::abs(now.color(QPalette::PlaceholderText).lightness() -
                     now.color(QPalette::Base).lightness()),
            70);
  EXPECT_LT(QColor(Form().ProgBar.Gauge.BackColor().Red, Form().ProgBar.Gauge.BackColor().Green,
                   Form().ProgBar.Gauge.BackColor().Blue)
                .lightness(),
            80);
  QApplication::setPalette(saved);
}

}  // namespace
}  // namespace qor::gui
