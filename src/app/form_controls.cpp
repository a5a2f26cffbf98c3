#include "app/form_controls.h"

#include <algorithm>

namespace qor {

void TStringList::Insert(int32_t index, const std::string& line) {
  if (index < 0) index = 0;
  if (index >= Count()) {
    lines_.push_back(line);
    return;
  }
  lines_.insert(lines_.begin() + index, line);
}

void TStringList::Delete(int32_t index) {
  if (index < 0 || index >= Count()) return;
  lines_.erase(lines_.begin() + index);
}

int32_t TStringList::IndexOf(const std::string& line) const {
  auto found = std::find(lines_.begin(), lines_.end(), line);
  return found == lines_.end() ? -1 : static_cast<int32_t>(found - lines_.begin());
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

namespace {

// Splits at CR LF, LF or CR; a final break does not start another line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  bool pending = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '\r' || ch == '\n') {
      lines.push_back(current);
      current.clear();
      pending = false;
      if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += ch;
      pending = true;
    }
  }
  if (pending) lines.push_back(current);
  return lines;
}

}  // namespace

void TStringList::SetText(const std::string& text) {
  lines_ = SplitLines(text);
}

void TButton::Click() {
  if (Parent != nullptr && ModalResult != mrNone) Parent->ModalResult = ModalResult;
  if (OnClick) OnClick();
}

void TCheckBox::Click() {
  Checked = !Checked;
  if (OnClick) OnClick();
}

void TComboBox::SetItemIndex(int32_t index) {
  if (index < 0 || index >= Items.Count()) {
    ItemIndex = -1;
    return;
  }
  ItemIndex = index;
  Text = Items[index];
}

void TRichEdit::Append(const std::string& text) {
  std::vector<std::string> parts = SplitLines(text);
  // An empty text still adds one empty line, as the control does.
  if (parts.empty()) parts.emplace_back();
  for (std::string& part : parts) lines_.push_back(TLogLine{std::move(part), CurrentColor});
  if (OnChange) OnChange();
}

void TRichEdit::Append(const std::string& prefix, const std::string& text) {
  std::vector<std::string> parts = SplitLines(text);
  if (parts.empty()) parts.emplace_back();
  for (std::string& part : parts) lines_.push_back(TLogLine{prefix + part, CurrentColor});
  if (OnChange) OnChange();
}

void TRichEdit::Clear() {
  lines_.clear();
  if (OnChange) OnChange();
}

std::string TRichEdit::Text() const {
  std::string text;
  for (const TLogLine& line : lines_) {
    text += line.Text;
    text += "\r\n";
  }
  return text;
}

void TForm::Show() {
  Visible = true;
  FormShow();
}

void TForm::Close() {
  if (modal_) {
    // The modal loop ends; EndModal runs the close handler.
    if (ModalResult == mrNone) ModalResult = CloseResult();
    closeRequested_ = true;
    return;
  }
  if (!Visible) return;
  FormClose();
  Visible = false;
  if (OnHide) OnHide();
}

void TForm::BeginModal() {
  modal_ = true;
  closeRequested_ = false;
  ModalResult = mrNone;
  Visible = true;
  FormShow();
}

int32_t TForm::EndModal() {
  FormClose();
  Visible = false;
  modal_ = false;
  closeRequested_ = false;
  if (OnHide) OnHide();
  return ModalResult;
}

void TForm::Adopt(TButton& button) {
  button.Parent = this;
  buttons_.push_back(&button);
}

TButton* TForm::DefaultButton() const {
  for (TButton* button : buttons_)
    if (button->Default) return button;
  return nullptr;
}

TButton* TForm::CancelButton() const {
  for (TButton* button : buttons_)
    if (button->Cancel) return button;
  return nullptr;
}

}  // namespace qor
