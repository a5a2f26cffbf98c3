#include "gui/main_window.h"

#include <QAction>
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
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/application.h"
#include "gui/control_widgets.h"
#include "gui/qt_desktop.h"

namespace qor::gui {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QColor ToQColor(TColor c) {
  return QColor(c.Red, c.Green, c.Blue);
}

TColor FromQColor(const QColor& c) {
  return TColor{static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                static_cast<uint8_t>(c.blue())};
}

void SetTextIfChanged(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

}  // namespace

MainWindow::MainWindow(TApplication& app, QtDesktop& desktop, QWidget* parent)
    : QMainWindow(parent), app_(app), form_(*app.MainForm), desktop_(desktop) {
  setObjectName("MainForm");
  setWindowTitle(Q(form_.Caption));

  // The gauge's design values: a red bar on the desktop's tooltip colour, bold 15 px text.
  TCGauge& gauge = form_.ProgBar.Gauge;
  gauge.SetSize(393, 17);
  gauge.SetForeColor(clRed);
  gauge.SetBackColor(FromQColor(QToolTip::palette().color(QPalette::ToolTipBase)));
  gauge.SetFont(TFont{QApplication::font().family().toStdString(), 15, true});

  BuildMenu();
  BuildToolBar();
  BuildCentre();

  help_ = new QLabel(this);
  help_->setObjectName("StatusBar");
  statusBar()->addWidget(help_, 1);

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

  setMinimumSize(form_.MinWidth, form_.MinHeight);
  resize(form_.Width, form_.Height);
  // Where the platform lets a program place its window (X11 does, Wayland does not).
  if (form_.Left != 0 || form_.Top != 0) move(form_.Left, form_.Top);
  Sync();
}

MainWindow::~MainWindow() {
  form_.LogWindow.OnSetFocus = nullptr;
  form_.OnHide = nullptr;
  desktop_.OnRepaint = nullptr;
  desktop_.SetParentWindow(nullptr);
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

// ---- Menu and toolbar ----

QAction* MainWindow::BindMenuItem(QMenu* menu, TMenuItem& item) {
  QAction* action = menu->addAction(Q(item.Caption));
  action->setObjectName(Q(item.Name));
  connect(action, &QAction::triggered, this, [this, &item] { Forward([&item] { item.Click(); }); });
  syncs_.push_back([action, &item] {
    action->setEnabled(item.Enabled);
    action->setVisible(item.Visible);
  });
  return action;
}

QAction* MainWindow::AddMenuAction(QMenu* menu, const char* caption, void (TMainForm::*handler)()) {
  QAction* action = menu->addAction(caption);
  TMainForm* form = &form_;
  connect(action, &QAction::triggered, this,
          [this, form, handler] { Forward([form, handler] { (form->*handler)(); }); });
  return action;
}

void MainWindow::BuildMenu() {
  QMenu* file = menuBar()->addMenu("&File");
  BindMenuItem(file, form_.Open1);
  file->addSeparator();
  AddMenuAction(file, "&Save Log", &TMainForm::SaveLog1Click)->setObjectName("SaveLog1");
  AddMenuAction(file, "&Print Log", &TMainForm::Print1Click)->setObjectName("Print1");
  AddMenuAction(file, "P&rint Setup...", &TMainForm::PrintSetup1Click)
      ->setObjectName("PrintSetup1");
  file->addSeparator();
  AddMenuAction(file, "E&xit", &TMainForm::Exit1Click)->setObjectName("Exit1");

  QMenu* download = menuBar()->addMenu("&Download");
  BindMenuItem(download, form_.ConnectionSingle);
  BindMenuItem(download, form_.ConnectionBatch);
  BindMenuItem(download, form_.Disconnection);
  download->addSeparator();
  AddMenuAction(download, "VC&R Time Set", &TMainForm::VcrTimeSet1Click)
      ->setObjectName("VcrTimeSet1");
  AddMenuAction(download, "V&CR On", &TMainForm::VCROn1Click)->setObjectName("VCROn1");

  QMenu* view = menuBar()->addMenu("Vie&w");
  AddMenuAction(view, "&Show Properties", &TMainForm::ShowFileProperties1Click)
      ->setObjectName("ShowFileProperties1");
  AddMenuAction(view, "&Open Monitor", &TMainForm::OpenMonitor1Click)
      ->setObjectName("OpenMonitor1");
  view->addSeparator();
  AddMenuAction(view, "&Setup Options", &TMainForm::ViewSetupClick)->setObjectName("ViewSetup");

  QMenu* help = menuBar()->addMenu("&Help");
  AddMenuAction(help, "&View Readme file", &TMainForm::ReadMe1Click)->setObjectName("ReadMe1");
  AddMenuAction(help, "&Qor Web Site", &TMainForm::VisitQorWebSite1Click)
      ->setObjectName("VisitQorWebSite1");
  AddMenuAction(help, "Qor &Media Test Site", &TMainForm::QorMediatestSite1Click)
      ->setObjectName("QorMediatestSite1");
  help->addSeparator();
  AddMenuAction(help, "&About Qor", &TMainForm::About1Click)->setObjectName("About1");
}

QPushButton* MainWindow::BindButton(TButton& button) {
  auto* widget = new QPushButton(Q(button.Caption), this);
  widget->setObjectName(Q(button.Name));
  // As wide as its caption needs: the nine buttons fit the narrowest window in one row.
  QString shown = Q(button.Caption);
  shown.remove('&');
  widget->setMaximumWidth(widget->fontMetrics().horizontalAdvance(shown) + 28);
  widget->setFocusPolicy(Qt::TabFocus);
  connect(widget, &QPushButton::clicked, this,
          [this, &button] { Forward([&button] { button.Click(); }); });
  syncs_.push_back([widget, &button] {
    widget->setEnabled(button.Enabled);
    widget->setVisible(button.Visible);
  });
  return widget;
}

void MainWindow::BuildToolBar() {
  QToolBar* bar = addToolBar("Toolbar");
  bar->setObjectName("Toolbar");
  bar->setMovable(false);
  bar->setFloatable(false);
  for (TButton* button : {&form_.Open, &form_.Connect, &form_.ConnectBatch, &form_.Abort}) {
    bar->addWidget(BindButton(*button));
  }
  bar->addSeparator();
  for (TButton* button : {&form_.Info, &form_.Preview}) bar->addWidget(BindButton(*button));
  bar->addSeparator();
  for (TButton* button : {&form_.VcrSet, &form_.VcrPower}) bar->addWidget(BindButton(*button));
  auto* spacer = new QWidget(bar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  bar->addWidget(spacer);
  bar->addWidget(BindButton(form_.Exit));
}

// ---- The controls ----

QLabel* MainWindow::BindLabel(TLabel& label) {
  auto* widget = new QLabel(this);
  widget->setObjectName(Q(label.Name));
  syncs_.push_back([widget, &label] {
    SetTextIfChanged(widget, Q(label.Caption));
    const QString style = QString("color: %1;").arg(ToQColor(label.FontColor).name());
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
  places->addWidget(new QLabel("&Location:", centre), 0, 0);
  qobject_cast<QLabel*>(places->itemAtPosition(0, 0)->widget())->setBuddy(url_);
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

  // The log beside the rate graph; both take what the window grows by.
  auto* body = new QHBoxLayout;
  log_ = new QTextEdit(centre);
  log_->setObjectName("LogWindow");
  log_->setReadOnly(true);
  log_->setLineWrapMode(QTextEdit::NoWrap);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setMinimumWidth(280);
  body->addWidget(log_, 3);

  auto* right = new QVBoxLayout;
  graph_ = new GraphWidget(form_.PerformanceGraph1, centre);
  graph_->setObjectName("PerformanceGraph1");
  graph_->setToolTip("Network status monitor");
  graph_->setStatusTip("Network status monitor");
  right->addWidget(graph_, 1);
  auto* choices = new QHBoxLayout;
  choices->addWidget(BindRadioGroup(form_.GridGroup, "Grid"));
  choices->addWidget(BindRadioGroup(form_.StyleGroup, "Style"));
  right->addLayout(choices);
  auto* udp = new QGroupBox("UDP recovery", centre);
  udp->setObjectName("UdpRecovery");
  auto* udpRow = new QHBoxLayout(udp);
  udpRow->setContentsMargins(6, 2, 6, 2);
  const int countWidth = fontMetrics().horizontalAdvance("0000000") + 12;
  addField(udpRow, "Lost", form_.Lost, countWidth);
  addField(udpRow, "Recovered", form_.Recovered, countWidth);
  udpRow->addStretch(1);
  right->addWidget(udp);
  body->addLayout(right, 2);
  column->addLayout(body, 1);

  setCentralWidget(centre);
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
  for (size_t i = static_cast<size_t>(shown_lines_); i < lines.size(); ++i) {
    QTextCharFormat format;
    format.setForeground(ToQColor(lines[i].Color));
    if (i > 0) cursor.insertBlock();
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
  // The close box takes the same way as Exit: it may be put off while a location is fetched.
  event->ignore();
  Forward([this] { form_.RequestClose(); });
}

}  // namespace qor::gui
