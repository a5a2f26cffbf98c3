#include "controls/raster_canvas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qor {

namespace {

uint32_t Pack(TColor color) {
  return (uint32_t{color.Red} << 16) | (uint32_t{color.Green} << 8) | uint32_t{color.Blue};
}

TColor Unpack(uint32_t pixel) {
  return TColor{static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8),
                static_cast<uint8_t>(pixel)};
}

TRect Intersect(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

// Rounds numerator / denominator (denominator > 0, numerator >= 0) to the nearest integer, ties
// upwards, so a line passes through the same pixels whichever part of it is visible.
int64_t RoundedQuotient(int64_t numerator, int64_t denominator) {
  return (2 * numerator + denominator) / (2 * denominator);
}

}  // namespace

TRasterCanvas::TRasterCanvas(int32_t width, int32_t height) {
  SetSize(width, height);
}

void TRasterCanvas::SetSize(int32_t width, int32_t height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  pixels_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
}

TRect TRasterCanvas::ClipToSurface(const TRect& rect) const {
  return Intersect(rect, TRect{0, 0, width_, height_});
}

void TRasterCanvas::FillRect(const TRect& rect, TColor color) {
  const TRect area = ClipToSurface(rect);
  if (area.IsEmpty()) return;
  const uint32_t value = Pack(color);
  for (int32_t y = area.Top; y < area.Bottom; ++y) {
    uint32_t* row = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    std::fill(row + area.Left, row + area.Right, value);
  }
}

void TRasterCanvas::Line(TPoint from, TPoint to, TColor color) {
  const int64_t dx = int64_t{to.X} - from.X;
  const int64_t dy = int64_t{to.Y} - from.Y;
  const int64_t steps = std::max(std::llabs(dx), std::llabs(dy));
  if (steps == 0) return;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const int64_t majorStart = xMajor ? from.X : from.Y;
  const int64_t majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const int64_t minorStart = xMajor ? from.Y : from.X;
  const int64_t minorDelta = xMajor ? dy : dx;
  const int64_t minorSign = minorDelta < 0 ? -1 : 1;
  const int64_t majorLimit = xMajor ? width_ : height_;

  // Only the steps whose major coordinate lies on the surface can paint anything; a line running
  // far off the surface costs no more than one that fits.
  int64_t first = 0;
  int64_t last = steps - 1;
  if (majorSign > 0) {
    first = std::max(first, -majorStart);
    last = std::min(last, majorLimit - 1 - majorStart);
  } else {
    first = std::max(first, majorStart - (majorLimit - 1));
    last = std::min(last, majorStart);
  }
  const uint32_t value = Pack(color);
  for (int64_t i = first; i <= last; ++i) {
    const int64_t major = majorStart + majorSign * i;
    const int64_t minor =
        minorStart + minorSign * RoundedQuotient(i * std::llabs(minorDelta), steps);
    const int64_t x = xMajor ? major : minor;
    const int64_t y = xMajor ? minor : major;
    if (Inside(x, y)) pixels_[static_cast<size_t>(y * width_ + x)] = value;
  }
}

void TRasterCanvas::CopyRect(const TRect& destination, const TRect& source) {
  const int32_t width = std::min(destination.Width(), source.Width());
  const int32_t height = std::min(destination.Height(), source.Height());
  if (width <= 0 || height <= 0) return;
  // Clip the source to the surface, then the destination, keeping the two aligned.
  TRect from{source.Left, source.Top, source.Left + width, source.Top + height};
  TRect to{destination.Left, destination.Top, destination.Left + width, destination.Top + height};
  const TRect fromClipped = ClipToSurface(from);
  to.Left += fromClipped.Left - from.Left;
  to.Top += fromClipped.Top - from.Top;
  to.Right += fromClipped.Right - from.Right;
  to.Bottom += fromClipped.Bottom - from.Bottom;
  const TRect toClipped = ClipToSurface(to);
  from = TRect{fromClipped.Left + (toClipped.Left - to.Left),
               fromClipped.Top + (toClipped.Top - to.Top),
               fromClipped.Right + (toClipped.Right - to.Right),
               fromClipped.Bottom + (toClipped.Bottom - to.Bottom)};
  if (toClipped.IsEmpty() || from.IsEmpty()) return;

  const size_t rowBytes = static_cast<size_t>(toClipped.Width()) * sizeof(uint32_t);
  auto copyRow = [&](int32_t row) {
    const size_t fromIndex = static_cast<size_t>(from.Top + row) * width_ + from.Left;
    const size_t toIndex = static_cast<size_t>(toClipped.Top + row) * width_ + toClipped.Left;
    std::memmove(pixels_.data() + toIndex, pixels_.data() + fromIndex, rowBytes);
  };
  const int32_t rows = toClipped.Height();
  if (toClipped.Top > from.Top) {
    for (int32_t row = rows - 1; row >= 0; --row) copyRow(row);
  } else {
    for (int32_t row = 0; row < rows; ++row) copyRow(row);
  }
}

void TRasterCanvas::Draw(int32_t x, int32_t y, const TCanvas& source) {
  const TRect area = ClipToSurface(TRect{x, y, x + source.Width(), y + source.Height()});
  if (area.IsEmpty()) return;
  const auto* raster = dynamic_cast<const TRasterCanvas*>(&source);
  for (int32_t row = area.Top; row < area.Bottom; ++row) {
    uint32_t* target = pixels_.data() + static_cast<size_t>(row) * width_;
    for (int32_t column = area.Left; column < area.Right; ++column) {
      const int32_t sx = column - x;
      const int32_t sy = row - y;
      target[column] = raster != nullptr
                           ? raster->pixels_[static_cast<size_t>(sy) * raster->width_ + sx]
                           : Pack(source.Pixel(sx, sy));
    }
  }
}

int32_t TRasterCanvas::GlyphAdvance(const TFont& font) {
  const int32_t size = font.Height == INT32_MIN ? INT32_MAX : std::abs(font.Height);
  return std::max(size / 2 + (font.Bold ? 1 : 0), 2);
}

int32_t TRasterCanvas::GlyphHeight(const TFont& font) {
  const int32_t size = font.Height == INT32_MIN ? INT32_MAX : std::abs(font.Height);
  return std::max(size, 1);
}

TPoint TRasterCanvas::TextExtent(std::string_view text, const TFont& font) const {
  const int64_t width = static_cast<int64_t>(text.size()) * GlyphAdvance(font);
  return TPoint{static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX)), GlyphHeight(font)};
}

template <typename PaintPixel>
void TRasterCanvas::ForEachTextPixel(int32_t x, int32_t y, std::string_view text, const TFont& font,
                                     const TRect& clip, PaintPixel paint) {
  const TRect area = ClipToSurface(clip);
  if (area.IsEmpty()) return;
  const int64_t advance = GlyphAdvance(font);
  const int64_t top = std::max<int64_t>(y, area.Top);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + GlyphHeight(font), area.Bottom);
  for (size_t index = 0; index < text.size(); ++index) {
    if (text[index] == ' ') continue;
    const int64_t cellLeft = x + static_cast<int64_t>(index) * advance;
    if (cellLeft >= area.Right) break;
    const int64_t left = std::max<int64_t>(cellLeft, area.Left);
    const int64_t right = std::min<int64_t>(cellLeft + advance - 1, area.Right);
    for (int64_t row = top; row < bottom; ++row) {
      for (int64_t column = left; column < right; ++column) {
        paint(pixels_[static_cast<size_t>(row * width_ + column)]);
      }
    }
  }
}

void TRasterCanvas::TextOut(int32_t x, int32_t y, std::string_view text, const TFont& font,
                            TColor color, const TRect& clip) {
  const uint32_t value = Pack(color);
  ForEachTextPixel(x, y, text, font, clip, [value](uint32_t& pixel) { pixel = value; });
}

void TRasterCanvas::InvertText(int32_t x, int32_t y, std::string_view text, const TFont& font,
                               const TRect& clip) {
  ForEachTextPixel(x, y, text, font, clip, [](uint32_t& pixel) { pixel ^= 0x00FFFFFFu; });
}

TColor TRasterCanvas::Pixel(int32_t x, int32_t y) const {
  if (!Inside(x, y)) return clBlack;
  return Unpack(pixels_[static_cast<size_t>(y) * width_ + x]);
}

namespace {
TPictureFactory& InstalledPictureFactory() {
  static TPictureFactory factory;
  return factory;
}
}  // namespace

void SetPictureFactory(TPictureFactory factory) { InstalledPictureFactory() = std::move(factory); }

std::unique_ptr<TCanvas> NewPicture() {
  const TPictureFactory& factory = InstalledPictureFactory();
  if (factory) {
    if (std::unique_ptr<TCanvas> picture = factory()) return picture;
  }
  return std::make_unique<TRasterCanvas>();
}

}  // namespace qor
