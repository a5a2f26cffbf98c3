#include "gui/control_widgets.h"

#include <QPainter>
#include <QResizeEvent>

#include "controls/gauge.h"
#include "controls/performance_graph.h"
#include "gui/qt_canvas.h"

namespace qor::gui {

GraphWidget::GraphWidget(TPerformanceGraph& graph, QWidget* parent)
    : QWidget(parent), graph_(graph) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  graph_.OnRefresh = [this] { update(); };
}

GraphWidget::~GraphWidget() {
  graph_.OnRefresh = nullptr;
}

void GraphWidget::resizeEvent(QResizeEvent* event) {
  // The control rebuilds its picture and history for the new size at its next paint.
  graph_.SetSize(event->size().width(), event->size().height());
  QWidget::resizeEvent(event);
}

void GraphWidget::paintEvent(QPaintEvent* /*event*/) {
  QtCanvas surface(width(), height());
  graph_.Paint(surface);
  QPainter(this).drawImage(0, 0, surface.Image());
}

GaugeWidget::GaugeWidget(TCGauge& gauge, QWidget* parent) : QWidget(parent), gauge_(gauge) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(gauge_.Width(), gauge_.Height());
  gauge_.OnRefresh = [this] { update(); };
}

GaugeWidget::~GaugeWidget() {
  gauge_.OnRefresh = nullptr;
}

void GaugeWidget::paintEvent(QPaintEvent* /*event*/) {
  QtCanvas surface(width(), height());
  gauge_.Paint(surface);
  QPainter(this).drawImage(0, 0, surface.Image());
}

}  // namespace qor::gui
