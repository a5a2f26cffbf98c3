#pragma once
// The rate graph and the progress gauge as widgets: each paints its control onto a canvas the
// size of the widget, through the same TCanvas calls the control tests check, and shows that.

#include <QWidget>

namespace qor {
class TPerformanceGraph;
class TCGauge;
}  // namespace qor

namespace qor::gui {

class GraphWidget : public QWidget {
  Q_OBJECT

 public:
  GraphWidget(TPerformanceGraph& graph, QWidget* parent = nullptr);
  ~GraphWidget() override;
  QSize sizeHint() const override { return QSize(216, 112); }
  // Smaller on a small or high-DPI screen: the log matters more.
  QSize minimumSizeHint() const override { return QSize(160, 64); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  TPerformanceGraph& graph_;
};

class GaugeWidget : public QWidget {
  Q_OBJECT

 public:
  GaugeWidget(TCGauge& gauge, QWidget* parent = nullptr);
  ~GaugeWidget() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TCGauge& gauge_;
};

}  // namespace qor::gui
