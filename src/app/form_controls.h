#pragma once
// The controls the window logic holds, as plain objects: the state the logic reads and writes, and
// the events a front end forwards from its widgets. No toolkit is seen here; a front end binds each
// object to a widget of its own, copies edits into the object before it forwards an event, and
// shows the object's state after the handler returned.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "controls/canvas.h"
#include "controls/gauge.h"

namespace qor {

// Results of a modal form, as the desktop framework numbers them.
enum TModalResult : int32_t {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
};

constexpr TColor clBlue{0, 0, 255};
constexpr TColor clPurple{128, 0, 128};
constexpr TColor clGray{128, 128, 128};

// Key codes the handlers look at.
inline constexpr uint16_t kKeyReturn = 13;
inline constexpr uint16_t kKeyEscape = 27;

// A list of lines. Text() joins them with CR LF after each line, as stored lists and saved logs
// are written; SetText splits at CR LF, LF or CR.
class TStringList {
 public:
  int32_t Count() const { return static_cast<int32_t>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](int32_t index) const {
    return lines_.at(static_cast<size_t>(index));
  }
  std::string& operator[](int32_t index) { return lines_.at(static_cast<size_t>(index)); }
  void Add(const std::string& line) { lines_.push_back(line); }
  // Index 0 puts the line first; an index past the end appends.
  void Insert(int32_t index, const std::string& line);
  // Out-of-range indices are ignored.
  void Delete(int32_t index);
  void Clear() { lines_.clear(); }
  int32_t IndexOf(const std::string& line) const;
  std::string Text() const;
  void SetText(const std::string& text);
  const std::vector<std::string>& Lines() const { return lines_; }
  friend bool operator==(const TStringList&, const TStringList&) = default;

 private:
  std::vector<std::string> lines_;
};

class TForm;

// What every visible control has.
struct TControl {
  std::string Name;
  bool Visible = true;
  bool Enabled = true;
  // Set by a front end that has a keyboard focus to move; SetFocus does nothing without one.
  std::function<void()> OnSetFocus;
  void SetFocus() const {
    if (OnSetFocus) OnSetFocus();
  }
};

struct TLabel : TControl {
  std::string Caption;
  TColor FontColor = clBlack;
};

struct TButton : TControl {
  std::string Caption;
  // Non-zero on a button that ends a modal form with this result.
  int32_t ModalResult = mrNone;
  // The Enter and Escape buttons of a form.
  bool Default = false;
  bool Cancel = false;
  TColor FontColor = clBlack;
  std::function<void()> OnClick;
  // Set by the form that holds the button.
  TForm* Parent = nullptr;

  // What a press does: the form takes the button's result, then the handler runs.
  void Click();
};

struct TEdit : TControl {
  std::string Text;
  // The caption a front end shows beside the field.
  std::string Label;
  bool ReadOnly = false;
  // A front end offers only digits in this field.
  bool NumbersOnly = false;
  // Non-zero: the widget shows this character for each one typed.
  char PasswordChar = '\0';
  std::function<void()> OnChange;
};

struct TCheckBox : TControl {
  std::string Caption;
  bool Checked = false;
  // Runs after a click has toggled Checked.
  std::function<void()> OnClick;
  void Click();
};

struct TComboBox : TControl {
  std::string Text;
  // Shown greyed in an empty box, never taken as its text.
  std::string Placeholder;
  TStringList Items;
  int32_t ItemIndex = -1;
  std::function<void()> OnChange;
  std::function<void(uint16_t key)> OnKeyDown;
  // Selects an item and shows it as the text; -1 or an index out of range selects none and
  // leaves the text.
  void SetItemIndex(int32_t index);
};

struct TRadioGroup : TControl {
  std::string Caption;
  TStringList Items;
  int32_t ItemIndex = -1;
  std::function<void()> OnClick;
};

// Days since 30 December 1899 with the time of day as the fraction; 0 means unset.
using TDateTime = double;

enum TDateTimeKind : int32_t { dtkDate = 0, dtkTime = 1 };

struct TDateTimePicker : TControl {
  TDateTimeKind Kind = dtkDate;
  // The display picture a front end uses, for example "HH.mm.ss".
  std::string Format;
  TDateTime DateTime = 0;
  std::function<void()> OnChange;
};

struct TMenuItem : TControl {
  std::string Caption;
  bool Checked = false;
  std::function<void()> OnClick;
  void Click() {
    if (OnClick) OnClick();
  }
};

struct TMemo : TControl {
  TStringList Lines;
  bool ReadOnly = false;
};

// The read-only coloured log. Each line keeps the colour that was current when it was added.
struct TLogLine {
  std::string Text;
  TColor Color = clBlack;
  friend bool operator==(const TLogLine&, const TLogLine&) = default;
};

class TRichEdit : public TControl {
 public:
  // The colour of text added from now on.
  TColor CurrentColor = clBlack;
  bool ReadOnly = true;
  // Runs after every change of the content.
  std::function<void()> OnChange;

  // Adds text as lines in the current colour; text holding line breaks becomes several lines,
  // as a rich-text control shows it.
  void Append(const std::string& text);
  // The same, with prefix put before each of the lines.
  void Append(const std::string& prefix, const std::string& text);
  void Clear();
  const std::vector<TLogLine>& Lines() const { return lines_; }
  int32_t Count() const { return static_cast<int32_t>(lines_.size()); }
  // Every line followed by CR LF, the form a saved log takes.
  std::string Text() const;

 private:
  std::vector<TLogLine> lines_;
};

// The progress gauge placed on a form.
struct TGaugeControl : TControl {
  TCGauge Gauge;
};

// A form: its caption, whether it shows, and the modal protocol a front end drives.
//
// Modeless: Show() runs FormShow and makes it visible; Close() (the form's close box or a close
// button) runs FormClose and hides it, telling the front end through OnHide.
// Modal: BeginModal() runs FormShow; the front end then forwards clicks until ModalDone(); a close
// box press is Close(); EndModal() runs FormClose, hides it and gives the result.
class TForm {
 public:
  TForm() = default;
  virtual ~TForm() = default;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  std::string Name;
  std::string Caption;
  bool Visible = false;
  bool StayOnTop = false;
  int32_t ModalResult = mrNone;
  // The front end hides its window when the logic closes the form.
  std::function<void()> OnHide;

  virtual void FormShow() {}
  virtual void FormClose() {}

  void Show();
  void Close();
  void BeginModal();
  bool ModalDone() const { return modal_ && (ModalResult != mrNone || closeRequested_); }
  int32_t EndModal();
  bool IsModal() const { return modal_; }
  // The buttons whose Default or Cancel flag is set, for Enter and Escape; null when none.
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

 protected:
  // Registers a button so that it can end the form and answer Enter or Escape.
  void Adopt(TButton& button);
  // The result a modal form gets when it is closed without a result: Cancel, as the framework does.
  virtual int32_t CloseResult() const { return mrCancel; }

 private:
  std::vector<TButton*> buttons_;
  bool modal_ = false;
  bool closeRequested_ = false;
};

}  // namespace qor
