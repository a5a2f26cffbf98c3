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
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

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

QWidget* FormDialog::Make(const ControlRef& ref, bool inPage) {
  QWidget* widget = nullptr;
  std::visit(
      [&](auto* control) {
        using T = std::remove_pointer_t<decltype(control)>;
        if constexpr (std::is_same_v<T, TLabel>) {
          auto* label = new QLabel(this);
          label->setWordWrap(true);
          label->setTextInteractionFlags(Qt::TextSelectableByMouse);
          if (control == layout_.Heading) {
            QFont bold = label->font();
            bold.setBold(true);
            bold.setPointSizeF(bold.pointSizeF() * 1.2);
            label->setFont(bold);
          }
          bindings_.push_back({[label, control] { label->setText(Q(control->Caption)); }});
          widget = label;
        } else if constexpr (std::is_same_v<T, TEdit>) {
          auto* edit = new QLineEdit(this);
          if (control->PasswordChar != '\0') edit->setEchoMode(QLineEdit::Password);
          if (control->NumbersOnly) {
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
            // Ports and seconds: a short box reads as a number field.
            if (inPage) edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance('0') * 10 + 24);
          }
          connect(edit, &QLineEdit::textEdited, this, [this, control](const QString& text) {
            control->Text = text.toStdString();
            Forward(control->OnChange);
          });
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
          bindings_.push_back({[box, control] {
            box->setText(Q(control->Caption));
            box->setChecked(control->Checked);
          }});
          widget = box;
        } else if constexpr (std::is_same_v<T, TComboBox>) {
          auto* combo = new QComboBox(this);
          const bool pick = std::find(layout_.PickLists.begin(), layout_.PickLists.end(),
                                      control) != layout_.PickLists.end();
          combo->setEditable(!pick);
          if (!pick) {
            combo->lineEdit()->setPlaceholderText(Q(control->Placeholder));
            combo->setMinimumWidth(combo->fontMetrics().horizontalAdvance('x') * 48);
            combo->setInsertPolicy(QComboBox::NoInsert);
            connect(combo, &QComboBox::editTextChanged, this, [this, control](const QString& text) {
              if (syncing_) return;
              control->Text = text.toStdString();
              Forward(control->OnChange);
            });
            connect(combo->lineEdit(), &QLineEdit::returnPressed, this, [this, control] {
              Forward([control] {
                if (control->OnKeyDown) control->OnKeyDown(kKeyReturn);
              });
            });
          }
          connect(combo, &QComboBox::activated, this, [this, control, combo](int index) {
            control->ItemIndex = index;
            control->Text = combo->itemText(index).toStdString();
            Forward(control->OnChange);
          });
          bindings_.push_back({[combo, control, pick] {
            const QStringList items = Lines(control->Items);
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
            if (shown != items) {
              combo->clear();
              combo->addItems(items);
            }
            if (pick) {
              if (combo->currentIndex() != control->ItemIndex)
                combo->setCurrentIndex(control->ItemIndex);
            } else if (combo->currentText() != Q(control->Text)) {
              combo->setEditText(Q(control->Text));
            }
          }});
          widget = combo;
        } else if constexpr (std::is_same_v<T, TRadioGroup>) {
          // In a laid-out page the row's caption names the choice and the buttons stand in a
          // line; alone, the group is a frame of its own.
          QWidget* box =
              inPage ? new QWidget(this)
                     : new QGroupBox(Q(control->Caption.empty() ? control->Name : control->Caption),
                                     this);
          // More than four choices stand one under another, so that the page stays within a
          // small or 200 % screen without scrolling sideways.
          const int count = control->Items.Count();
          const int perRow = inPage && count <= 4 ? std::max(count, 1) : 1;
          auto* grid = new QGridLayout(box);
          if (inPage) grid->setContentsMargins(0, 0, 0, 0);
          auto* exclusive = new QButtonGroup(box);
          for (int i = 0; i < count; ++i) {
            auto* radio = new QRadioButton(Q(control->Items[i]), box);
            radio->setObjectName(Q(control->Name + "_" + control->Items[i]));
            exclusive->addButton(radio, i);
            grid->addWidget(radio, i / perRow, i % perRow);
          }
          if (inPage) grid->setColumnStretch(perRow, 1);
          connect(exclusive, &QButtonGroup::idClicked, this, [this, control](int id) {
            control->ItemIndex = id;
            Forward(control->OnClick);
          });
          bindings_.push_back({[exclusive, control] {
            if (QAbstractButton* b = exclusive->button(control->ItemIndex)) b->setChecked(true);
          }});
          widget = box;
        } else if constexpr (std::is_same_v<T, TMemo>) {
          auto* memo = new QPlainTextEdit(this);
          memo->setLineWrapMode(QPlainTextEdit::NoWrap);
          // A read-only memo's lines line up their columns with tabs, as on a terminal.
          if (control->ReadOnly) {
            memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            memo->setTabStopDistance(memo->fontMetrics().horizontalAdvance(' ') * 8);
          }
          int columns = 40;
          for (const std::string& line : control->Lines.Lines()) {
            int width = 0;
            for (char c : line) width = c == '\t' ? (width / 8 + 1) * 8 : width + 1;
            columns = std::max(columns, width + 4);
          }
          memo->setMinimumSize(
              memo->fontMetrics().horizontalAdvance('x') * std::min(columns, 100),
              memo->fontMetrics().lineSpacing() * (std::clamp(control->Lines.Count(), 4, 16) + 2));
          // A fixed text is as tall as its lines, not a box of blank space.
          if (control->ReadOnly) memo->setMaximumHeight(memo->minimumHeight());
          connect(memo, &QPlainTextEdit::textChanged, this, [this, control, memo] {
            if (syncing_ || control->ReadOnly) return;
            control->Lines.SetText(memo->toPlainText().toStdString());
          });
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
                  [this, control](const QDateTime& value) {
                    if (syncing_) return;
                    // A time picker keeps the day it holds; a date picker its time of day.
                    const QDateTime held = ToQDateTime(control->DateTime);
                    const QDateTime merged = control->Kind == dtkTime
                                                 ? QDateTime(held.date(), value.time())
                                                 : QDateTime(value.date(), held.time());
                    control->DateTime = FromQDateTime(merged);
                    Forward(control->OnChange);
                  });
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
          bindings_.push_back({[button, control] { button->setText(Q(control->Caption)); }});
          widget = button;
        }
        if (widget->objectName().isEmpty()) widget->setObjectName(Q(control->Name));
        // Visible and Enabled apply to every kind.
        bindings_.push_back({[widget, control] {
          widget->setVisible(control->Visible);
          widget->setEnabled(control->Enabled);
        }});
      },
      ref);
  return widget;
}

namespace {

std::string CaptionOf(const ControlRef& ref) {
  if (auto* const* edit = std::get_if<TEdit*>(&ref))
    return (*edit)->Label.empty() ? (*edit)->Name : (*edit)->Label;
  if (auto* const* combo = std::get_if<TComboBox*>(&ref)) return (*combo)->Name;
  if (auto* const* picker = std::get_if<TDateTimePicker*>(&ref)) return (*picker)->Name;
  return {};
}

}  // namespace

void FormDialog::AddRow(QFormLayout* form, const FormRow& row, bool inPage) {
  // A lone button keeps its own width; other lone controls take the row.
  if (row.Controls.size() == 1 && !std::holds_alternative<TButton*>(row.Controls.front())) {
    QWidget* widget = Make(row.Controls.front(), inPage);
    if (row.Caption.empty()) {
      form->addRow(widget);
    } else {
      form->addRow(Q(row.Caption), widget);
    }
    return;
  }
  auto* line = new QHBoxLayout;
  for (const ControlRef& ref : row.Controls) line->addWidget(Make(ref, inPage));
  line->addStretch(1);
  if (row.Caption.empty()) {
    form->addRow(line);
  } else {
    form->addRow(Q(row.Caption), line);
  }
}

QWidget* FormDialog::BuildPage(const FormPage& page) {
  auto* widget = new QWidget(this);
  auto* column = new QVBoxLayout(widget);
  for (const FormSection& section : page.Sections) {
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (const FormRow& row : section.Rows) AddRow(form, row, true);
    if (!section.Note.empty()) {
      auto* note = new QLabel(Q(section.Note), widget);
      note->setWordWrap(true);
      note->setForegroundRole(QPalette::PlaceholderText);
      form->addRow(note);
    }
    if (section.Title.empty()) {
      column->addLayout(form);
    } else {
      auto* frame = new QGroupBox(Q(section.Title), widget);
      frame->setLayout(form);
      column->addWidget(frame);
    }
  }
  column->addStretch(1);
  return widget;
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
  if (!layout_.ReportPages.empty()) {
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("Pages");
    // Every title in sight when the screen has the width; scroll buttons on a narrow one.
    tabs->setUsesScrollButtons(true);
    for (const ReportPage& page : layout_.ReportPages) {
      auto* table = new QTreeWidget(tabs);
      table->setObjectName(Q(page.Title));
      table->setColumnCount(2);
      table->setHeaderHidden(true);
      table->setRootIsDecorated(false);
      table->setAlternatingRowColors(true);
      table->setSelectionMode(QAbstractItemView::ExtendedSelection);
      // The preferred size shows a page whole; a small screen may have less (it scrolls).
      table->setMinimumSize(table->fontMetrics().horizontalAdvance('x') * 36,
                            table->fontMetrics().lineSpacing() * 6);
      preferred_ = preferred_.expandedTo(QSize(table->fontMetrics().horizontalAdvance('x') * 72,
                                               table->fontMetrics().lineSpacing() * 16));
      tabs->addTab(table, Q(page.Title));
      auto fields = page.Fields;
      report_syncs_.push_back([table, fields] {
        const auto pairs = fields();
        bool same = table->topLevelItemCount() == static_cast<int>(pairs.size());
        for (int i = 0; same && i < table->topLevelItemCount(); ++i) {
          same = table->topLevelItem(i)->text(0) == Q(pairs[i].first) &&
                 table->topLevelItem(i)->text(1) == Q(pairs[i].second);
        }
        if (same) return;
        table->clear();
        for (const auto& [name, value] : pairs) {
          auto* item = new QTreeWidgetItem(table, QStringList{Q(name), Q(value)});
          if (name.empty()) item->setFirstColumnSpanned(true);
          if (name.empty()) item->setText(0, Q(value));
        }
        table->resizeColumnToContents(0);
      });
    }
    outer->addWidget(tabs);
    PreferAllTabs(tabs);
  }
  buttons_ = new QHBoxLayout;
  buttons_->addStretch(1);
  if (!layout_.Pages.empty()) {
    if (layout_.Pages.size() == 1 && layout_.Pages.front().Title.empty()) {
      QWidget* page = BuildPage(layout_.Pages.front());
      page->layout()->setContentsMargins(0, 0, 0, 0);
      outer->addWidget(page);
    } else {
      auto* tabs = new QTabWidget(this);
      tabs->setObjectName("Pages");
      // Every page's title in sight when the screen has the width (the dialog asks to be as
      // wide as the row of tabs); scroll buttons on a narrow one.
      tabs->setUsesScrollButtons(true);
      for (const FormPage& page : layout_.Pages) {
        // Each page scrolls when the screen is too small for it (a laptop at 200 %), so the
        // buttons below stay in reach.
        auto* scroll = new QScrollArea(tabs);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QWidget* content = BuildPage(page);
        scroll->setWidget(content);
        // Only the height scrolls: the page is never narrower than its widest row.
        scroll->setMinimumWidth(content->minimumSizeHint().width() +
                                scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
        // Where the screen has the room, the tallest page shows whole.
        preferred_ = preferred_.expandedTo(QSize(0, content->sizeHint().height()));
        tabs->addTab(scroll, Q(page.Title));
      }
      outer->addWidget(tabs);
      PreferAllTabs(tabs);
    }
  }
  auto* fields = new QFormLayout;
  for (const ControlRef& ref : layout_.Controls) {
    QWidget* widget = Make(ref, false);
    if (std::holds_alternative<TButton*>(ref)) {
      buttons_->addWidget(widget);
    } else if (std::holds_alternative<TEdit*>(ref) || std::holds_alternative<TComboBox*>(ref) ||
               std::holds_alternative<TDateTimePicker*>(ref)) {
      fields->addRow(Q(CaptionOf(ref)), widget);
    } else {
      fields->addRow(widget);
    }
  }
  if (fields->rowCount() > 0) {
    outer->addLayout(fields);
  } else {
    delete fields;
  }
  outer->addLayout(buttons_);
  // A short question still reads as a dialog, not a strip around its words.
  if (!layout_.Pages.empty()) setMinimumWidth(fontMetrics().horizontalAdvance('x') * 44);
  if (layout_.Decorate) layout_.Decorate(*this, *outer, *buttons_);
}

void FormDialog::PreferAllTabs(QTabWidget* tabs) {
  // Wide enough for every tab's title, where the screen allows it.
  int width = 0;
  for (int i = 0; i < tabs->count(); ++i)
    width += tabs->fontMetrics().horizontalAdvance(tabs->tabText(i)) + 28;
  preferred_ = preferred_.expandedTo(QSize(width, 0));
}

void FormDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (fitted_) return;
  fitted_ = true;
  // As large as its content asks for, and never larger than the screen it shows on: the pages
  // scroll instead, and the buttons stay on the screen.
  QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!shown) return;
  const QRect room = shown->availableGeometry();
  // Room for the window manager's frame: what it is, once the window has one, else enough for a
  // title bar.
  const QRect outer = frameGeometry();
  const int frameWidth = outer.width() - width();
  const int frameHeight = std::max(outer.height() - height(), 48);
  QSize wanted = sizeHint().expandedTo(minimumSizeHint());
  if (preferred_.isValid()) wanted = wanted.expandedTo(preferred_ + QSize(40, 120));
  resize(std::min(wanted.width(), room.width() - frameWidth),
         std::min(wanted.height(), room.height() - frameHeight));
  // Moved in (frame and all) when it would stick out of the screen.
  QRect placed(frameGeometry().topLeft(), size() + QSize(frameWidth, frameHeight));
  if (placed.right() > room.right()) placed.moveRight(room.right());
  if (placed.bottom() > room.bottom()) placed.moveBottom(room.bottom());
  if (placed.left() < room.left()) placed.moveLeft(room.left());
  if (placed.top() < room.top()) placed.moveTop(room.top());
  if (placed.topLeft() != frameGeometry().topLeft()) move(placed.topLeft());
}

void FormDialog::Sync() {
  syncing_ = true;
  setWindowTitle(Q(form_.Caption));
  for (auto& sync : report_syncs_) sync();
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

namespace qor::gui {

void RegisterProgramForms() {
  RegisterOptionsDialog();
  RegisterOpenMediaDialog();
  RegisterPasswordDialogs();
  RegisterResumeDialog();
  RegisterDateTimeDialog();
  RegisterAboutDialog();
  RegisterInfoDialog();
}

}  // namespace qor::gui
