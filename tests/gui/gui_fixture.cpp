#include "gui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include "gui/form_dialog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/options_dialog.h"
#include "support/helper.h"

namespace qor::gui {

std::string SampleMedia(const std::string& name) {
  return std::string(QOR_SAMPLE_MEDIA_DIR) + "/" + name;
}

double ProbeDuration(const std::string& path) {
  const std::string command =
      "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[256] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
  const int status = ::pclose(pipe);
  if (status != 0 || n == 0) return -1;
  return std::atof(buffer);
}

void GuiTest::SetUpTestSuite() {
  if (QApplication::instance()) return;
  // Never a window on a developer's display: the tests run on the offscreen platform.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

void GuiTest::SetUp() {
  store_ = std::make_unique<SettingsStore>(folder_.Path("config"));
  THelper::UseStore(store_.get());
  program_ = std::make_unique<Program>();
  // Nor a notification on a developer's desktop; the notification tests ask for the bus.
  program_->Desktop().OnNotify = [](const std::string&, const std::string&) {};
  Form().AutoSaveDir = folder_.Path() + "/";
  Window().show();
}

void GuiTest::TearDown() {
  answerer_.reset();
  program_.reset();
  THelper::UseStore(nullptr);
  if (server_) server_->Stop();
}

void GuiTest::StartServer(const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--root", QOR_SAMPLE_MEDIA_DIR};
  args.insert(args.end(), extra.begin(), extra.end());
  server_ = std::make_unique<testing::ServerProcess>(QOR_SERVER_PROGRAM, args);
  ASSERT_TRUE(server_->Running());
}

std::string GuiTest::HttpUrl(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
}

std::string GuiTest::MmsUrl(const std::string& name) const {
  return "mms://127.0.0.1:" + std::to_string(server_->MmsPort()) + "/" + name;
}

QPushButton* GuiTest::Button(const char* name) {
  auto* button = Window().findChild<QPushButton*>(name);
  EXPECT_NE(button, nullptr) << name;
  return button;
}

void GuiTest::Location(const std::string& url, int protocol) {
  auto* box = Window().findChild<QComboBox*>("URL");
  ASSERT_NE(box, nullptr);
  box->lineEdit()->setText(QString::fromStdString(url));
  Form().MediaWindow.Caption = url;
  // The transport is chosen in View -> Setup Options, a dialog beside the window.
  auto* setup = Window().findChild<QAction*>("ViewSetup");
  ASSERT_NE(setup, nullptr);
  setup->trigger();
  auto* options = Window().findChild<FormDialog*>("qorForm_OptionsDialog");
  ASSERT_NE(options, nullptr);
  ASSERT_TRUE(options->isVisible());
  const char* names[] = {"HTTP", "TCP", "UDP"};
  for (auto* radio : options->findChildren<QRadioButton*>()) {
    if (radio->text() == names[protocol]) radio->click();
  }
  EXPECT_EQ(program_->App().OptionsDialog->ProtoGroup.ItemIndex, protocol);
  for (auto* button : options->findChildren<QPushButton*>()) {
    if (button->text() == "&Close") button->click();
  }
  EXPECT_FALSE(options->isVisible());
  if (protocol == kProtoUdp) {
    // A port of our own for the data: the stored one is shared with whatever else runs here.
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(udp, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(udp);
    program_->App().OptionsDialog->UDPPort.Text = std::to_string(ntohs(address.sin_port));
  }
  // A user takes a moment before pressing Go; the window's timers show their state meanwhile and
  // must leave the typed location alone.
  int turns = 0;
  RunUntil([&] { return ++turns > 25; });
  EXPECT_EQ(box->currentText().toStdString(), url);
}

bool GuiTest::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  // Sleeps in the loop between events; the ticker makes sure pred is looked at every 20 ms even
  // when what it waits for is no event (a file, a child process).
  QTimer ticker;
  ticker.start(20);
  while (!pred()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void GuiTest::AnswerSaveDialogs(std::vector<std::string> paths) {
  save_answers_ = std::move(paths);
  answerer_ = std::make_unique<QTimer>();
  QObject::connect(answerer_.get(), &QTimer::timeout, [this] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->acceptMode() != QFileDialog::AcceptSave) return;
    if (static_cast<size_t>(saves_answered_) >= save_answers_.size()) {
      dialog->reject();
      return;
    }
    // Typed into the name field, as a user does (selectFile leaves a focused field alone).
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(save_answers_[saves_answered_++]));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog keeps its override protected
  });
  answerer_->start(20);
}

std::vector<ShownLine> GuiTest::ShownLog() const {
  std::vector<ShownLine> lines;
  const QTextDocument* document = program_->Window().LogView()->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    QColor color;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      color = it.fragment().charFormat().foreground().color();
      break;
    }
    lines.push_back({block.text(), color});
  }
  return lines;
}

std::string GuiTest::Dump() const {
  std::string text;
  for (const ShownLine& line : ShownLog()) text += line.text.toStdString() + "\n";
  return text;
}

bool GuiTest::Shown(const QString& text) const {
  return ShownColor(text).isValid();
}

QColor GuiTest::ShownColor(const QString& text) const {
  for (const ShownLine& line : ShownLog()) {
    if (line.text == "> " + text) return line.color;
  }
  return QColor();
}

std::string GuiTest::WidgetText(const char* name) {
  auto* edit = Window().findChild<QLineEdit*>(name);
  EXPECT_NE(edit, nullptr) << name;
  return edit ? edit->text().toStdString() : std::string();
}

}  // namespace qor::gui
