// The desktop's notification service, played by a listener on a session bus of the test's own
// (dbus-run-session, see extra.cmake): an unattended download that ends is announced there, and
// without any bus it ends just as well, with nothing said about the missing service. Both run as
// tests of their own (extra.cmake), whose ThreadSanitizer runs know Qt's D-Bus thread.

#include <QComboBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLineEdit>
#include <QPushButton>
#include <QVariantMap>

#include <cstdlib>
#include <vector>

#include "app/options_dialog.h"
#include "gui_fixture.h"

namespace qor::gui {
namespace {

struct Notice {
  QString app;
  uint replaces = 0;
  QString summary;
  QString body;
  QVariantMap hints;
};

class NotificationService : public QDBusVirtualObject {
 public:
  std::vector<Notice> notices;
  QString introspect(const QString& /*path*/) const override { return QString(); }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QList<QVariant> a = message.arguments();
    if (message.member() != "Notify" || a.size() != 8) return false;
    notices.push_back({a[0].toString(), a[1].toUInt(), a[3].toString(), a[4].toString(),
                       qdbus_cast<QVariantMap>(a[6])});
    connection.send(message.createReply(QVariant::fromValue(uint(100 + notices.size()))));
    return true;
  }
};

class Notifications : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    program_->Desktop().OnNotify = nullptr;
  }
  // A batch of these entries, as a user starts it from an opened play list.
  void Batch(const std::vector<std::string>& entries) {
    program_->App().OptionsDialog->ProtoGroup.ItemIndex = kProtoHttp;
    for (size_t i = 0; i < entries.size(); ++i) Form().urlList[i] = entries[i];
    Form().urlCount = static_cast<int32_t>(entries.size());
    Window().findChild<QComboBox*>("URL")->lineEdit()->setText(QString::fromStdString(entries[0]));
    Button("ConnectBatch")->click();
  }
};

TEST_F(Notifications, AnUnattendedDownloadThatEndsIsAnnouncedOnTheSessionBus) {
  if (std::getenv("QOR_PRIVATE_BUS") == nullptr)
    GTEST_SKIP() << "needs a bus of its own: ctest -R NotificationOnASessionBus";
  QDBusConnection listener =
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, "qor-test-listener");
  ASSERT_TRUE(listener.isConnected());
  NotificationService service;
  ASSERT_TRUE(listener.registerVirtualObject("/org/freedesktop/Notifications", &service));
  ASSERT_TRUE(listener.registerService("org.freedesktop.Notifications"));

  StartServer({"--rate", "0"});
  Batch({HttpUrl("missing.wmv"), HttpUrl("clip.wmv")});
  ASSERT_TRUE(RunUntil([&] {
    return !service.notices.empty() && service.notices.back().summary == "Recording completed";
  })) << Dump();
  const Notice& failed = service.notices.front();
  EXPECT_EQ(failed.summary, "Recording failed");
  EXPECT_EQ(failed.app, "Qor");
  EXPECT_EQ(failed.hints.value("desktop-entry").toString(), "org.qor.Qor");
  const Notice& done = service.notices.back();
  EXPECT_TRUE(done.body.endsWith("_1_clip.wmv")) << done.body.toStdString();
  // One notification, replaced: the second takes the id the service gave the first.
  EXPECT_EQ(failed.replaces, 0u);
  EXPECT_EQ(service.notices[1].replaces, 101u);

  listener.unregisterService("org.freedesktop.Notifications");
  listener.unregisterObject("/org/freedesktop/Notifications");
  QDBusConnection::disconnectFromBus("qor-test-listener");
}

std::vector<QString>& QtMessages() {
  static std::vector<QString> messages;
  return messages;
}

TEST_F(Notifications, WithoutASessionBusTheDownloadEndsQuietly) {
  if (std::getenv("QOR_NO_BUS") == nullptr)
    GTEST_SKIP() << "runs on its own: ctest -R NotificationWithoutABus";
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + folder_.Path("no-bus")).c_str(), 1);
  QtMessages().clear();
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        QtMessages().push_back(text);
      });
  StartServer({"--rate", "0"});
  Batch({HttpUrl("clip.wmv")});
  const bool ended =
      RunUntil([&] { return !Form().batchActive && Button("Connect")->isEnabled(); });
  qInstallMessageHandler(previous);
  ASSERT_TRUE(ended) << Dump();
  EXPECT_TRUE(Shown("- ** DOWNLOAD COMPLETED ** -")) << Dump();
  for (const QString& text : QtMessages()) {
    EXPECT_FALSE(text.contains("bus", Qt::CaseInsensitive)) << text.toStdString();
  }
}

}  // namespace
}  // namespace qor::gui
