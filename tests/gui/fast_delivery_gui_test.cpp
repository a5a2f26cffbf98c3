// The window during a download that the server sends at five times the clip's rate: what it shows
// is the clip's own time, not the clock's.

#include <QImage>
#include <QPushButton>

#include <chrono>
#include <cstdlib>
#include <set>

#include "app/options_dialog.h"
#include "controls/gauge.h"
#include "gui/control_widgets.h"
#include "gui/main_window.h"
#include "gui_fixture.h"

namespace qor::gui {
namespace {

// "00 : 01 : 05" as seconds; -1 for anything else.
int ShownSeconds(const std::string& text) {
  int h = 0, m = 0, s = 0;
  return std::sscanf(text.c_str(), "%d : %d : %d", &h, &m, &s) == 3 ? h * 3600 + m * 60 + s : -1;
}

int YellowPixels(QWidget* widget) {
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < image.height() * 8 / 10; ++y) {
    for (int x = 0; x < image.width(); ++x) n += QColor(image.pixel(x, y)) == QColor(255, 255, 0);
  }
  return n;
}

TEST_F(GuiTest, AtFiveTimesItsRateTheStreamTimeGaugeAndGraphFollowTheClip) {
  // A clip long enough for the window's timers to watch it come in.
  const std::string clip = folder_.Path("long.wmv");
  ASSERT_EQ(std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                         "testsrc2=size=160x120:rate=15 -f lavfi -i sine=sample_rate=22050 -t 15 "
                         "-c:v wmv2 -c:a wmav2 -ac 1 -packetsize 3200 -f asf '" +
                         clip + "'")
                            .c_str()),
            0);
  StartServer({"--root", folder_.Path(), "--rate", "1", "--fast-cache", "5"});
  const std::string saved = folder_.Path("saved.asf");
  AnswerSaveDialogs({saved});
  Location(HttpUrl("long.wmv"), kProtoHttp);

  double ahead = -100;  // how far the shown stream time ran ahead of the clock
  std::set<int> gauge;
  int lastShown = -1;
  const auto start = std::chrono::steady_clock::now();
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] {
    const int shown = ShownSeconds(WidgetText("SendTime"));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (shown >= 0) {
      ahead = std::max(ahead, shown - wall);
      lastShown = shown;
    }
    gauge.insert(Form().ProgBar.Gauge.Progress());
    return Shown("- ** DOWNLOAD COMPLETED ** -");
  })) << Dump();
  EXPECT_TRUE(Shown("- The server grants the clip at 5.000 times its rate")) << Dump();
  // Two seconds in, a clip at five times its rate has ten seconds of itself on screen.
  EXPECT_GE(ahead, 4.0);
  // The stream time ends on the clip's own length.
  EXPECT_NEAR(lastShown, 15, 1.5);
  // The gauge counted packets on the way, not the clock.
  EXPECT_GE(std::count_if(gauge.begin(), gauge.end(), [](int p) { return p > 0 && p < 100; }), 3)
      << gauge.size();
  EXPECT_GE(Form().ProgBar.Gauge.Progress(), 90);
  // The rate graph drew what came in.
  EXPECT_GT(YellowPixels(Window().Graph()), 0);
  EXPECT_NEAR(ProbeDuration(saved), 15.0, 0.5);
}

}  // namespace
}  // namespace qor::gui
