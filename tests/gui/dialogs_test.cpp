// The dialogs of the desktop program, driven through their widgets on the offscreen platform.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>

#include "app/main_info_dialog.h"
#include "app/options_dialog.h"
#include "gui/form_dialog.h"
#include "gui_fixture.h"

namespace qor::gui {
namespace {

FormDialog* OpenOptions(MainWindow& window) {
  auto* setup = window.findChild<QAction*>("ViewSetup");
  if (!setup) return nullptr;
  setup->trigger();
  return window.findChild<FormDialog*>("qorForm_OptionsDialog");
}

void Type(QLineEdit* edit, const QString& text) {
  ASSERT_NE(edit, nullptr);
  edit->setText(text);
  emit edit->textEdited(text);
}

// Every page, every kind of control: what is set in the widgets is what a restarted qor shows.
TEST_F(GuiTest, OptionsDialogRoundTripSurvivesARestart) {
  FormDialog* options = OpenOptions(Window());
  ASSERT_NE(options, nullptr);
  auto* pages = options->findChild<QTabWidget*>("Pages");
  ASSERT_NE(pages, nullptr);
  ASSERT_EQ(pages->count(), 6);
  EXPECT_EQ(pages->tabText(4), "Stream Rates");

  options->findChild<QCheckBox*>("AutoLogTick")->click();
  options->findChild<QRadioButton*>("ProtoGroup_UDP")->click();
  Type(options->findChild<QLineEdit*>("HTTPPort"), "8080");
  Type(options->findChild<QLineEdit*>("StallTimeout"), "45");
  Type(options->findChild<QLineEdit*>("ConnectTimeout"), "0");
  options->findChild<QCheckBox*>("HProxyTick")->click();
  Type(options->findChild<QLineEdit*>("HProxyURL"), "proxy.example");
  options->findChild<QCheckBox*>("MaxRateFlag")->click();
  auto* rate = options->findChild<QComboBox*>("NetworkRate");
  ASSERT_TRUE(rate->isEnabled());
  rate->setCurrentIndex(7);
  emit rate->activated(7);
  auto* offset = options->findChild<QDateTimeEdit*>("OffsetTimePicker");
  offset->setTime(QTime(0, 1, 30));
  options->findChild<QPushButton*>("CloseButton")->click();
  EXPECT_FALSE(options->isVisible());

  // The stored time-outs are what the next download uses.
  const SessionTimeouts stored = Form().StoredTimeouts();
  EXPECT_EQ(stored.StallSeconds, 45);
  EXPECT_EQ(stored.ConnectSeconds, 0);
  EXPECT_EQ(stored.AnswerSeconds, 20);

  program_.reset();
  program_ = std::make_unique<Program>();
  Window().show();
  options = OpenOptions(Window());
  ASSERT_NE(options, nullptr);
  EXPECT_TRUE(options->findChild<QCheckBox*>("AutoLogTick")->isChecked());
  EXPECT_FALSE(options->findChild<QCheckBox*>("AutoPlayTick")->isChecked());
  EXPECT_TRUE(options->findChild<QRadioButton*>("ProtoGroup_UDP")->isChecked());
  EXPECT_EQ(options->findChild<QLineEdit*>("HTTPPort")->text(), "8080");
  EXPECT_EQ(options->findChild<QLineEdit*>("StallTimeout")->text(), "45");
  EXPECT_EQ(options->findChild<QLineEdit*>("ConnectTimeout")->text(), "0");
  EXPECT_EQ(options->findChild<QLineEdit*>("AnswerTimeout")->text(), "20");
  EXPECT_TRUE(options->findChild<QLineEdit*>("HProxyURL")->isEnabled());
  EXPECT_EQ(options->findChild<QLineEdit*>("HProxyURL")->text(), "proxy.example");
  EXPECT_FALSE(options->findChild<QLineEdit*>("MProxyURL")->isEnabled());
  EXPECT_EQ(options->findChild<QComboBox*>("NetworkRate")->currentIndex(), 7);
  EXPECT_EQ(program_->App().OptionsDialog->SelectedMaxRate(), 768000);
  EXPECT_EQ(options->findChild<QDateTimeEdit*>("OffsetTimePicker")->time(), QTime(0, 1, 30));
  // Zero clears the offset in the widget at once.
  options->findChild<QPushButton*>("Button1")->click();
  EXPECT_EQ(options->findChild<QDateTimeEdit*>("OffsetTimePicker")->time(), QTime(0, 0, 0));
}

// A download cut in the middle, then Go on the same file: the question is answered with Resume
// and the file ends up holding the whole clip.
TEST_F(GuiTest, ResumeDialogResumesAnInterruptedDownload) {
  StartServer();
  const std::string part = folder_.Path("part.asf");
  AnswerSaveDialogs({part, part});
  Location(HttpUrl("clip.wmv?stall=60&stall-after=20"), kProtoHttp);
  Button("Connect")->click();
  // Abort is pressed once the window shows the stream running, as a user would.
  ASSERT_TRUE(RunUntil([&] {
    return Form().Session->Status().PacketNumber >= 15 && Button("Abort")->isEnabled();
  })) << Dump();
  Button("Abort")->click();
  ASSERT_TRUE(RunUntil([&] { return Button("Connect")->isEnabled(); })) << Dump();
  const double partial = ProbeDuration(part);
  const double whole = ProbeDuration(SampleMedia("clip.wmv"));
  ASSERT_GT(partial, 0.5) << Dump();
  ASSERT_LT(partial, whole - 0.5);

  int asked = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<FormDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != "qorForm_ResumeDlg") return;
    ++asked;
    dialog->findChild<QPushButton*>("ResumeBtn")->click();
  });
  answer.start(20);
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Button("Connect")->click();
  ASSERT_TRUE(RunUntil([&] { return Shown("- ** DOWNLOAD COMPLETED ** -"); })) << Dump();
  EXPECT_EQ(asked, 1);
  EXPECT_NEAR(ProbeDuration(part), whole, 0.5);
}

// Media Information of a saved file: its streams on their page, its clip title on the first.
TEST_F(GuiTest, InfoDialogShowsTheStreamsOfASavedFile) {
  Form().MediaWindow.Caption = SampleMedia("twovideo.asf");
  Window().Forward([this] { Form().InfoClick(); });
  FormDialog* info = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<FormDialog*>(top);
        dialog && dialog->objectName() == "qorForm_InfoDialog")
      info = dialog;
  }
  if (!info) info = Window().findChild<FormDialog*>("qorForm_InfoDialog");
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(info->isVisible());
  auto* pages = info->findChild<QTabWidget*>("Pages");
  ASSERT_NE(pages, nullptr);
  ASSERT_EQ(pages->count(), 6);
  auto* streams = info->findChild<QTreeWidget*>("Stream Properties");
  ASSERT_NE(streams, nullptr);
  QStringList lines;
  for (int i = 0; i < streams->topLevelItemCount(); ++i) lines << streams->topLevelItem(i)->text(0);
  const QString text = lines.join('\n');
  EXPECT_TRUE(text.contains("Stream ID: 1\t[Video]\tWidth = 160")) << text.toStdString();
  EXPECT_TRUE(text.contains("Stream ID: 2\t[Video]\tWidth = 96")) << text.toStdString();
  auto* clip = info->findChild<QTreeWidget*>("Clip");
  ASSERT_NE(clip, nullptr);
  ASSERT_GT(clip->topLevelItemCount(), 0);
  EXPECT_EQ(clip->topLevelItem(0)->text(0), "Clip:");
}

// A recording cut before it was finished (12 packets under the server's header): Media
// Information's first page says so; File → Repair... through the real open dialog mends it, and
// the page says so no more.
TEST_F(GuiTest, FileRepairMendsTheCutRecordingInfoCallsUnfinished) {
  TASF clip;
  ASSERT_TRUE(clip.ReadHeaderFromFile(SampleMedia("clip.wmv")));
  std::string bytes(clip.FirstPacketOffset() + 12 * clip.PacketSize, '\0');
  std::ifstream(SampleMedia("clip.wmv"), std::ios::binary).read(bytes.data(), bytes.size());
  const std::string cut = folder_.Path("cut.asf");
  std::ofstream(cut, std::ios::binary) << bytes;
  Form().MediaWindow.Caption = cut;
  Window().Forward([this] { Form().InfoClick(); });
  auto* info = Window().findChild<FormDialog*>("qorForm_InfoDialog");
  auto* page = info ? info->findChild<QTreeWidget*>("Clip") : nullptr;
  ASSERT_NE(page, nullptr);
  const auto lastRow = [page] {
    const QTreeWidgetItem* row = page->topLevelItem(page->topLevelItemCount() - 1);
    return row ? row->text(0) + row->text(1) : QString();
  };
  EXPECT_TRUE(RunUntil([&] { return lastRow().startsWith("File:unfinished (the recording was"); }))
      << lastRow().toStdString();

  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&cut] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->acceptMode() != QFileDialog::AcceptOpen) return;
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(cut));
    static_cast<QDialog*>(dialog)->accept();
  });
  answerer.start(20);
  Window().findChild<QAction*>("Repair1")->trigger();
  EXPECT_TRUE(RunUntil([&] {
    return Dump().find("> Repair: " + cut + ": kept 12 packets, ") != std::string::npos;
  })) << Dump();
  EXPECT_TRUE(RunUntil([&] { return !lastRow().startsWith("File:"); })) << lastRow().toStdString();
}

// The program's icon on its windows (built in when no theme has it) and in the About box, with
// the licence and Qt's own about box.
TEST_F(GuiTest, AboutShowsTheIconTheLicenceAndAboutQt) {
  EXPECT_FALSE(Window().windowIcon().isNull());
  auto* about = Window().findChild<QAction*>("About1");
  ASSERT_NE(about, nullptr);
  about->trigger();
  FormDialog* dialog = Window().findChild<FormDialog*>("qorForm_AboutDialog");
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(dialog->isVisible());
  auto* icon = dialog->findChild<QLabel*>("ProgramIcon");
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_NE(dialog->findChild<QPushButton*>("AboutQtButton"), nullptr);
  EXPECT_NE(dialog->findChild<QPushButton*>("LicenceButton"), nullptr);
  auto* memo = dialog->findChild<QPlainTextEdit*>();
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->toPlainText().contains("Licence\t\t\tMIT"))
      << memo->toPlainText().toStdString();
}

}  // namespace
}  // namespace qor::gui
