#include "scripted_desktop.h"

#include <gtest/gtest.h>

namespace qor {

void RecordingPrinter::BeginDoc() {
  EXPECT_FALSE(Printing) << "a document was begun inside another";
  Printing = true;
  Pages.assign(1, {});
}

void RecordingPrinter::TextOut(int32_t x, int32_t y, const std::string& text) {
  EXPECT_TRUE(Printing) << "text printed outside a document";
  if (Pages.empty()) Pages.emplace_back();
  Pages.back().push_back(Text{x, y, text});
}

void RecordingPrinter::NewPage() {
  EXPECT_TRUE(Printing) << "a page started outside a document";
  Pages.emplace_back();
}

void RecordingPrinter::EndDoc() {
  EXPECT_TRUE(Printing) << "a document ended that was not begun";
  Printing = false;
  ++Documents;
}

std::vector<ScriptedDesktop::Call> ScriptedDesktop::CallsOf(CallKind kind) const {
  std::vector<Call> found;
  for (const Call& call : Calls)
    if (call.Kind == kind) found.push_back(call);
  return found;
}

std::vector<std::string> ScriptedDesktop::Messages() const {
  std::vector<std::string> texts;
  for (const Call& call : CallsOf(CallKind::MessageBox)) texts.push_back(call.Text);
  return texts;
}

int32_t ScriptedDesktop::MessageBox(const std::string& text, const std::string& caption,
                                    TMsgDlgType /*type*/, uint32_t buttons) {
  Calls.push_back(Call{CallKind::MessageBox, text, caption, buttons, {}});
  if (!MessageAnswers.empty()) {
    int32_t answer = MessageAnswers.front();
    MessageAnswers.pop_front();
    return answer;
  }
  if (buttons & mbOK) return mrOk;
  if (buttons & mbYes) return mrYes;
  return mrCancel;
}

std::optional<std::string> ScriptedDesktop::OpenFileDialog(const TFileDialogRequest& request) {
  Calls.push_back(Call{CallKind::OpenFile, request.Title, "", 0, request});
  if (FileAnswers.empty()) return std::nullopt;
  auto answer = FileAnswers.front();
  FileAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedDesktop::SaveFileDialog(const TFileDialogRequest& request) {
  Calls.push_back(Call{CallKind::SaveFile, request.Title, "", 0, request});
  if (FileAnswers.empty()) return std::nullopt;
  auto answer = FileAnswers.front();
  FileAnswers.pop_front();
  return answer;
}

int32_t ScriptedDesktop::ShowModal(TForm& form) {
  Calls.push_back(Call{CallKind::Modal, form.Caption, "", 0, {}});
  form.BeginModal();
  if (!ModalScripts.empty()) {
    auto script = std::move(ModalScripts.front());
    ModalScripts.pop_front();
    script(form);
  }
  if (!form.ModalDone()) form.Close();
  return form.EndModal();
}

void ScriptedDesktop::ShowModeless(TForm& form) {
  Calls.push_back(Call{CallKind::Modeless, form.Caption, "", 0, {}});
  form.Show();
}

bool ScriptedDesktop::PrintDialog() {
  Calls.push_back(Call{CallKind::PrintDialog, "", "", 0, {}});
  if (PrintAnswers.empty()) return false;
  bool answer = PrintAnswers.front();
  PrintAnswers.pop_front();
  return answer;
}

void ScriptedDesktop::PrinterSetupDialog() {
  Calls.push_back(Call{CallKind::PrintSetup, "", "", 0, {}});
}

void ScriptedDesktop::Repaint() {
  Calls.push_back(Call{CallKind::Repaint, "", "", 0, {}});
}

int32_t ScriptedDesktop::OpenWithShell(const std::string& target) {
  Calls.push_back(Call{CallKind::Shell, target, "", 0, {}});
  if (ShellAnswers.empty()) return 42;
  int32_t answer = ShellAnswers.front();
  ShellAnswers.pop_front();
  return answer;
}

}  // namespace qor
