#pragma once
// A desktop that answers from a script: answers are queued per kind of call, every call is
// recorded. Modal forms run the queued script between their show and close handlers, the way a
// user would press buttons; a form without a script is closed with its close box.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop_services.h"

namespace qor {

// A printer that keeps what was printed, page by page.
class RecordingPrinter : public TPrinter {
 public:
  struct Text {
    int32_t X = 0;
    int32_t Y = 0;
    std::string Line;
    friend bool operator==(const Text&, const Text&) = default;
  };

  RecordingPrinter(int32_t pageWidth, int32_t pageHeight, int32_t fontHeight)
      : pageWidth_(pageWidth), pageHeight_(pageHeight), fontHeight_(fontHeight) {}

  void SetTitle(const std::string& title) override { Title = title; }
  void SetFontSize(int32_t points) override { FontPoints = points; }
  int32_t FontHeight() const override { return fontHeight_; }
  int32_t PageWidth() const override { return pageWidth_; }
  int32_t PageHeight() const override { return pageHeight_; }
  void BeginDoc() override;
  void TextOut(int32_t x, int32_t y, const std::string& text) override;
  void NewPage() override;
  void EndDoc() override;

  std::string Title;
  int32_t FontPoints = 0;
  std::vector<std::vector<Text>> Pages;
  int32_t Documents = 0;
  bool Printing = false;

 private:
  int32_t pageWidth_;
  int32_t pageHeight_;
  int32_t fontHeight_;
};

class ScriptedDesktop : public DesktopServices {
 public:
  enum class CallKind {
    MessageBox,
    OpenFile,
    SaveFile,
    Modal,
    Modeless,
    PrintDialog,
    PrintSetup,
    Repaint,
    Shell
  };
  struct Call {
    CallKind Kind;
    std::string Text;     // message text, dialog title, form caption or shell target
    std::string Caption;  // message box caption
    uint32_t Buttons = 0;
    TFileDialogRequest Request;
  };

  ScriptedDesktop() : printer_(4800, 6600, 100) {}

  // Answers, used in order; when none is queued: the first button's result, cancelled file
  // dialogs, the close box, a cancelled print dialog, a shell result of 42.
  std::deque<int32_t> MessageAnswers;
  std::deque<std::optional<std::string>> FileAnswers;
  std::deque<std::function<void(TForm&)>> ModalScripts;
  std::deque<bool> PrintAnswers;
  std::deque<int32_t> ShellAnswers;

  std::vector<Call> Calls;
  std::vector<Call> CallsOf(CallKind kind) const;
  // The texts of every message box shown.
  std::vector<std::string> Messages() const;

  RecordingPrinter& Recorder() { return printer_; }
  void UsePrinter(int32_t pageWidth, int32_t pageHeight, int32_t fontHeight) {
    printer_ = RecordingPrinter(pageWidth, pageHeight, fontHeight);
  }

  int32_t MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                     uint32_t buttons) override;
  std::optional<std::string> OpenFileDialog(const TFileDialogRequest& request) override;
  std::optional<std::string> SaveFileDialog(const TFileDialogRequest& request) override;
  int32_t ShowModal(TForm& form) override;
  void ShowModeless(TForm& form) override;
  bool PrintDialog() override;
  void PrinterSetupDialog() override;
  TPrinter& Printer() override { return printer_; }
  void Repaint() override;
  int32_t OpenWithShell(const std::string& target) override;

 private:
  RecordingPrinter printer_;
};

}  // namespace qor
