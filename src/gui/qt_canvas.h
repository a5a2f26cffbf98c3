#pragma once
// The controls' drawing surface over a QImage, painted with QPainter: the rate graph and the
// progress gauge draw into it exactly as into our raster buffer (same rectangle and line
// conventions), but text is set in the desktop's real fonts.

#include <QImage>

#include "controls/canvas.h"

class QFont;

namespace qor::gui {

class QtCanvas : public TCanvas {
 public:
  QtCanvas() = default;
  QtCanvas(int32_t width, int32_t height);

  int32_t Width() const override { return image_.width(); }
  int32_t Height() const override { return image_.height(); }
  void SetSize(int32_t width, int32_t height) override;

  void FillRect(const TRect& rect, TColor color) override;
  void Line(TPoint from, TPoint to, TColor color) override;
  void CopyRect(const TRect& destination, const TRect& source) override;
  void Draw(int32_t x, int32_t y, const TCanvas& source) override;

  TPoint TextExtent(std::string_view text, const TFont& font) const override;
  void TextOut(int32_t x, int32_t y, std::string_view text, const TFont& font, TColor color,
               const TRect& clip) override;
  void InvertText(int32_t x, int32_t y, std::string_view text, const TFont& font,
                  const TRect& clip) override;

  TColor Pixel(int32_t x, int32_t y) const override;

  const QImage& Image() const { return image_; }

  // The Qt font whose character cell is font.Height pixels high.
  static QFont FontFor(const TFont& font);

 private:
  void DrawText(int32_t x, int32_t y, std::string_view text, const TFont& font, TColor color,
                const TRect& clip, bool invert);

  QImage image_;
};

}  // namespace qor::gui
