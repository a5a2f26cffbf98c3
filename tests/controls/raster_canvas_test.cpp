#include "controls/raster_canvas.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

constexpr TColor kInk{10, 200, 30};

std::vector<TPoint> PaintedPoints(const TRasterCanvas& canvas, TColor color) {
  std::vector<TPoint> points;
  for (int32_t y = 0; y < canvas.Height(); ++y) {
    for (int32_t x = 0; x < canvas.Width(); ++x) {
      if (canvas.Pixel(x, y) == color) points.push_back(TPoint{x, y});
    }
  }
  return points;
}

TEST(RasterCanvas, RectanglesLeaveOutTheirRightColumnAndBottomRowAndAreClipped) {
  TRasterCanvas canvas(10, 10);
  canvas.FillRect(TRect{2, 3, 5, 6}, kInk);
  EXPECT_EQ(PaintedPoints(canvas, kInk).size(), 9u);
  EXPECT_EQ(canvas.Pixel(2, 3), kInk);
  EXPECT_EQ(canvas.Pixel(4, 5), kInk);
  EXPECT_EQ(canvas.Pixel(5, 5), clBlack);
  EXPECT_EQ(canvas.Pixel(4, 6), clBlack);

  TRasterCanvas other(10, 10);
  other.FillRect(TRect{6, 6, 3, 3}, kInk);  // turned inside out: nothing
  other.FillRect(TRect{-50, 8, 50, 50}, kInk);
  EXPECT_EQ(PaintedPoints(other, kInk).size(), 20u);
  EXPECT_EQ(other.Pixel(-1, 9), clBlack);
}

TEST(RasterCanvas, LinesStopShortOfTheirEndPointInEveryDirection) {
  TRasterCanvas canvas(12, 12);
  canvas.Line(TPoint{0, 5}, TPoint{10, 5}, kInk);
  EXPECT_EQ(canvas.Pixel(0, 5), kInk);
  EXPECT_EQ(canvas.Pixel(9, 5), kInk);
  EXPECT_EQ(canvas.Pixel(10, 5), clBlack);

  TRasterCanvas diagonal(12, 12);
  diagonal.Line(TPoint{4, 4}, TPoint{0, 0}, kInk);
  const std::vector<TPoint> expected{{3, 3}, {2, 2}, {1, 1}, {4, 4}};
  auto painted = PaintedPoints(diagonal, kInk);
  ASSERT_EQ(painted.size(), 4u);
  EXPECT_EQ(diagonal.Pixel(0, 0), clBlack);
  for (const TPoint& point : expected) EXPECT_EQ(diagonal.Pixel(point.X, point.Y), kInk);

  TRasterCanvas dot(3, 3);
  dot.Line(TPoint{1, 1}, TPoint{1, 1}, kInk);
  EXPECT_TRUE(PaintedPoints(dot, kInk).empty());
}

TEST(RasterCanvas, ClippedLinesKeepThePixelsOfTheWholeLine) {
  // The same lines drawn on a surface large enough to hold them and on a small window into it
  // must agree pixel for pixel inside the window.
  const std::vector<std::pair<TPoint, TPoint>> lines{
      {{-30, -7}, {40, 25}}, {{-3, 19}, {23, 1}}, {{0, 0}, {19, 19}}, {{25, -20}, {-5, 40}}};
  for (const auto& [from, to] : lines) {
    TRasterCanvas window(20, 20);
    window.Line(from, to, kInk);
    TRasterCanvas reference(80, 80);
    reference.Line(TPoint{from.X + 30, from.Y + 30}, TPoint{to.X + 30, to.Y + 30}, kInk);
    for (int32_t y = 0; y < 20; ++y) {
      for (int32_t x = 0; x < 20; ++x) {
        EXPECT_EQ(window.Pixel(x, y), reference.Pixel(x + 30, y + 30)) << x << "," << y;
      }
    }
  }

  // Lines reaching a million pixels away still cross the window where they should.
  TRasterCanvas steep(20, 20);
  steep.Line(TPoint{5, -1000000}, TPoint{12, 1000000}, kInk);
  for (int32_t y = 0; y < 20; ++y) {
    int32_t count = 0;
    for (int32_t x = 0; x < 20; ++x) {
      if (steep.Pixel(x, y) == kInk) {
        ++count;
        EXPECT_TRUE(x == 8 || x == 9) << x;
      }
    }
    EXPECT_EQ(count, 1) << y;
  }
  TRasterCanvas flat(20, 20);
  flat.Line(TPoint{10, 10}, TPoint{-900000, 11}, kInk);
  EXPECT_EQ(PaintedPoints(flat, kInk).size(), 11u);
  EXPECT_EQ(flat.Pixel(0, 10), kInk);
  EXPECT_EQ(flat.Pixel(10, 10), kInk);
}

TEST(RasterCanvas, CopyRectHandlesOverlapInBothDirections) {
  TRasterCanvas canvas(6, 4);
  for (int32_t x = 0; x < 6; ++x) {
    canvas.FillRect(TRect{x, 0, x + 1, 4}, TColor{static_cast<uint8_t>(x * 10), 0, 0});
  }
  canvas.CopyRect(TRect{0, 0, 4, 4}, TRect{2, 0, 6, 4});  // scroll left by two
  for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(canvas.Pixel(x, 3).Red, (x + 2) * 10);
  EXPECT_EQ(canvas.Pixel(5, 0).Red, 50);

  TRasterCanvas rows(3, 5);
  for (int32_t y = 0; y < 5; ++y) {
    rows.FillRect(TRect{0, y, 3, y + 1}, TColor{0, static_cast<uint8_t>(y + 1), 0});
  }
  rows.CopyRect(TRect{0, 1, 3, 5}, TRect{0, 0, 3, 4});  // scroll down by one
  for (int32_t y = 1; y < 5; ++y) EXPECT_EQ(rows.Pixel(1, y).Green, y);

  rows.CopyRect(TRect{-2, -2, 1, 1}, TRect{0, 0, 3, 3});  // clipped on both sides
  EXPECT_EQ(rows.Pixel(0, 0).Green, 2);
}

TEST(RasterCanvas, BlockTextShowsWhereAndHowWideTextWent) {
  const TFont font{"", 15, true};
  TRasterCanvas canvas(40, 20);
  const TPoint extent = canvas.TextExtent("a b", font);
  EXPECT_EQ(extent.X, 3 * TRasterCanvas::GlyphAdvance(font));
  EXPECT_EQ(extent.Y, 15);
  const int32_t advance = TRasterCanvas::GlyphAdvance(font);

  canvas.TextOut(2, 1, "a b", font, kInk, TRect{0, 0, 40, 10});
  EXPECT_EQ(canvas.Pixel(2, 1), kInk);
  EXPECT_EQ(canvas.Pixel(2 + advance - 2, 9), kInk);
  EXPECT_EQ(canvas.Pixel(2 + advance - 1, 5), clBlack);  // gap after each glyph
  EXPECT_EQ(canvas.Pixel(2 + advance, 5), clBlack);      // the blank
  EXPECT_EQ(canvas.Pixel(2 + 2 * advance, 5), kInk);
  EXPECT_EQ(canvas.Pixel(2, 10), clBlack);  // clipped

  TRasterCanvas inverted(20, 20);
  inverted.FillRect(TRect{0, 0, 20, 20}, TColor{255, 0, 0});
  inverted.InvertText(0, 0, "x", font, TRect{0, 0, 20, 20});
  EXPECT_EQ(inverted.Pixel(0, 0), (TColor{0, 255, 255}));
  inverted.InvertText(0, 0, "x", font, TRect{0, 0, 20, 20});
  EXPECT_EQ(inverted.Pixel(0, 0), (TColor{255, 0, 0}));
}

TEST(RasterCanvas, DrawCopiesAnotherSurfaceClipped) {
  TRasterCanvas source(4, 4);
  source.FillRect(TRect{0, 0, 4, 4}, kInk);
  source.FillRect(TRect{3, 3, 4, 4}, clWhite);
  TRasterCanvas target(5, 5);
  target.Draw(2, 2, source);
  EXPECT_EQ(target.Pixel(1, 1), clBlack);
  EXPECT_EQ(target.Pixel(2, 2), kInk);
  EXPECT_EQ(target.Pixel(4, 4), kInk);
  EXPECT_EQ(PaintedPoints(target, kInk).size(), 9u);
  target.Draw(-3, -3, source);
  EXPECT_EQ(target.Pixel(0, 0), clWhite);
}

}  // namespace
}  // namespace qor
