#include "gui/form_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <cmath>
#include <map>
#include <memory>

#include "app/about_dialog.h"
#include "app/date_time_dlg.h"
#include "app/http_password_dlg.h"
#include "app/main_info_dialog.h"
#include "app/mms_password_dlg.h"
#include "app/open_media_dialog.h"
#include "app/options_dialog.h"
#include "app/resume_dlg.h"

namespace qor::gui {

namespace {

std::map<std::type_index, FormBinder>& Registry() {
  static std::map<std::type_index, FormBinder> registry;
  return registry;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QStringList Lines(const TStringList& list) {
  QStringList lines;
  for (const std::string& line : list.Lines()) lines << Q(line);
  return lines;
}

const QDateTime& Epoch() {
  static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
  return epoch;
}

}  // namespace

QDateTime ToQDateTime(TDateTime value) {
  return Epoch().addMSecs(static_cast<qint64>(std::llround(value * 86400000.0)));
}

TDateTime FromQDateTime(const QDateTime& value) {
  return static_cast<double>(Epoch().msecsTo(value)) / 86400000.0;
}

void RegisterFormBinder(std::type_index type, FormBinder binder) {
  Registry()[type] = std::move(binder);
}

const FormBinder* FindFormBinder(const TForm& form) {
  const auto found = Registry().find(std::type_index(typeid(form)));
  return found == Registry().end() ? nullptr : &found->second;
}

template <typename Form>
static void Bind(std::function<FormLayout(Form&)> binder) {
  RegisterFormBinder(std::type_index(typeid(Form)),
                     [binder](TForm& form) { return binder(static_cast<Form&>(form)); });
}

void RegisterProgramForms() {
  Bind<TAboutDialog>([](TAboutDialog& f) { return FormLayout{{&f.Memo1, &f.OKButton}, {}}; });
  Bind<TMmsPasswordDlg>([](TMmsPasswordDlg& f) {
    return FormLayout{
        {&f.Site, &f.Realm, &f.Id, &f.Password, &f.SavePassTick, &f.Button1, &f.Button2}, {}};
  });
  Bind<THttpPasswordDlg>([](THttpPasswordDlg& f) {
    return FormLayout{{&f.Explanation, &f.UserIDWindow, &f.PasswordWindow, &f.SavePassTick,
                       &f.Button1, &f.Button2},
                      {}};
  });
  Bind<TOpenMediaDialog>([](TOpenMediaDialog& f) {
    return FormLayout{{&f.Combo1, &f.Button1, &f.Button2, &f.Button3}, {}};
  });
  Bind<TResumeDlg>([](TResumeDlg& f) {
    return FormLayout{{&f.Heading, &f.Message, &f.ResumeBtn, &f.OverwriteBtn, &f.CancelBtn}, {}};
  });
  Bind<TDateTimeDlg>([](TDateTimeDlg& f) {
    return FormLayout{{&f.VcrOnGroup, &f.DateTimePicker1, &f.DateTimePicker2, &f.VcrOffGroup,
                       &f.DateTimePicker3, &f.DateTimePicker4, &f.Button1},
                      {}};
  });
  Bind<TOptionsDialog>([](TOptionsDialog& f) {
    return FormLayout{
        {&f.AutoPlayTick, &f.AutoLogTick, &f.OffsetTimePicker, &f.Button1,     &f.ProtoGroup,
         &f.HTTPPort,     &f.TCPPort,     &f.UDPPort,          &f.MaxUDP,      &f.BypassDNS,
         &f.MProxyTick,   &f.MProxyURL,   &f.MProxyPort,       &f.HProxyTick,  &f.HProxyURL,
         &f.HProxyPort,   &f.LoadProxyIE, &f.MaxRateFlag,      &f.NetworkRate, &f.Defaults,
         &f.CloseButton},
        {}};
  });
  Bind<TInfoDialog>([](TInfoDialog& f) {
    return FormLayout{{&f.OkButton}, [&f] {
                        const MediaInfoReport& r = f.Report;
                        std::vector<std::string> lines{"Clip: " + r.Clip,
                                                       "Author: " + r.Author,
                                                       "Copyright: " + r.Copyright,
                                                       "Rating: " + r.Rating,
                                                       "Description: " + r.Description,
                                                       "Site: " + r.Location,
                                                       "File size: " + r.FileSize,
                                                       "Created 1: " + r.Created_Asf,
                                                       "Created 2: " + r.Created_File,
                                                       "Media Flag: " + r.Flag,
                                                       "Play duration: " + r.PlayDuration,
                                                       "Send duration: " + r.SendDuration,
                                                       "Pre-Roll: " + r.PreRollDuration,
                                                       "Packet size: " + r.ASFPacket,
                                                       "Header size: " + r.ASFHead,
                                                       "Total packets: " + r.ASFTotalPackets,
                                                       "All streams max rate: " + r.AllMaxBitRate,
                                                       "Server: " + r.ServerVer,
                                                       "Tool: " + r.ToolVer,
                                                       "Update: " + r.UpdateUrl,
                                                       "Password Enc: " + r.EncryptionType,
                                                       "Send time: " + r.SendTime,
                                                       "Total time: " + r.TotalTime,
                                                       "Packets: " + r.Packets,
                                                       "Acks: " + r.Acks,
                                                       "Client ID: " + r.ClientID,
                                                       "Stream max rate: " + r.SingleMaxStreamRate,
                                                       "Streams: " + r.TotalStreams};
                        for (const auto* list : {&r.ExtContent, &r.Codecs, &r.StreamProp, &r.MBR})
                          lines.insert(lines.end(), list->begin(), list->end());
                        return lines;
                      }};
  });
}

struct FormDialog::Binding {
  std::function<void()> sync;
};

FormDialog::FormDialog(TForm& form, FormLayout layout,
                       std::function<void(std::exception_ptr)> onError, QWidget* parent)
    : QDialog(parent), form_(form), layout_(std::move(layout)), on_error_(std::move(onError)) {
  setWindowTitle(Q(form_.Caption));
  if (form_.StayOnTop) setWindowFlag(Qt::WindowStaysOnTopHint);
  Build();
  Sync();
}

FormDialog::~FormDialog() = default;

void FormDialog::Forward(const std::function<void()>& handler) {
  if (syncing_) return;
  try {
    if (handler) handler();
  } catch (...) {
    if (on_error_) on_error_(std::current_exception());
  }
  Sync();
  if (OnForwarded) OnForwarded();
}

void FormDialog::Build() {
  auto* outer = new QVBoxLayout(this);
  if (layout_.Report) {
    report_ = new QPlainTextEdit(this);
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setMinimumSize(520, 360);
    outer->addWidget(report_);
  }
  auto* fields = new QFormLayout;
  outer->addLayout(fields);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);

  for (const ControlRef& ref : layout_.Controls) {
    std::visit(
        [&](auto* control) {
          using T = std::remove_pointer_t<decltype(control)>;
          QWidget* widget = nullptr;
          if constexpr (std::is_same_v<T, TLabel>) {
            auto* label = new QLabel(this);
            label->setWordWrap(true);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            fields->addRow(label);
            bindings_.push_back({[label, control] { label->setText(Q(control->Caption)); }});
            widget = label;
          } else if constexpr (std::is_same_v<T, TEdit>) {
            auto* edit = new QLineEdit(this);
            if (control->PasswordChar != '\0') edit->setEchoMode(QLineEdit::Password);
            if (control->NumbersOnly) {
              edit->setValidator(
                  new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
            }
            connect(edit, &QLineEdit::textEdited, this, [this, control](const QString& text) {
              control->Text = text.toStdString();
              Forward(control->OnChange);
            });
            fields->addRow(Q(control->Label.empty() ? control->Name : control->Label), edit);
            bindings_.push_back({[edit, control] {
              edit->setReadOnly(control->ReadOnly);
              if (edit->text() != Q(control->Text)) edit->setText(Q(control->Text));
            }});
            widget = edit;
          } else if constexpr (std::is_same_v<T, TCheckBox>) {
            auto* box = new QCheckBox(Q(control->Caption), this);
            connect(box, &QCheckBox::clicked, this, [this, control](bool checked) {
              control->Checked = checked;
              Forward(control->OnClick);
            });
            fields->addRow(box);
            bindings_.push_back({[box, control] {
              box->setText(Q(control->Caption));
              box->setChecked(control->Checked);
            }});
            widget = box;
          } else if constexpr (std::is_same_v<T, TComboBox>) {
            auto* combo = new QComboBox(this);
            combo->setEditable(true);
            combo->setMinimumWidth(360);
            combo->setInsertPolicy(QComboBox::NoInsert);
            connect(combo, &QComboBox::editTextChanged, this, [this, control](const QString& text) {
              if (syncing_) return;
              control->Text = text.toStdString();
              Forward(control->OnChange);
            });
            connect(combo, &QComboBox::activated, this, [this, control, combo](int index) {
              control->ItemIndex = index;
              control->Text = combo->itemText(index).toStdString();
              Forward(control->OnChange);
            });
            connect(combo->lineEdit(), &QLineEdit::returnPressed, this, [this, control] {
              Forward([control] {
                if (control->OnKeyDown) control->OnKeyDown(kKeyReturn);
              });
            });
            fields->addRow(Q(control->Name), combo);
            bindings_.push_back({[combo, control] {
              const QStringList items = Lines(control->Items);
              QStringList shown;
              for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
              if (shown != items) {
                combo->clear();
                combo->addItems(items);
              }
              if (combo->currentText() != Q(control->Text)) combo->setEditText(Q(control->Text));
            }});
            widget = combo;
          } else if constexpr (std::is_same_v<T, TRadioGroup>) {
            auto* group =
                new QGroupBox(Q(control->Caption.empty() ? control->Name : control->Caption), this);
            auto* column = new QVBoxLayout(group);
            auto* exclusive = new QButtonGroup(group);
            for (int i = 0; i < control->Items.Count(); ++i) {
              auto* radio = new QRadioButton(Q(control->Items[i]), group);
              exclusive->addButton(radio, i);
              column->addWidget(radio);
            }
            connect(exclusive, &QButtonGroup::idClicked, this, [this, control](int id) {
              control->ItemIndex = id;
              Forward(control->OnClick);
            });
            fields->addRow(group);
            bindings_.push_back({[exclusive, control] {
              if (QAbstractButton* b = exclusive->button(control->ItemIndex)) b->setChecked(true);
            }});
            widget = group;
          } else if constexpr (std::is_same_v<T, TMemo>) {
            auto* memo = new QPlainTextEdit(this);
            memo->setLineWrapMode(QPlainTextEdit::NoWrap);
            memo->setMinimumSize(420, 140);
            connect(memo, &QPlainTextEdit::textChanged, this, [this, control, memo] {
              if (syncing_ || control->ReadOnly) return;
              control->Lines.SetText(memo->toPlainText().toStdString());
            });
            fields->addRow(memo);
            bindings_.push_back({[memo, control] {
              memo->setReadOnly(control->ReadOnly);
              const QString text = Lines(control->Lines).join('\n');
              if (memo->toPlainText() != text) memo->setPlainText(text);
            }});
            widget = memo;
          } else if constexpr (std::is_same_v<T, TDateTimePicker>) {
            QDateTimeEdit* edit = control->Kind == dtkTime
                                      ? static_cast<QDateTimeEdit*>(new QTimeEdit(this))
                                      : static_cast<QDateTimeEdit*>(new QDateEdit(this));
            edit->setDisplayFormat(control->Kind == dtkTime ? "HH:mm:ss" : "yyyy-MM-dd");
            if (control->Kind == dtkDate) edit->setCalendarPopup(true);
            connect(edit, &QDateTimeEdit::dateTimeChanged, this,
                    [this, control, edit](const QDateTime& value) {
                      if (syncing_) return;
                      // A time picker keeps the day it holds; a date picker its time of day.
                      const QDateTime held = ToQDateTime(control->DateTime);
                      const QDateTime merged = control->Kind == dtkTime
                                                   ? QDateTime(held.date(), value.time())
                                                   : QDateTime(value.date(), held.time());
                      control->DateTime = FromQDateTime(merged);
                      (void)edit;
                      Forward(control->OnChange);
                    });
            fields->addRow(Q(control->Name), edit);
            bindings_.push_back({[edit, control] {
              const QDateTime value = ToQDateTime(control->DateTime);
              if (edit->dateTime() != value) edit->setDateTime(value);
            }});
            widget = edit;
          } else if constexpr (std::is_same_v<T, TButton>) {
            auto* button = new QPushButton(Q(control->Caption), this);
            button->setAutoDefault(false);
            button->setDefault(control->Default);
            connect(button, &QPushButton::clicked, this,
                    [this, control] { Forward([control] { control->Click(); }); });
            buttons->addWidget(button);
            bindings_.push_back({[button, control] { button->setText(Q(control->Caption)); }});
            widget = button;
          }
          // Visible and Enabled apply to every kind.
          bindings_.push_back({[widget, control] {
            widget->setVisible(control->Visible);
            widget->setEnabled(control->Enabled);
          }});
        },
        ref);
  }
  outer->addLayout(buttons);
}

void FormDialog::Sync() {
  syncing_ = true;
  setWindowTitle(Q(form_.Caption));
  if (report_ && layout_.Report) {
    QStringList lines;
    for (const std::string& line : layout_.Report()) lines << Q(line);
    const QString text = lines.join('\n');
    if (report_->toPlainText() != text) report_->setPlainText(text);
  }
  for (Binding& binding : bindings_) binding.sync();
  syncing_ = false;
}

void FormDialog::closeEvent(QCloseEvent* event) {
  // The close box is the form's Close; the front end hides the window when the logic says so.
  if (form_.Visible) {
    event->ignore();
    Forward([this] { form_.Close(); });
    return;
  }
  QDialog::closeEvent(event);
}

void FormDialog::reject() {
  // Escape: the form's Cancel button when it has one, else the close box.
  if (!form_.Visible) {
    QDialog::reject();
    return;
  }
  if (TButton* cancel = form_.CancelButton()) {
    Forward([cancel] { cancel->Click(); });
  } else {
    Forward([this] { form_.Close(); });
  }
}

}  // namespace qor::gui
