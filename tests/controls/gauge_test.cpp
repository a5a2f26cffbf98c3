#include "controls/gauge.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "controls/control_errors.h"
#include "controls/raster_canvas.h"

namespace qor {
namespace {

constexpr TColor kTooltip{255, 255, 225};

TColor Inverse(TColor color) {
  return TColor{static_cast<uint8_t>(255 - color.Red), static_cast<uint8_t>(255 - color.Green),
                static_cast<uint8_t>(255 - color.Blue)};
}

// The gauge as the main window configures it: 393 x 17, red bar, bold 15-pixel text.
void ConfigureAsProgressBar(TCGauge& gauge) {
  gauge.SetSize(393, 17);
  gauge.SetForeColor(clRed);
  gauge.SetBackColor(kTooltip);
  gauge.SetFont(TFont{"", 15, true});
  gauge.SetShowText(false);
}

TEST(GaugeValue, ProgressIsClampedToTheLimits) {
  TCGauge gauge;
  gauge.SetProgress(150);
  EXPECT_EQ(gauge.Progress(), 100);
  gauge.SetProgress(-5);
  EXPECT_EQ(gauge.Progress(), 0);
  gauge.SetProgress(40);
  gauge.AddProgress(INT32_MAX);
  EXPECT_EQ(gauge.Progress(), 100);
  gauge.AddProgress(-30);
  EXPECT_EQ(gauge.Progress(), 70);
}

TEST(GaugeValue, LimitsRefuseCrossingAndPullProgressAlong) {
  TCGauge gauge;
  gauge.SetProgress(60);
  gauge.SetMaxValue(0);
  EXPECT_EQ(gauge.MaxValue(), 100);
  EXPECT_EQ(gauge.Progress(), 60);

  gauge.SetMaxValue(50);
  EXPECT_EQ(gauge.Progress(), 50);
  gauge.SetMinValue(55 - 10);
  gauge.SetMinValue(20);
  EXPECT_EQ(gauge.Progress(), 50);
  gauge.SetMinValue(50);
  EXPECT_EQ(gauge.PercentDone(), 0);  // an empty range
  gauge.SetMinValue(-20);
  gauge.SetProgress(-40);
  EXPECT_EQ(gauge.Progress(), -20);
  gauge.SetMinValue(10);
  EXPECT_EQ(gauge.Progress(), 10);

  try {
    gauge.SetMinValue(51);
    FAIL() << "a minimum above the maximum was taken";
  } catch (const EInvalidGaugeValue& error) {
    EXPECT_NE(std::string(error.what()).find("-2147483648 and 50"), std::string::npos)
        << error.what();
  }
  try {
    gauge.SetMaxValue(9);
    FAIL() << "a maximum below the minimum was taken";
  } catch (const EInvalidGaugeValue& error) {
    EXPECT_NE(std::string(error.what()).find("10 and 2147483647"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(gauge.MinValue(), 10);
  EXPECT_EQ(gauge.MaxValue(), 50);
}

TEST(GaugeValue, RepaintsOnlyWhenThePercentageChanges) {
  TCGauge gauge;
  int repaints = 0;
  gauge.OnRefresh = [&] { ++repaints; };
  gauge.SetMaxValue(1000);
  EXPECT_EQ(repaints, 1);
  gauge.SetProgress(5);  // still 0 %
  EXPECT_EQ(repaints, 1);
  gauge.SetProgress(19);  // 1 %
  EXPECT_EQ(gauge.PercentDone(), 1);
  EXPECT_EQ(repaints, 2);
  gauge.SetProgress(19);
  gauge.SetKind(gkHorizontalBar);
  gauge.SetBorderStyle(bsSingle);
  EXPECT_EQ(repaints, 2);
  gauge.AddProgress(0);  // always repaints
  EXPECT_EQ(repaints, 3);
  gauge.SetForeColor(clRed);
  EXPECT_EQ(repaints, 4);
}

TEST(GaugePainting, BarEndsAtItsShareOfTheFramedArea) {
  TCGauge gauge;
  ConfigureAsProgressBar(gauge);
  gauge.SetProgress(99);
  TRasterCanvas screen(393, 17);
  gauge.Paint(screen);
  // A black one-pixel frame.
  for (int32_t x = 0; x < 393; ++x) {
    EXPECT_EQ(screen.Pixel(x, 0), clBlack);
    EXPECT_EQ(screen.Pixel(x, 16), clBlack);
  }
  for (int32_t y = 0; y < 17; ++y) {
    EXPECT_EQ(screen.Pixel(0, y), clBlack);
    EXPECT_EQ(screen.Pixel(392, y), clBlack);
  }
  // 99 % of 392 is 388.08: the bar covers columns 1 to 387.
  for (int32_t y = 1; y < 16; ++y) {
    EXPECT_EQ(screen.Pixel(1, y), clRed);
    EXPECT_EQ(screen.Pixel(387, y), clRed);
    EXPECT_EQ(screen.Pixel(388, y), kTooltip);
    EXPECT_EQ(screen.Pixel(391, y), kTooltip);
  }

  gauge.SetProgress(100);
  gauge.Paint(screen);
  EXPECT_EQ(screen.Pixel(391, 15), clRed);
  EXPECT_EQ(screen.Pixel(392, 15), clBlack);

  gauge.SetProgress(0);
  gauge.SetBorderStyle(bsNone);
  gauge.Paint(screen);
  EXPECT_EQ(screen.Pixel(0, 0), kTooltip);
  EXPECT_EQ(screen.Pixel(1, 1), kTooltip);
}

TEST(GaugePainting, PercentageTextInvertsWhatLiesBeneath) {
  TCGauge gauge;
  ConfigureAsProgressBar(gauge);
  gauge.SetShowText(true);
  gauge.SetProgress(50);  // bar covers columns 1 to 195
  TRasterCanvas screen(393, 17);
  gauge.Paint(screen);
  // "50%" is 24 pixels wide and 15 high: x = (391 - 24 + 1) div 2, y = (15 - 15 + 1) div 2.
  const int32_t left = 184;
  const int32_t advance = TRasterCanvas::GlyphAdvance(gauge.Font());
  ASSERT_EQ(advance, 8);
  EXPECT_EQ(screen.Pixel(left, 1), Inverse(clRed));
  EXPECT_EQ(screen.Pixel(left + 6, 14), Inverse(clRed));
  EXPECT_EQ(screen.Pixel(left - 1, 5), clRed);
  EXPECT_EQ(screen.Pixel(left + 7, 5), clRed);  // the gap between glyphs
  EXPECT_EQ(screen.Pixel(left + 2 * advance, 5), Inverse(kTooltip));
  EXPECT_EQ(screen.Pixel(left + 3 * advance, 5), kTooltip);
  EXPECT_EQ(screen.Pixel(left, 0), clBlack);  // the text is kept off the frame
  EXPECT_EQ(screen.Pixel(left, 15), clRed);   // the text's cell ends on row 14

  // Kinds other than the horizontal bar show no bar, only the text.
  gauge.SetKind(gkPie);
  gauge.Paint(screen);
  EXPECT_EQ(screen.Pixel(10, 8), kTooltip);
  EXPECT_EQ(screen.Pixel(left, 8), Inverse(kTooltip));
}

}  // namespace
}  // namespace qor
