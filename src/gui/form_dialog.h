#pragma once
// A dialog built from a form's controls: every control object gets the plain widget of its kind,
// in the order its binder lists them, and the buttons go in a row at the bottom. Edits are copied
// into the objects before an event is forwarded; Sync shows the objects' state afterwards.
//
// Which controls a form has is told by its binder, found by the form's type in a registry. A
// dialog laid out by hand for one form registers the same way; until then this generic one shows.

#include <QDialog>

#include <exception>
#include <functional>
#include <string>
#include <typeindex>
#include <variant>
#include <vector>

#include "app/form_controls.h"

class QPlainTextEdit;
class QWidget;

namespace qor::gui {

using ControlRef = std::variant<TLabel*, TEdit*, TCheckBox*, TComboBox*, TRadioGroup*, TMemo*,
                                TDateTimePicker*, TButton*>;

struct FormLayout {
  std::vector<ControlRef> Controls;
  // Lines of read-only text shown above the controls (a report the form holds), refreshed at
  // every Sync; empty for forms without one.
  std::function<std::vector<std::string>()> Report;
};

using FormBinder = std::function<FormLayout(TForm& form)>;

void RegisterFormBinder(std::type_index type, FormBinder binder);
// The binder for this form's dynamic type; null when none was registered.
const FormBinder* FindFormBinder(const TForm& form);
// Registers the binders of the program's own dialogs.
void RegisterProgramForms();

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
  void reject() override;

 private:
  struct Binding;
  void Build();
  void Forward(const std::function<void()>& handler);

  TForm& form_;
  FormLayout layout_;
  std::function<void(std::exception_ptr)> on_error_;
  std::vector<Binding> bindings_;
  QPlainTextEdit* report_ = nullptr;
  bool syncing_ = false;
};

}  // namespace qor::gui
