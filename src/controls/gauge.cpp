#include "controls/gauge.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "controls/control_errors.h"
#include "controls/raster_canvas.h"

namespace qor {

namespace {

std::string RangeText(int64_t low, int64_t high) {
  return "TCGauge: value must be between " + std::to_string(low) + " and " + std::to_string(high);
}

}  // namespace

TCGauge::TCGauge(std::unique_ptr<TCanvas> picture)
    : picture_(picture ? std::move(picture) : NewPicture()) {}

void TCGauge::SetProgress(int32_t value) {
  const int32_t clamped = std::clamp(value, minValue_, maxValue_);
  if (clamped == progress_) return;
  const int32_t before = PercentDone();
  progress_ = clamped;
  if (PercentDone() != before) Repaint();
}

void TCGauge::AddProgress(int32_t delta) {
  const int64_t sum = int64_t{progress_} + delta;
  SetProgress(static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX)));
  Repaint();
}

void TCGauge::SetMinValue(int32_t value) {
  if (value == minValue_) return;
  if (value > maxValue_) throw EInvalidGaugeValue(RangeText(INT32_MIN, maxValue_));
  minValue_ = value;
  if (progress_ < value) progress_ = value;
  Repaint();
}

void TCGauge::SetMaxValue(int32_t value) {
  // A maximum of 0 is never taken, so a gauge always has somewhere to go.
  if (value == 0 || value == maxValue_) return;
  if (value < minValue_) throw EInvalidGaugeValue(RangeText(minValue_, INT32_MAX));
  maxValue_ = value;
  if (progress_ > value) progress_ = value;
  Repaint();
}

void TCGauge::SetKind(TCGaugeKind value) {
  if (value == kind_) return;
  kind_ = value;
  Repaint();
}

void TCGauge::SetShowText(bool value) {
  if (value == showText_) return;
  showText_ = value;
  Repaint();
}

void TCGauge::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  Repaint();
}

void TCGauge::SetForeColor(TColor value) {
  if (value == foreColor_) return;
  foreColor_ = value;
  Repaint();
}

void TCGauge::SetBackColor(TColor value) {
  if (value == backColor_) return;
  backColor_ = value;
  Repaint();
}

void TCGauge::SetFont(const TFont& value) {
  if (value == font_) return;
  font_ = value;
  Repaint();
}

void TCGauge::SetSize(int32_t width, int32_t height) {
  width = std::clamp(width, 0, kMaxExtent);
  height = std::clamp(height, 0, kMaxExtent);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Repaint();
}

int32_t TCGauge::PercentDone() const {
  const int64_t range = int64_t{maxValue_} - minValue_;
  if (range == 0) return 0;
  const double done =
      100.0 * static_cast<double>(int64_t{progress_} - minValue_) / static_cast<double>(range);
  return static_cast<int32_t>(std::floor(done));
}

void TCGauge::Render() {
  picture_->SetSize(width_, height_);
  TRect area{0, 0, width_, height_};
  if (borderStyle_ == bsSingle) {
    picture_->FillRect(area, clBlack);
    area = TRect{area.Left + 1, area.Top + 1, area.Right - 1, area.Bottom - 1};
  }
  picture_->FillRect(area, backColor_);

  const int32_t percent = PercentDone();
  if (kind_ == gkHorizontalBar) {
    // One more than the area, so that 100 % reaches the area's last column and row.
    const int32_t w = area.Width() + 1;
    const int32_t h = area.Height() + 1;
    const auto end = static_cast<int32_t>(
        std::min<double>(std::floor(percent * 0.01 * w), static_cast<double>(w)));
    if (end > 0) picture_->FillRect(TRect{area.Left, area.Top, end, h}, foreColor_);
  }

  if (showText_) {
    const std::string text = std::to_string(percent) + "%";
    const TPoint extent = picture_->TextExtent(text, font_);
    const int32_t x = (area.Width() - extent.X + 1) / 2;
    const int32_t y = (area.Height() - extent.Y + 1) / 2;
    picture_->InvertText(x, y, text, font_, area);
  }
}

void TCGauge::Paint(TCanvas& control) {
  Render();
  control.Draw(0, 0, *picture_);
}

void TCGauge::Repaint() {
  if (OnRefresh) OnRefresh();
}

}  // namespace qor
