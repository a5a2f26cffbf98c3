#include "gui/qt_canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace qor::gui {

namespace {

QRgb Rgb(TColor c) {
  return qRgb(c.Red, c.Green, c.Blue);
}

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// [Left, Right) x [Top, Bottom) as a QRect, which names its last column and row.
QRect ToQRect(const TRect& r) {
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}

}  // namespace

QtCanvas::QtCanvas(int32_t width, int32_t height) {
  SetSize(width, height);
}

void QtCanvas::SetSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == image_.width() && height == image_.height()) return;
  image_ = QImage(width, height, QImage::Format_RGB32);
  image_.fill(Qt::black);
}

void QtCanvas::FillRect(const TRect& rect, TColor color) {
  if (rect.IsEmpty() || image_.isNull()) return;
  QPainter painter(&image_);
  painter.fillRect(ToQRect(rect), QColor(Rgb(color)));
}

void QtCanvas::Line(TPoint from, TPoint to, TColor color) {
  // Bresenham, leaving out the end point, so the pixels are the raster buffer's to the last one.
  const QRgb rgb = Rgb(color);
  int32_t x = from.X, y = from.Y;
  const int32_t dx = std::abs(to.X - x), dy = -std::abs(to.Y - y);
  const int32_t sx = x < to.X ? 1 : -1, sy = y < to.Y ? 1 : -1;
  int32_t error = dx + dy;
  while (x != to.X || y != to.Y) {
    if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height()) image_.setPixel(x, y, rgb);
    const int32_t twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
}

void QtCanvas::CopyRect(const TRect& destination, const TRect& source) {
  if (destination.IsEmpty() || source.IsEmpty() || image_.isNull()) return;
  // Through a copy of the source part: the two may overlap (the graph's scroll does).
  const QImage part = image_.copy(ToQRect(source));
  QPainter painter(&image_);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(ToQRect(destination), part,
                    QRect(0, 0, destination.Width(), destination.Height()));
}

void QtCanvas::Draw(int32_t x, int32_t y, const TCanvas& source) {
  if (image_.isNull()) return;
  if (const auto* qt = dynamic_cast<const QtCanvas*>(&source)) {
    QPainter painter(&image_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(x, y, qt->image_);
    return;
  }
  // Any other surface, pixel by pixel (only the raster buffer of a control made without a
  // factory takes this way).
  for (int32_t sy = 0; sy < source.Height(); ++sy) {
    const int32_t ty = y + sy;
    if (ty < 0 || ty >= image_.height()) continue;
    auto* line = reinterpret_cast<QRgb*>(image_.scanLine(ty));
    for (int32_t sx = 0; sx < source.Width(); ++sx) {
      const int32_t tx = x + sx;
      if (tx < 0 || tx >= image_.width()) continue;
      line[tx] = Rgb(source.Pixel(sx, sy));
    }
  }
}

QFont QtCanvas::FontFor(const TFont& font) {
  QFont qfont;
  if (!font.Name.empty()) qfont.setFamily(QString::fromStdString(font.Name));
  qfont.setBold(font.Bold);
  // The cell (ascent + descent) is the height asked for; the em is smaller than the cell.
  int32_t pixels = std::max(font.Height, 1);
  qfont.setPixelSize(pixels);
  while (pixels > 4 && QFontMetrics(qfont).height() > font.Height) {
    qfont.setPixelSize(--pixels);
  }
  return qfont;
}

TPoint QtCanvas::TextExtent(std::string_view text, const TFont& font) const {
  const QFontMetrics metrics(FontFor(font));
  return TPoint{metrics.horizontalAdvance(Text(text)), metrics.height()};
}

void QtCanvas::DrawText(int32_t x, int32_t y, std::string_view text, const TFont& font,
                        TColor color, const TRect& clip, bool invert) {
  if (clip.IsEmpty() || image_.isNull()) return;
  QPainter painter(&image_);
  painter.setClipRect(ToQRect(clip));
  QFont qfont = FontFor(font);
  // Exclusive or only makes sense for whole pixels: an antialiased edge would come out as noise.
  if (invert) qfont.setStyleStrategy(QFont::NoAntialias);
  painter.setFont(qfont);
  painter.setPen(QColor(Rgb(color)));
  if (invert) painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  const QFontMetrics metrics(painter.font());
  painter.drawText(x, y + metrics.ascent(), Text(text));
}

void QtCanvas::TextOut(int32_t x, int32_t y, std::string_view text, const TFont& font, TColor color,
                       const TRect& clip) {
  DrawText(x, y, text, font, color, clip, false);
}

void QtCanvas::InvertText(int32_t x, int32_t y, std::string_view text, const TFont& font,
                          const TRect& clip) {
  DrawText(x, y, text, font, clWhite, clip, true);
}

TColor QtCanvas::Pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return clBlack;
  const QRgb rgb = image_.pixel(x, y);
  return TColor{static_cast<uint8_t>(qRed(rgb)), static_cast<uint8_t>(qGreen(rgb)),
                static_cast<uint8_t>(qBlue(rgb))};
}

}  // namespace qor::gui
