#include "gui/printer.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMarginsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

namespace qor::gui {

namespace {

constexpr int kDotsPerInch = 600;

}  // namespace

QtPrinter::QtPrinter()
    : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)),
      font_(std::make_unique<QFont>(QFontDatabase::systemFont(QFontDatabase::GeneralFont))) {
  printer_->setResolution(kDotsPerInch);
  // The layout measures from the corner of the printable area and fills it to its bottom, as a
  // printer's device context always did; a margin of paper around it keeps every line on the
  // sheet (a PDF has no unprintable edge of its own).
  printer_->setFullPage(false);
  printer_->setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
}

QtPrinter::~QtPrinter() {
  if (painter_) EndDoc();
}

void QtPrinter::SetTitle(const std::string& title) {
  printer_->setDocName(QString::fromStdString(title));
}

void QtPrinter::SetFontSize(int32_t points) {
  font_->setPointSize(points);
}

int32_t QtPrinter::FontHeight() const {
  return QFontMetrics(*font_, printer_.get()).height();
}

int32_t QtPrinter::PageWidth() const {
  return printer_->width();
}

int32_t QtPrinter::PageHeight() const {
  return printer_->height();
}

void QtPrinter::BeginDoc() {
  painter_ = std::make_unique<QPainter>();
  // A printer that cannot start (a file that cannot be written) prints nothing; the lines are
  // dropped rather than drawn on no device.
  if (!painter_->begin(printer_.get())) {
    painter_.reset();
    return;
  }
  painter_->setFont(*font_);
}

void QtPrinter::TextOut(int32_t x, int32_t y, const std::string& text) {
  if (!painter_) return;
  // y is the top of the line; QPainter draws from the baseline.
  const QFontMetrics metrics(painter_->font(), printer_.get());
  // Tabs in log lines line up the way the log window shows them.
  QString line = QString::fromStdString(text);
  line.replace('\t', "    ");
  painter_->drawText(x, y + metrics.ascent(), line);
}

void QtPrinter::NewPage() {
  if (painter_) printer_->newPage();
}

void QtPrinter::EndDoc() {
  if (!painter_) return;
  painter_->end();
  painter_.reset();
}

}  // namespace qor::gui
