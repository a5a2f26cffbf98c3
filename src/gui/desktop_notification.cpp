#include "gui/desktop_notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace qor::gui {

DesktopNotifier::DesktopNotifier() : last_id_(std::make_shared<uint32_t>(0)) {}

void DesktopNotifier::Send(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                     "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  QVariantMap hints;
  // The desktop finds the program's name and icon through its entry.
  hints.insert("desktop-entry", QString("org.qor.Qor"));
  call << QString("Qor") << static_cast<uint>(*last_id_) << QString("org.qor.Qor") << summary
       << body << QStringList() << hints << static_cast<int>(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
  std::shared_ptr<uint32_t> id = last_id_;
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [id](QDBusPendingCallWatcher* done) {
                     const QDBusPendingReply<uint> reply = *done;
                     if (reply.isValid()) *id = reply.value();
                     done->deleteLater();
                   });
}

}  // namespace qor::gui
