#pragma once
// A dialog built from a form's controls: every control object gets the widget of its kind. A
// binder lays a form out by hand in pages, titled sections and captioned rows; a form without
// pages gets one row per control in the order its binder lists them. Buttons listed outside the
// pages go in a row at the bottom. Edits are copied into the objects before an event is
// forwarded; Sync shows the objects' state afterwards.
//
// Which controls a form has is told by its binder, found by the form's type in a registry.

#include <QDialog>

#include <exception>
#include <functional>
#include <string>
#include <typeindex>
#include <variant>
#include <vector>

#include "app/form_controls.h"

class QFormLayout;
class QHBoxLayout;
class QVBoxLayout;
class QPlainTextEdit;
class QTabWidget;
class QWidget;

namespace qor::gui {

using ControlRef = std::variant<TLabel*, TEdit*, TCheckBox*, TComboBox*, TRadioGroup*, TMemo*,
                                TDateTimePicker*, TButton*>;

// One line of a hand-laid dialog: a caption on the left and the controls side by side.
struct FormRow {
  std::string Caption;
  std::vector<ControlRef> Controls;
};

// Rows under a title (a frame when the title is not empty), with an optional closing remark.
struct FormSection {
  std::string Title;
  std::vector<FormRow> Rows;
  std::string Note;
};

struct FormPage {
  std::string Title;
  std::vector<FormSection> Sections;
};

// A page of name/value pairs the form holds as a report, refreshed at every Sync. A pair with an
// empty name is a line of its own (a list entry).
struct ReportPage {
  std::string Title;
  std::function<std::vector<std::pair<std::string, std::string>>()> Fields;
};

struct FormLayout {
  // Without Pages: every control, in order. With Pages: the buttons of the bottom row.
  std::vector<ControlRef> Controls;
  // Lines of read-only text shown above the controls (a report the form holds), refreshed at
  // every Sync; empty for forms without one.
  std::function<std::vector<std::string>()> Report;
  // Several pages show as tabs; one page without a title shows as it is.
  std::vector<FormPage> Pages;
  std::vector<ReportPage> ReportPages;
  // Combo boxes that only pick one of their items (no typed text).
  std::vector<const TComboBox*> PickLists;
  // A heading line drawn bold (e.g. a warning's title).
  const TLabel* Heading = nullptr;
  // What only this front end adds to the built dialog (a picture, a button of the toolkit's
  // own): run once, after the controls are in place.
  std::function<void(QDialog& dialog, QVBoxLayout& outer, QHBoxLayout& buttons)> Decorate;
};

using FormBinder = std::function<FormLayout(TForm& form)>;

void RegisterFormBinder(std::type_index type, FormBinder binder);
// The binder for this form's dynamic type; null when none was registered.
const FormBinder* FindFormBinder(const TForm& form);
template <typename Form>
void BindForm(std::function<FormLayout(Form&)> binder) {
  RegisterFormBinder(std::type_index(typeid(Form)),
                     [binder](TForm& form) { return binder(static_cast<Form&>(form)); });
}
// Registers the binders of the program's own dialogs (one file each, named after the dialog).
void RegisterProgramForms();
void RegisterOptionsDialog();
void RegisterOpenMediaDialog();
void RegisterPasswordDialogs();
void RegisterResumeDialog();
void RegisterDateTimeDialog();
void RegisterAboutDialog();
void RegisterInfoDialog();

// Days since 30 December 1899 and back.
QDateTime ToQDateTime(TDateTime value);
TDateTime FromQDateTime(const QDateTime& value);

class FormDialog : public QDialog {
  Q_OBJECT

 public:
  // onError receives what a handler threw; it must not escape into Qt.
  FormDialog(TForm& form, FormLayout layout, std::function<void(std::exception_ptr)> onError,
             QWidget* parent = nullptr);
  ~FormDialog() override;

  TForm& Form() { return form_; }
  // Shows the objects' state in the widgets.
  void Sync();
  // Runs after every event forwarded to the form.
  std::function<void()> OnForwarded;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  struct Binding;
  void Build();
  QWidget* Make(const ControlRef& ref, bool inPage);
  QWidget* BuildPage(const FormPage& page);
  void AddRow(QFormLayout* form, const FormRow& row, bool inPage);
  void Forward(const std::function<void()>& handler);
  void PreferAllTabs(QTabWidget* tabs);

  TForm& form_;
  FormLayout layout_;
  std::function<void(std::exception_ptr)> on_error_;
  std::vector<Binding> bindings_;
  QPlainTextEdit* report_ = nullptr;
  std::vector<std::function<void()>> report_syncs_;
  QHBoxLayout* buttons_ = nullptr;
  bool syncing_ = false;
  bool fitted_ = false;
  // At least this much for the report pages, when the screen has the room.
  QSize preferred_;
};

}  // namespace qor::gui
