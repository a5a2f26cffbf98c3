#pragma once
// The main window: binds TMainForm's controls to widgets, builds the menu and the toolbar, and
// forwards every widget event to the form's handlers. A widget copies its edits into its control
// object before it forwards an event; Sync shows the objects' state after a handler returned and
// after every turn that served the window thread. Nothing here decides what a download does.

#include <QMainWindow>

#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTextEdit;

namespace qor {
class TApplication;
class TMainForm;
struct TButton;
struct TColor;
struct TEdit;
struct TLabel;
struct TMenuItem;
struct TRadioGroup;
}  // namespace qor

namespace qor::gui {

class GaugeWidget;
class GraphWidget;
class QtDesktop;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(TApplication& app, QtDesktop& desktop, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Shows the form's state in the widgets.
  void Sync();
  // Runs a handler of the form the way a widget event does: edits copied first, what it throws
  // handed to the form's exception handler, the state shown afterwards.
  void Forward(const std::function<void()>& handler);

  QTextEdit* LogView() const { return log_; }
  GraphWidget* Graph() const { return graph_; }
  GaugeWidget* Gauge() const { return gauge_; }
  QSplitter* LogSplitter() const { return splitter_; }

  // A colour of the window's logic as it reads on this palette: the logic's black is the
  // palette's text, and on a dark base the other colours are made light enough to read.
  static QColor Readable(TColor colour, const QPalette& palette);

 signals:
  // The form has closed (its download finished, geometry and URL list stored).
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenu();
  void BuildToolBar();
  void BuildCentre();
  void BuildLog(QWidget* parent);
  void CopyEdits();
  void StoreGeometry();
  // Keeps the window within the screen it is on: a small or high-DPI screen gets less than the
  // designed minimum rather than a window whose bottom is out of reach.
  void FitScreen();
  void ApplyPalette();
  void ReadablePlaceholders();
  QPushButton* BindButton(TButton& button);
  QAction* BindMenuItem(QMenu* menu, TMenuItem& item);
  QAction* AddMenuAction(QMenu* menu, const char* caption, void (TMainForm::*handler)());
  QLabel* BindLabel(TLabel& label);
  QLineEdit* BindEdit(TEdit& edit, int width);
  QWidget* BindRadioGroup(TRadioGroup& group, const char* title);
  void SyncLog();

  TApplication& app_;
  TMainForm& form_;
  QtDesktop& desktop_;
  QComboBox* url_ = nullptr;
  QTextEdit* log_ = nullptr;
  QSplitter* splitter_ = nullptr;
  GraphWidget* graph_ = nullptr;
  GaugeWidget* gauge_ = nullptr;
  QLabel* help_ = nullptr;
  std::vector<std::function<void()>> syncs_;
  // Log lines shown so far, and whether the log was cleared since the last Sync.
  int shown_lines_ = 0;
  bool log_cleared_ = false;
  bool syncing_ = false;
  bool closing_ = false;
  bool fitted_ = false;
};

}  // namespace qor::gui
