#pragma once
// What a window cannot do alone: modal boxes, file dialogs, showing forms, printing and handing
// things to the desktop. Each front end implements it: the Qt front end with real dialogs, the
// command line from its flags, the tests from a script.

#include <cstdint>
#include <optional>
#include <string>

#include "app/form_controls.h"
#include "platform/desktop.h"

namespace qor {

// Buttons of a message box, combined as a bit set.
enum TMsgDlgButton : uint32_t {
  mbOK = 0x1,
  mbCancel = 0x2,
  mbYes = 0x4,
  mbNo = 0x8,
  mbAbort = 0x10,
  mbRetry = 0x20,
  mbIgnore = 0x40,
};

enum class TMsgDlgType { Information, Warning, Error, Confirmation };

// A file-open or file-save dialog as the window sets it up.
struct TFileDialogRequest {
  std::string Title;
  // Pairs of description and patterns separated by "|", as in "Qor log files|*.txt|All files|*.*".
  std::string Filter;
  // 1-based entry of Filter chosen at first.
  int32_t FilterIndex = 1;
  // Empty: the dialog's own choice.
  std::string InitialDir;
  // Added (after a ".") to a typed name without an extension; no dot here.
  std::string DefaultExt;
  // The name proposed at first.
  std::string FileName;
  // Save dialogs: ask before replacing an existing file.
  bool OverwritePrompt = false;
};

// The printer a document goes to. Coordinates are printer units from the page's top left corner.
class TPrinter {
 public:
  virtual ~TPrinter() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetFontSize(int32_t points) = 0;
  // The height of the current font in printer units; some printers report it negative.
  virtual int32_t FontHeight() const = 0;
  virtual int32_t PageWidth() const = 0;
  virtual int32_t PageHeight() const = 0;
  virtual void BeginDoc() = 0;
  virtual void TextOut(int32_t x, int32_t y, const std::string& text) = 0;
  virtual void NewPage() = 0;
  virtual void EndDoc() = 0;
};

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // A modal message box; gives the result of the button pressed (mrOk, mrYes, ...), or mrCancel
  // when it was dismissed without one.
  virtual int32_t MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                             uint32_t buttons) = 0;
  // The framework's plain "show this" box: one OK button, the application's title.
  void ShowMessage(const std::string& text);
  // A Yes/No question; true for Yes.
  bool Confirm(const std::string& text);

  // The chosen full path, or none when the user cancelled.
  virtual std::optional<std::string> OpenFileDialog(const TFileDialogRequest& request) = 0;
  virtual std::optional<std::string> SaveFileDialog(const TFileDialogRequest& request) = 0;

  // Shows a form modally: BeginModal, forward events until ModalDone, EndModal. Gives the result.
  virtual int32_t ShowModal(TForm& form) = 0;
  // Shows a form without blocking: Show, then forward its events until the logic closes it
  // (OnHide) or the user does (Close).
  virtual void ShowModeless(TForm& form) = 0;

  // The print dialog; false when cancelled. The printer it chose is Printer() afterwards.
  virtual bool PrintDialog() = 0;
  virtual void PrinterSetupDialog() = 0;
  virtual TPrinter& Printer() = 0;

  // Lets the front end paint before a handler does slow work ("repaint").
  virtual void Repaint() {}

  // Hands a file or web address to the desktop; above 32 on success, as ShellOpen gives it.
  virtual int32_t OpenWithShell(const std::string& target) { return ShellOpen(target); }

  // A notification on the desktop (a download that ended while nobody watched); a front end
  // without one, or a desktop without the service, shows nothing.
  virtual void Notify(const std::string& /*summary*/, const std::string& /*body*/) {}
};

inline void DesktopServices::ShowMessage(const std::string& text) {
  MessageBox(text, "Qor", TMsgDlgType::Information, mbOK);
}

inline bool DesktopServices::Confirm(const std::string& text) {
  return MessageBox(text, "Confirm", TMsgDlgType::Confirmation, mbYes | mbNo) == mrYes;
}

}  // namespace qor
