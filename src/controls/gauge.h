#pragma once
// TCGauge: the progress gauge of the main window. Holds a value between MinValue and MaxValue and
// paints it as a horizontal bar with an optional percentage text that inverts whatever lies under
// it, so it stays readable over the bar and over the background alike.
//
// Only the horizontal bar is drawn as a bar; the other kinds show the frame, background and text.
// "Repaint" means asking the front end, through OnRefresh, to call Paint soon.

#include <cstdint>
#include <functional>
#include <memory>

#include "controls/canvas.h"

namespace qor {

enum TCGaugeKind : int32_t {
  gkText = 0,
  gkHorizontalBar = 1,
  gkVerticalBar = 2,
  gkPie = 3,
  gkNeedle = 4,
};

enum TBorderStyle : int32_t { bsNone = 0, bsSingle = 1 };

class TCGauge {
 public:
  static constexpr int32_t kMaxExtent = 32767;

  // picture: the off-screen surface to draw into; a raster buffer when null.
  explicit TCGauge(std::unique_ptr<TCanvas> picture = nullptr);
  TCGauge(const TCGauge&) = delete;
  TCGauge& operator=(const TCGauge&) = delete;

  int32_t MinValue() const { return minValue_; }
  int32_t MaxValue() const { return maxValue_; }
  int32_t Progress() const { return progress_; }
  TCGaugeKind Kind() const { return kind_; }
  bool ShowText() const { return showText_; }
  TBorderStyle BorderStyle() const { return borderStyle_; }
  TColor ForeColor() const { return foreColor_; }
  TColor BackColor() const { return backColor_; }
  const TFont& Font() const { return font_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // Clamps to MinValue..MaxValue; repaints only when the percentage shown changes.
  void SetProgress(int32_t value);
  void AddProgress(int32_t delta);
  // Throws EInvalidGaugeValue for a value above MaxValue; pulls Progress up to it.
  void SetMinValue(int32_t value);
  // Ignores 0; throws EInvalidGaugeValue for a value below MinValue; pulls Progress down to it.
  void SetMaxValue(int32_t value);
  void SetKind(TCGaugeKind value);
  void SetShowText(bool value);
  void SetBorderStyle(TBorderStyle value);
  void SetForeColor(TColor value);
  void SetBackColor(TColor value);
  void SetFont(const TFont& value);
  void SetSize(int32_t width, int32_t height);

  // floor(100 * (Progress - MinValue) / (MaxValue - MinValue)); 0 for an empty range.
  int32_t PercentDone() const;

  // Draws the gauge into its picture and copies that onto the control's surface (sized to the
  // control by the front end) in one piece.
  void Paint(TCanvas& control);

  std::function<void()> OnRefresh;

  const TCanvas& Picture() const { return *picture_; }

 private:
  void Render();
  void Repaint();

  std::unique_ptr<TCanvas> picture_;

  int32_t minValue_ = 0;
  int32_t maxValue_ = 100;
  int32_t progress_ = 0;
  TCGaugeKind kind_ = gkHorizontalBar;
  bool showText_ = true;
  TBorderStyle borderStyle_ = bsSingle;
  TColor foreColor_ = clBlack;
  TColor backColor_ = clWhite;
  TFont font_{};
  int32_t width_ = 100;
  int32_t height_ = 100;
};

}  // namespace qor
