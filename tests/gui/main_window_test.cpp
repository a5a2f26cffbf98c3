// The desktop program end to end: the real widgets pressed on the offscreen platform, recording
// from qor-server; what is checked is what the widgets show and the files ffprobe reads.

#include <sys/wait.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <set>

#include "app/mms_password_dlg.h"
#include "app/options_dialog.h"
#include "controls/gauge.h"
#include "gui/control_widgets.h"
#include "gui/form_dialog.h"
#include "gui_fixture.h"

namespace qor::gui {
namespace {

const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);

// How many pixels of the widget's picture have exactly this colour, in its upper part when
// upperShare is below 1.
int CountPixels(QWidget* widget, const QColor& color, double upperShare = 1.0) {
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < static_cast<int>(image.height() * upperShare); ++y) {
    for (int x = 0; x < image.width(); ++x) n += QColor(image.pixel(x, y)) == color;
  }
  return n;
}

struct Transport {
  int protocol;
  const char* shown;      // what the protocol display shows while it runs
  const char* receiving;  // the log line of the streams starting
  bool mms;
};

void PrintTo(const Transport& t, std::ostream* os) {
  *os << t.shown;
}

class GoRecords : public GuiTest, public ::testing::WithParamInterface<Transport> {};

TEST_P(GoRecords, AClipOverThisTransportIntoTheChosenFile) {
  const Transport t = GetParam();
  // Paced, so the display is seen while the download runs.
  StartServer({"--rate", "4"});
  const std::string saved = folder_.Path("clip.asf");
  AnswerSaveDialogs({saved});
  Location(t.mms ? MmsUrl("clip.wmv") : HttpUrl("clip.wmv"), t.protocol);

  std::set<std::string> protocolShown, sendTimes;
  bool abortEnabled = false, goDisabled = false;
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] {
    protocolShown.insert(WidgetText("ProtoDisp"));
    sendTimes.insert(WidgetText("SendTime"));
    abortEnabled = abortEnabled || Button("Abort")->isEnabled();
    goDisabled = goDisabled || !Button("Connect")->isEnabled();
    return Shown("- ** DOWNLOAD COMPLETED ** -");
  })) << Dump();
  ASSERT_TRUE(RunUntil([&] { return Button("Connect")->isEnabled(); }));

  EXPECT_EQ(saves_answered_, 1);
  EXPECT_TRUE(protocolShown.count(t.shown)) << "the protocol display never showed " << t.shown;
  EXPECT_GE(sendTimes.size(), 2u) << "the stream time never moved";
  EXPECT_TRUE(abortEnabled && goDisabled) << "the running state never showed on the buttons";
  EXPECT_FALSE(Button("Abort")->isEnabled());
  EXPECT_EQ(WidgetText("ProtoDisp"), "");
  EXPECT_NE(WidgetText("TimeTotal"), "");
  EXPECT_NE(WidgetText("TimeTotal"), "00 : 00 : 00");

  // Each line in its code's colour: the window's own lines black, notices blue.
  const std::vector<ShownLine> log = ShownLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[1].text.toStdString(), "> SAVE :\t" + saved);
  EXPECT_EQ(log[1].color, kBlack);
  EXPECT_EQ(ShownColor(t.receiving), kBlue);
  EXPECT_EQ(ShownColor("- ** DOWNLOAD COMPLETED ** -"), kBlue);
  EXPECT_EQ(ShownColor("- ASF index seeking object written"), kBlue);
  EXPECT_EQ(log.size(), Form().LogWindow.Lines().size());

  // The gauge painted its red bar through the canvas; the standby label is back.
  EXPECT_GE(Form().ProgBar.Gauge.Progress(), 90);
  EXPECT_GT(CountPixels(Window().Gauge(), QColor(255, 0, 0)), 393 * 17 / 2);
  EXPECT_TRUE(Window().findChild<QWidget*>("Standby")->isVisible());
  EXPECT_FALSE(Window().findChild<QWidget*>("Live")->isVisible());

  EXPECT_NEAR(ProbeDuration(saved), ProbeDuration(SampleMedia("clip.wmv")), 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Transports, GoRecords,
    ::testing::Values(
        Transport{kProtoHttp, "HTTP", "- Receiving HTTP protocol streams -", false},
        Transport{kProtoTcp, "TCP", "- Receiving MMS via TCP protocol streams -", true},
        Transport{kProtoUdp, "UDP", "- Receiving MMS via UDP protocol streams -", true}),
    [](const ::testing::TestParamInfo<Transport>& p) { return std::string(p.param.shown); });

TEST_F(GuiTest, AbortOnALiveStreamLeavesAFinishedFileAndTheGraphMoves) {
  StartServer({"--live", "show=" + SampleMedia("clip.wmv")});
  const std::string saved = folder_.Path("live.asf");
  AnswerSaveDialogs({saved});
  Location(HttpUrl("show"), kProtoHttp);
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] { return Window().findChild<QWidget*>("Live")->isVisible(); }));
  // The rate graph draws the mean receive size in yellow: while data arrives it rises well above
  // the idle line at the bottom.
  ASSERT_TRUE(
      RunUntil([&] { return CountPixels(Window().Graph(), QColor(255, 255, 0), 0.8) > 0; }, 30000));
  ASSERT_TRUE(RunUntil([&] { return Form().Session->Status().PacketNumber >= 5; }));
  Button("Abort")->click();
  ASSERT_TRUE(RunUntil([&] { return Button("Connect")->isEnabled(); }));
  EXPECT_TRUE(Shown("- ASF index seeking object written"));
  EXPECT_FALSE(Button("Abort")->isEnabled());
  EXPECT_GT(ProbeDuration(saved), 0.3);
}

TEST_F(GuiTest, BatchRecordsEveryEntryOfAPlayListOpenedThroughTheOpenDialog) {
  StartServer({"--rate", "0"});
  const std::string list = folder_.Path("list.asx");
  std::ofstream(list) << "<ASX version=\"3.0\">\n<Entry><Ref href=\"" << HttpUrl("clip.wmv")
                      << "\"/></Entry>\n<Entry><Ref href=\"" << HttpUrl("audio.wma")
                      << "\"/></Entry>\n</ASX>\n";
  program_->App().OptionsDialog->ProtoGroup.ItemIndex = kProtoHttp;
  // The open dialog is a real modal dialog; type the play list and press its Ok.
  QTimer answer;
  bool answered = false;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<FormDialog*>(QApplication::activeModalWidget());
    if (!dialog || answered) return;
    auto* combo = dialog->findChild<QComboBox*>();
    combo->lineEdit()->setText(QString::fromStdString(list));
    for (auto* button : dialog->findChildren<QPushButton*>()) {
      if (button->text() == "&Ok") {
        answered = true;
        button->click();
      }
    }
  });
  answer.start(20);
  Button("Open")->click();
  ASSERT_TRUE(answered);
  ASSERT_TRUE(RunUntil([&] { return Form().urlCount == 2; }));
  Button("ConnectBatch")->click();
  ASSERT_TRUE(RunUntil([&] { return !Form().batchActive && Button("Connect")->isEnabled(); }));
  EXPECT_NEAR(ProbeDuration(folder_.Path("_1_clip.wmv")), ProbeDuration(SampleMedia("clip.wmv")),
              0.5);
  EXPECT_NEAR(ProbeDuration(folder_.Path("_1_audio.wma")), ProbeDuration(SampleMedia("audio.wma")),
              0.5);
  EXPECT_EQ(saves_answered_, 0);
}

TEST_F(GuiTest, ANewTrackOnALivePlayListStartsASecondFile) {
  StartServer({"--live", "show=" + SampleMedia("clip.wmv") + "," + SampleMedia("audio.wma"),
               "--rate", "8"});
  const std::string first = folder_.Path("first.asf");
  AnswerSaveDialogs({first});
  Location(HttpUrl("show"), kProtoHttp);
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] { return Shown("Media changing.. new track detected"); }));
  const std::string second = folder_.Path("_1_show_live.asf");
  ASSERT_TRUE(RunUntil([&] {
    return Window().findChild<QWidget*>("SaveWindow")->property("text").toString().toStdString() ==
           second;
  }));
  ASSERT_TRUE(RunUntil([&] { return Form().Session->Status().PacketNumber >= 5; }));
  Button("Abort")->click();
  ASSERT_TRUE(RunUntil([&] { return Button("Connect")->isEnabled(); }));
  // How much of the first entry is left when the recording joins depends on how soon it starts
  // (the live clock runs from the server's start): the file must play, whatever its length.
  EXPECT_GT(ProbeDuration(first), 0.0);
  EXPECT_GT(ProbeDuration(second), 0.1);
  EXPECT_EQ(saves_answered_, 1);
}

TEST_F(GuiTest, TheCloseBoxDuringARecordingFinishesTheFileAndStoresTheWindow) {
  StartServer({"--live", "show=" + SampleMedia("clip.wmv")});
  const std::string saved = folder_.Path("closed.asf");
  AnswerSaveDialogs({saved});
  Location(HttpUrl("show"), kProtoHttp);
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] { return Form().Session->Status().PacketNumber >= 5; }));
  bool closed = false;
  QObject::connect(&Window(), &MainWindow::closed, [&] { closed = true; });
  Window().resize(800, 620);
  ASSERT_TRUE(RunUntil([&] { return Window().width() == 800; }));
  // Asked once whether the recording should end: No keeps it, Yes closes.
  std::vector<QString> asked;
  QMessageBox::StandardButton answer = QMessageBox::No;
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    asked.push_back(box->text());
    box->button(answer)->click();
  });
  answerer.start(20);
  Window().close();
  ASSERT_TRUE(RunUntil([&] { return asked.size() == 1; }));
  RunUntil([] { return false; }, 300);
  EXPECT_FALSE(closed);
  EXPECT_TRUE(Window().isVisible());
  EXPECT_TRUE(Form().Session->IsConnected());
  answer = QMessageBox::Yes;
  Window().close();
  ASSERT_TRUE(RunUntil([&] { return closed; }));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].toStdString(), kQuitWhileRecordingQuestion);
  EXPECT_TRUE(Form().Closed());
  EXPECT_FALSE(Window().isVisible());
  EXPECT_GT(ProbeDuration(saved), 0.3);
  THelper helper;
  EXPECT_EQ(helper.ReadSetting(kSettingsKeyPath, "Width"), "800");
  EXPECT_EQ(helper.ReadSetting(kSettingsKeyPath, "URLSelected"), HttpUrl("show"));
}

TEST_F(GuiTest, TheMmsPasswordDialogIsAnsweredWhileTheWindowThreadServes) {
  StartServer({"--password", "ann:s3cret", "--rate", "4"});
  const std::string saved = folder_.Path("secret.asf");
  AnswerSaveDialogs({saved});
  Location(MmsUrl("clip.wmv"), kProtoTcp);
  QTimer answer;
  bool answered = false;
  int servedWhileAsked = 0;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<FormDialog*>(QApplication::activeModalWidget());
    if (!dialog || answered) return;
    // The stream-time timer keeps running under the dialog: the window thread is served.
    if (++servedWhileAsked < 10) return;
    const auto edits = dialog->findChildren<QLineEdit*>();
    ASSERT_GE(edits.size(), 2);
    edits[0]->setText("ann");
    emit edits[0]->textEdited("ann");
    edits[1]->setText("s3cret");
    emit edits[1]->textEdited("s3cret");
    for (auto* button : dialog->findChildren<QPushButton*>()) {
      if (button->text() == "&OK") {
        answered = true;
        button->click();
      }
    }
  });
  answer.start(20);
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] { return Shown("- ** DOWNLOAD COMPLETED ** -"); }));
  EXPECT_TRUE(answered);
  EXPECT_NEAR(ProbeDuration(saved), ProbeDuration(SampleMedia("clip.wmv")), 0.5);
}

TEST(QorProgram, WithoutADisplayItSaysSoAndFails) {
  const std::string command =
      std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + QOR_PROGRAM + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = ::pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal: " << output;
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(output.find("qor: no display to show the window on."), std::string::npos) << output;
}

}  // namespace
}  // namespace qor::gui
