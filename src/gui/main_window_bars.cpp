// The main window's menu and toolbar: each entry forwards to the form's handler; the state of the
// form's menu items and buttons (enabled, checked, a button's font colour) is shown at each Sync.

#include <QAction>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>

#include "app/application.h"
#include "gui/main_window.h"

namespace qor::gui {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

QAction* MainWindow::BindMenuItem(QMenu* menu, TMenuItem& item) {
  QAction* action = menu->addAction(Q(item.Caption));
  action->setObjectName(Q(item.Name));
  connect(action, &QAction::triggered, this, [this, &item] { Forward([&item] { item.Click(); }); });
  syncs_.push_back([action, &item] {
    action->setEnabled(item.Enabled);
    action->setVisible(item.Visible);
    if (action->isCheckable() && action->isChecked() != item.Checked)
      action->setChecked(item.Checked);
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
  // The desktop's usual keys; within a menu no two entries share a mnemonic.
  QMenu* file = menuBar()->addMenu("&File");
  BindMenuItem(file, form_.Open1)->setShortcut(QKeySequence::Open);
  AddMenuAction(file, "R&epair...", &TMainForm::Repair1Click)->setObjectName("Repair1");
  file->addSeparator();
  QAction* save = AddMenuAction(file, "&Save Log", &TMainForm::SaveLog1Click);
  save->setObjectName("SaveLog1");
  save->setShortcut(QKeySequence::Save);
  QAction* print = AddMenuAction(file, "&Print Log", &TMainForm::Print1Click);
  print->setObjectName("Print1");
  print->setShortcut(QKeySequence::Print);
  AddMenuAction(file, "P&rint Setup...", &TMainForm::PrintSetup1Click)
      ->setObjectName("PrintSetup1");
  AddMenuAction(file, "C&lear Log", &TMainForm::ClearLog1Click)->setObjectName("ClearLog1");
  file->addSeparator();
  QAction* quit = AddMenuAction(file, "E&xit", &TMainForm::Exit1Click);
  quit->setObjectName("Exit1");
  quit->setShortcut(QKeySequence::Quit);
  quit->setMenuRole(QAction::QuitRole);

  QMenu* download = menuBar()->addMenu("&Download");
  BindMenuItem(download, form_.ConnectionSingle);
  BindMenuItem(download, form_.ConnectionBatch);
  BindMenuItem(download, form_.Disconnection);
  download->addSeparator();
  AddMenuAction(download, "VC&R Time Set", &TMainForm::VcrTimeSet1Click)
      ->setObjectName("VcrTimeSet1");
  // Checked while armed: the logic decides, the entry shows it.
  BindMenuItem(download, form_.VCROn1)->setCheckable(true);

  QMenu* view = menuBar()->addMenu("Vie&w");
  AddMenuAction(view, "&Show Properties", &TMainForm::ShowFileProperties1Click)
      ->setObjectName("ShowFileProperties1");
  AddMenuAction(view, "&Open Monitor", &TMainForm::OpenMonitor1Click)
      ->setObjectName("OpenMonitor1");
  view->addSeparator();
  AddMenuAction(view, "Se&tup Options", &TMainForm::ViewSetupClick)->setObjectName("ViewSetup");

  QMenu* help = menuBar()->addMenu("&Help");
  AddMenuAction(help, "&View Readme file", &TMainForm::ReadMe1Click)->setObjectName("ReadMe1");
  QAction* site = AddMenuAction(help, "&Qor Web Site", &TMainForm::VisitQorWebSite1Click);
  site->setObjectName("VisitQorWebSite1");
  site->setShortcut(QKeySequence::HelpContents);
  AddMenuAction(help, "Qor &Media Test Site", &TMainForm::QorMediatestSite1Click)
      ->setObjectName("QorMediatestSite1");
  help->addSeparator();
  QAction* about = AddMenuAction(help, "&About Qor", &TMainForm::About1Click);
  about->setObjectName("About1");
  about->setMenuRole(QAction::AboutRole);
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
    // A caption in a colour of its own (the armed VCR's red); black is the palette's text.
    const bool own = !(button.FontColor == clBlack);
    const bool has = widget->testAttribute(Qt::WA_SetPalette);
    if (!own && has) {
      widget->setPalette(QPalette());
    } else if (own) {
      QPalette palette = widget->palette();
      const QColor colour = Readable(button.FontColor, palette);
      if (!has || palette.color(QPalette::ButtonText) != colour) {
        palette.setColor(QPalette::ButtonText, colour);
        widget->setPalette(palette);
      }
    }
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

}  // namespace qor::gui
