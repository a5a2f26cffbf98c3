#pragma once
// DesktopServices with real Qt dialogs: message boxes, file dialogs with the window's filters
// converted, forms shown modal and modeless through their registered binders, the shell through
// QDesktopServices. A modal form runs a nested event loop, which keeps serving the window thread,
// so a session waiting for credentials never stalls the other handovers.

#include <QPointer>

#include <exception>
#include <functional>
#include <map>

#include "app/desktop_services.h"

class QWidget;

#include "gui/desktop_notification.h"
#include "gui/printer.h"

namespace qor::gui {

class FormDialog;

class QtDesktop : public DesktopServices {
 public:
  QtDesktop();
  ~QtDesktop() override;

  // The window dialogs are centred on; set once the main window exists.
  void SetParentWindow(QWidget* parent) { parent_ = parent; }
  // Receives what a dialog's handler threw (the main window's exception handler).
  std::function<void(std::exception_ptr)> OnError;
  // Asked before a slow handler runs, so the window shows its current state.
  std::function<void()> OnRepaint;
  // Takes the desktop notifications in place of the session bus: a window under test never
  // speaks to the desktop of the developer who runs it.
  std::function<void(const std::string& summary, const std::string& body)> OnNotify;

  int32_t MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                     uint32_t buttons) override;
  std::optional<std::string> OpenFileDialog(const TFileDialogRequest& request) override;
  std::optional<std::string> SaveFileDialog(const TFileDialogRequest& request) override;
  int32_t ShowModal(TForm& form) override;
  void ShowModeless(TForm& form) override;
  bool PrintDialog() override;
  void PrinterSetupDialog() override;
  TPrinter& Printer() override { return printer_; }
  QtPrinter& QPrinterOf() { return printer_; }
  void Repaint() override;
  int32_t OpenWithShell(const std::string& target) override;
  void Notify(const std::string& summary, const std::string& body) override;

  // Closes the modeless dialogs and lets go of their forms; before the forms are destroyed.
  void CloseDialogs();
  // Called after every turn that served the window thread: open dialogs show what the logic
  // changed, and a modal form the logic ended (a stopped session's password request) closes.
  void Served();

  // Converts "Text|*.a;*.b|All|*.*" into Qt's "Text (*.a *.b)" entries.
  static QStringList ConvertFilter(const std::string& filter);

 private:
  std::optional<std::string> FileDialog(const TFileDialogRequest& request, bool save);

  QWidget* parent_ = nullptr;
  QtPrinter printer_;
  DesktopNotifier notifier_;
  std::map<TForm*, QPointer<FormDialog>> open_;
  std::function<void()> modal_check_;
};

}  // namespace qor::gui
