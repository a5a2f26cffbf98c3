#pragma once
// Desktop notifications through the freedesktop notification service on the session bus. Each
// program keeps one notification: a new one replaces the last, so a long batch does not pile
// them up. Without a session bus, or without the service, nothing is shown and nothing said.

#include <QString>

#include <cstdint>
#include <memory>

namespace qor::gui {

class DesktopNotifier {
 public:
  DesktopNotifier();
  // Sent without waiting for the answer: a service that hangs never holds the window.
  void Send(const QString& summary, const QString& body);

 private:
  // The id the service gave the last notification; shared with answers still on their way.
  std::shared_ptr<uint32_t> last_id_;
};

}  // namespace qor::gui
