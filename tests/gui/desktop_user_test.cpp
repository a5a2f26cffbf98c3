// What a desktop user meets first: the command line, the armed VCR, the keyboard, quitting.

#include <sys/wait.h>

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

#include "app/date_time_text.h"
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

}  // namespace
}  // namespace qor::gui
