#pragma once
// TRasterCanvas: a plain in-memory pixel buffer implementing TCanvas, used where no toolkit is
// around (the tests, the command-line front end). Pixels are stored row by row as 0x00RRGGBB.
//
// It has no real fonts. Text is set in a block face: every character takes a cell of
// GlyphAdvance(font) pixels by the font's height, and every character but the blank paints that
// cell solid except for its rightmost column, which stays as a gap. That is enough to see where
// text went and how wide it was.

#include <cstdint>
#include <vector>

#include "controls/canvas.h"

namespace qor {

class TRasterCanvas : public TCanvas {
 public:
  TRasterCanvas() = default;
  TRasterCanvas(int32_t width, int32_t height);

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  // New pixels are black; a resize does not keep the old picture.
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

  // Width of one character cell of the block face.
  static int32_t GlyphAdvance(const TFont& font);
  static int32_t GlyphHeight(const TFont& font);

  const std::vector<uint32_t>& Pixels() const { return pixels_; }

 private:
  bool Inside(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  TRect ClipToSurface(const TRect& rect) const;
  // Calls paint(x, y) for every pixel the block face covers for this text, within clip.
  template <typename PaintPixel>
  void ForEachTextPixel(int32_t x, int32_t y, std::string_view text, const TFont& font,
                        const TRect& clip, PaintPixel paint);

  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<uint32_t> pixels_;
};

}  // namespace qor
