#include "gui/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

#include "app/application.h"
#include "gui/control_widgets.h"
#include "gui/qt_desktop.h"

namespace qor::gui {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

TColor FromQColor(const QColor& c) {
  return TColor{static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                static_cast<uint8_t>(c.blue())};
}

void SetTextIfChanged(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

bool IsDark(const QPalette& palette) {
  return palette.color(QPalette::Base).lightness() < 128;
}

// Room left for the window manager's frame and title bar when the window is fitted to a screen.
constexpr int kFrameAllowance = 48;

}  // namespace

QColor MainWindow::Readable(TColor colour, const QPalette& palette) {
  if (colour == clBlack) return palette.color(QPalette::Text);
  QColor shown(colour.Red, colour.Green, colour.Blue);
  if (!IsDark(palette)) return shown;
  // The same hue, light enough to read on a dark base (pure blue or dark green would not be).
  float hue = 0, saturation = 0, lightness = 0;
  shown.getHslF(&hue, &saturation, &lightness);
  if (lightness < 0.68f) shown.setHslF(hue, saturation, 0.68f);
  return shown;
}

MainWindow::MainWindow(TApplication& app, QtDesktop& desktop, QWidget* parent)
    : QMainWindow(parent), app_(app), form_(*app.MainForm), desktop_(desktop) {
  setObjectName("MainForm");
  setWindowTitle(Q(form_.Caption));

  // The gauge's design values: a red bar, bold 15 px text; its ground follows the palette.
  TCGauge& gauge = form_.ProgBar.Gauge;
  gauge.SetSize(393, 17);
  gauge.SetForeColor(clRed);
  gauge.SetFont(TFont{QApplication::font().family().toStdString(), 15, true});

  BuildMenu();
  BuildToolBar();
  BuildCentre();

  help_ = new QLabel(this);
  help_->setObjectName("StatusBar");
  // A long documentation path must not make the window wider than the screen.
  help_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusBar()->addWidget(help_, 1);
  QLabel* countdown = BindLabel(form_.VcrCountdown);
  countdown->setStyleSheet(QString());
  statusBar()->addPermanentWidget(countdown);

  auto previous = form_.LogWindow.OnChange;
  form_.LogWindow.OnChange = [this, previous] {
    if (form_.LogWindow.Count() == 0) log_cleared_ = true;
    if (previous) previous();
  };
  form_.LogWindow.OnSetFocus = [this] { log_->setFocus(Qt::OtherFocusReason); };
  form_.OnHide = [this] {
    closing_ = true;
    hide();
    emit closed();
  };
  desktop_.SetParentWindow(this);
  desktop_.OnRepaint = [this] {
    Sync();
    repaint();
  };

  ReadablePlaceholders();
  ApplyPalette();
  FitScreen();
  Sync();
}

MainWindow::~MainWindow() {
  form_.LogWindow.OnSetFocus = nullptr;
  form_.OnHide = nullptr;
  desktop_.OnRepaint = nullptr;
  desktop_.SetParentWindow(nullptr);
}

void MainWindow::FitScreen() {
  QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
  const QRect room = shown ? shown->availableGeometry() : QRect(0, 0, 4096, 4096);
  // The minimum leaves room for a title bar; a stored size (the user's own) is only kept within
  // the screen, where the window manager fits its frame as it does for a maximised window.
  const int roomHeight = std::max(200, room.height() - kFrameAllowance);
  setMinimumSize(std::min(form_.MinWidth, room.width()), std::min(form_.MinHeight, roomHeight));
  resize(std::min(form_.Width, room.width()), std::min(form_.Height, room.height()));
  // Where the platform lets a program place its window (X11 does, Wayland does not), and never
  // where none of it shows.
  if (form_.Left != 0 || form_.Top != 0) {
    const int left = std::clamp(form_.Left, room.left(), std::max(room.left(), room.right() - 100));
    const int top = std::clamp(form_.Top, room.top(), std::max(room.top(), room.bottom() - 100));
    move(left, top);
  }
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (fitted_) return;
  fitted_ = true;
  // Once the frame is known: frame and all within the screen.
  QScreen* shown = screen();
  if (!shown) return;
  const QRect room = shown->availableGeometry();
  const QRect outer = frameGeometry();
  const QSize extra = outer.size() - size();
  setMinimumSize(std::min(minimumWidth(), room.width() - extra.width()),
                 std::min(minimumHeight(), room.height() - extra.height()));
  if (outer.width() > room.width() || outer.height() > room.height())
    resize(std::min(width(), room.width() - extra.width()),
           std::min(height(), room.height() - extra.height()));
  QRect placed(frameGeometry().topLeft(), size() + extra);
  if (placed.right() > room.right()) placed.moveRight(room.right());
  if (placed.bottom() > room.bottom()) placed.moveBottom(room.bottom());
  if (placed.left() < room.left()) placed.moveLeft(room.left());
  if (placed.top() < room.top()) placed.moveTop(room.top());
  if (placed.topLeft() != outer.topLeft()) move(placed.topLeft());
}

void MainWindow::Forward(const std::function<void()>& handler) {
  if (syncing_) return;
  CopyEdits();
  try {
    if (handler) handler();
  } catch (...) {
    // Never through Qt: the form's handler logs it and ends the download cleanly.
    try {
      form_.QorHandleException("MainForm", std::current_exception());
    } catch (...) {
    }
  }
  Sync();
}

void MainWindow::CopyEdits() {
  form_.URL.Text = url_->currentText().toStdString();
}

// ---- The controls ----

QLabel* MainWindow::BindLabel(TLabel& label) {
  auto* widget = new QLabel(this);
  widget->setObjectName(Q(label.Name));
  syncs_.push_back([widget, &label] {
    SetTextIfChanged(widget, Q(label.Caption));
    // The logic's black is the palette's own text colour.
    const QString style =
        label.FontColor == clBlack
            ? QString()
            : QString("color: %1;").arg(Readable(label.FontColor, widget->palette()).name());
    if (widget->styleSheet() != style) widget->setStyleSheet(style);
    widget->setVisible(label.Visible);
    widget->setEnabled(label.Enabled);
  });
  return widget;
}

QLineEdit* MainWindow::BindEdit(TEdit& edit, int width) {
  auto* widget = new QLineEdit(this);
  widget->setObjectName(Q(edit.Name));
  widget->setReadOnly(edit.ReadOnly);
  widget->setFocusPolicy(Qt::ClickFocus);
  widget->setFixedWidth(width);
  widget->setAlignment(Qt::AlignCenter);
  syncs_.push_back([widget, &edit] {
    if (widget->text() != Q(edit.Text)) widget->setText(Q(edit.Text));
    widget->setEnabled(edit.Enabled);
  });
  return widget;
}

QWidget* MainWindow::BindRadioGroup(TRadioGroup& group, const char* title) {
  auto* box = new QGroupBox(group.Caption.empty() ? QString(title) : Q(group.Caption), this);
  box->setObjectName(Q(group.Name));
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(6, 2, 6, 2);
  auto* exclusive = new QButtonGroup(box);
  for (int i = 0; i < group.Items.Count(); ++i) {
    auto* radio = new QRadioButton(Q(group.Items[i]), box);
    exclusive->addButton(radio, i);
    row->addWidget(radio);
  }
  connect(exclusive, &QButtonGroup::idClicked, this, [this, &group](int id) {
    group.ItemIndex = id;
    Forward(group.OnClick);
  });
  syncs_.push_back([exclusive, &group] {
    if (QAbstractButton* b = exclusive->button(group.ItemIndex)) {
      if (!b->isChecked()) b->setChecked(true);
    }
  });
  return box;
}

void MainWindow::BuildCentre() {
  auto* centre = new QWidget(this);
  auto* column = new QVBoxLayout(centre);
  column->setContentsMargins(8, 6, 8, 6);
  column->setSpacing(6);

  // Where from and where to.
  auto* places = new QGridLayout;
  places->setColumnStretch(1, 1);
  url_ = new QComboBox(centre);
  url_->setObjectName("URL");
  url_->setEditable(true);
  url_->setInsertPolicy(QComboBox::NoInsert);
  url_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  url_->setMinimumContentsLength(30);
  url_->lineEdit()->setPlaceholderText("A stream, a play list or a saved file; Enter starts Go");
  // What the user types is the control's text at once: the state shown after every turn of the
  // window thread must not put the old text back under the cursor.
  connect(url_, &QComboBox::editTextChanged, this, [this](const QString& text) {
    if (syncing_) return;
    form_.URL.Text = text.toStdString();
    if (form_.URL.OnChange) Forward(form_.URL.OnChange);
  });
  TComboBox* urlBox = &form_.URL;
  connect(url_, &QComboBox::activated, this, [this, urlBox](int index) {
    Forward([urlBox, index] {
      urlBox->SetItemIndex(index);
      if (urlBox->OnChange) urlBox->OnChange();
    });
  });
  connect(url_->lineEdit(), &QLineEdit::returnPressed, this, [this, urlBox] {
    Forward([urlBox] {
      if (urlBox->OnKeyDown) urlBox->OnKeyDown(kKeyReturn);
    });
  });
  syncs_.push_back([this] {
    const TComboBox& url = form_.URL;
    QStringList items;
    for (const std::string& line : url.Items.Lines()) items << Q(line);
    QStringList shown;
    for (int i = 0; i < url_->count(); ++i) shown << url_->itemText(i);
    if (shown != items) {
      const QString text = url_->currentText();
      url_->clear();
      url_->addItems(items);
      url_->setEditText(text);
    }
    if (url_->currentText() != Q(url.Text)) url_->setEditText(Q(url.Text));
    url_->setEnabled(url.Enabled);
  });
  auto* media = BindLabel(form_.MediaWindow);
  auto* save = BindLabel(form_.SaveWindow);
  for (QLabel* label : {media, save}) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setFrameShape(QFrame::StyledPanel);
    label->setMinimumHeight(url_->sizeHint().height() - 4);
  }
  auto* locationLabel = new QLabel("&Location:", centre);
  locationLabel->setBuddy(url_);
  places->addWidget(locationLabel, 0, 0);
  places->addWidget(url_, 0, 1);
  places->addWidget(new QLabel("Media:", centre), 1, 0);
  places->addWidget(media, 1, 1);
  places->addWidget(new QLabel("Save file:", centre), 2, 0);
  places->addWidget(save, 2, 1);
  column->addLayout(places);

  // What kind of session runs, and how far it is.
  auto* state = new QHBoxLayout;
  for (TLabel* label :
       {&form_.Standby, &form_.PreRec, &form_.Live, &form_.VCR, &form_.Progressive}) {
    QLabel* widget = BindLabel(*label);
    QFont bold = widget->font();
    bold.setBold(true);
    widget->setFont(bold);
    state->addWidget(widget);
  }
  state->addStretch(1);
  gauge_ = new GaugeWidget(form_.ProgBar.Gauge, centre);
  gauge_->setObjectName("ProgBar");
  gauge_->setToolTip("Download percentage completed");
  gauge_->setStatusTip("Download percentage completed");
  state->addWidget(gauge_);
  column->addLayout(state);

  // The counters.
  auto* counters = new QHBoxLayout;
  auto addField = [&](QBoxLayout* layout, const char* caption, TEdit& edit, int width) {
    auto* label = new QLabel(caption, centre);
    layout->addWidget(label);
    layout->addWidget(BindEdit(edit, width));
    layout->addSpacing(8);
  };
  const int timeWidth = fontMetrics().horizontalAdvance("000 : 00 : 00") + 16;
  addField(counters, "Total time", form_.TimeTotal, timeWidth);
  addField(counters, "Stream time", form_.SendTime, timeWidth);
  addField(counters, "Protocol", form_.ProtoDisp, fontMetrics().horizontalAdvance("HTTP") + 20);
  counters->addStretch(1);
  column->addLayout(counters);

  // The log beside the rate graph, with a splitter between: the log is what the user reads, so
  // it takes most of what the window grows by, and the graph can be pushed aside.
  splitter_ = new QSplitter(Qt::Horizontal, centre);
  splitter_->setObjectName("LogSplitter");
  BuildLog(splitter_);
  splitter_->addWidget(log_);

  auto* right = new QWidget(splitter_);
  auto* rightColumn = new QVBoxLayout(right);
  rightColumn->setContentsMargins(0, 0, 0, 0);
  graph_ = new GraphWidget(form_.PerformanceGraph1, right);
  graph_->setObjectName("PerformanceGraph1");
  graph_->setToolTip("Network status monitor");
  graph_->setStatusTip("Network status monitor");
  rightColumn->addWidget(graph_, 1);
  auto* choices = new QHBoxLayout;
  choices->addWidget(BindRadioGroup(form_.GridGroup, "Grid"));
  choices->addWidget(BindRadioGroup(form_.StyleGroup, "Style"));
  rightColumn->addLayout(choices);
  auto* udp = new QGroupBox("UDP recovery", right);
  udp->setObjectName("UdpRecovery");
  auto* udpRow = new QHBoxLayout(udp);
  udpRow->setContentsMargins(6, 2, 6, 2);
  const int countWidth = fontMetrics().horizontalAdvance("0000000") + 12;
  addField(udpRow, "Lost", form_.Lost, countWidth);
  addField(udpRow, "Recovered", form_.Recovered, countWidth);
  udpRow->addStretch(1);
  rightColumn->addWidget(udp);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(0, 3);
  splitter_->setStretchFactor(1, 2);
  // The log starts with the larger part.
  splitter_->setSizes({600, 400});
  splitter_->setCollapsible(0, false);
  column->addWidget(splitter_, 1);

  setCentralWidget(centre);
}

void MainWindow::BuildLog(QWidget* parent) {
  log_ = new QTextEdit(parent);
  log_->setObjectName("LogWindow");
  log_->setReadOnly(true);
  // Long lines wrap, indented under their text, so an error is read whole at any width.
  log_->setLineWrapMode(QTextEdit::WidgetWidth);
  log_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setMinimumWidth(200);
}

// ---- State ----

void MainWindow::SyncLog() {
  const auto& lines = form_.LogWindow.Lines();
  if (log_cleared_ || static_cast<int>(lines.size()) < shown_lines_) {
    log_->clear();
    shown_lines_ = 0;
    log_cleared_ = false;
  }
  if (static_cast<int>(lines.size()) == shown_lines_) return;
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  // Lines that wrap continue under the text, after the "> " mark.
  QTextBlockFormat block;
  const qreal mark = log_->fontMetrics().horizontalAdvance("> ");
  block.setLeftMargin(mark);
  block.setTextIndent(-mark);
  const QPalette palette = log_->palette();
  for (size_t i = static_cast<size_t>(shown_lines_); i < lines.size(); ++i) {
    QTextCharFormat format;
    format.setForeground(Readable(lines[i].Color, palette));
    if (i > 0) {
      cursor.insertBlock(block);
    } else {
      cursor.setBlockFormat(block);
    }
    cursor.insertText(Q(lines[i].Text), format);
  }
  shown_lines_ = static_cast<int>(lines.size());
  QScrollBar* bar = log_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void MainWindow::Sync() {
  if (syncing_) return;
  syncing_ = true;
  SetTextIfChanged(help_, Q(form_.StatusBar.Caption));
  if (windowTitle() != Q(form_.Caption)) setWindowTitle(Q(form_.Caption));
  for (const auto& sync : syncs_) sync();
  SyncLog();
  syncing_ = false;
}

void MainWindow::ReadablePlaceholders() {
  // Some desktops' dark schemes leave the greyed text (prompts in empty boxes, the dialogs'
  // remarks) at a light scheme's grey, which vanishes on a dark base: a grey between the
  // palette's text and base is used instead. Changing the program's palette comes back here once,
  // and then finds nothing to change.
  QPalette palette = QApplication::palette();
  bool changed = false;
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    const QColor base = palette.color(group, QPalette::Base);
    const QColor text = palette.color(group, QPalette::Text);
    const QColor placeholder = palette.color(group, QPalette::PlaceholderText);
    if (std::abs(placeholder.lightness() - base.lightness()) >= 70) continue;
    palette.setColor(
        group, QPalette::PlaceholderText,
        QColor((text.red() * 11 + base.red() * 9) / 20, (text.green() * 11 + base.green() * 9) / 20,
               (text.blue() * 11 + base.blue() * 9) / 20));
    changed = true;
  }
  if (changed) QApplication::setPalette(palette);
}

void MainWindow::ApplyPalette() {
  // The gauge keeps its designed tooltip-yellow ground on a light desktop; on a dark one it takes
  // the base colour, where the inverted percentage still reads.
  const QPalette shown = palette();
  const QColor ground = IsDark(shown) ? shown.color(QPalette::Base)
                                      : QToolTip::palette().color(QPalette::ToolTipBase);
  form_.ProgBar.Gauge.SetBackColor(FromQColor(ground));
  // The log's lines take their colours again.
  log_cleared_ = true;
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    ReadablePlaceholders();
    ApplyPalette();
    Sync();
  }
}

// ---- Closing ----

void MainWindow::StoreGeometry() {
  // Stored as the form keeps it: the window's own size, and where its frame is.
  form_.Width = width();
  form_.Height = height();
  form_.Left = frameGeometry().x();
  form_.Top = frameGeometry().y();
}

// Kept current, so every way of closing stores what the user last saw.
void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (!closing_ && isVisible()) StoreGeometry();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (!closing_ && isVisible()) StoreGeometry();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_ || form_.Closed()) {
    event->accept();
    return;
  }
  // The close box takes the same way as Exit: it may be put off while a location is fetched, or
  // by the user while a recording runs.
  event->ignore();
  Forward([this] { form_.RequestClose(); });
}

}  // namespace qor::gui
