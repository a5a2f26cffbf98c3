#include "controls/performance_graph.h"

#include <algorithm>
#include <cmath>

#include "controls/control_errors.h"
#include "controls/raster_canvas.h"

namespace qor {

namespace {

// Heights far outside any picture are cut here, so the arithmetic on them cannot overflow; lines
// towards such points still leave the picture at the right slope for all practical purposes.
constexpr double kFarOff = 1 << 24;

int32_t ClampExtent(int32_t value) {
  return std::clamp(value, 0, TPerformanceGraph::kMaxExtent);
}

int32_t PositiveModulo(int64_t value, int32_t divisor) {
  const int64_t rest = value % divisor;
  return static_cast<int32_t>(rest < 0 ? rest + divisor : rest);
}

}  // namespace

TPerformanceGraph::TPerformanceGraph(std::unique_ptr<TCanvas> picture)
    : picture_(picture ? std::move(picture) : NewPicture()) {
  bandCount_ = width_ / stepSize_;
  ring_.assign(static_cast<size_t>(bandCount_) + 2, TColumn{});
  ringWidth_ = width_;
  current_ = 0;
  first_ = 1;
}

int32_t TPerformanceGraph::RoundUp(int32_t a, int32_t b) {
  if (b == 0) return a;
  const int64_t wide = a;
  if (wide % b == 0) return a;
  const int64_t result = int64_t{b} * (wide / b + 1);
  if (result > INT32_MAX || result < INT32_MIN) return a;
  return static_cast<int32_t>(result);
}

// ---- properties ----------------------------------------------------------------------------

void TPerformanceGraph::SetKind(TGraphKind value) {
  if (value == kind_) return;
  kind_ = value;
  Replay();
}

void TPerformanceGraph::SetForeColor(TColor value) {
  if (value == foreColor_) return;
  foreColor_ = value;
  Replay();
}

void TPerformanceGraph::SetBackColor(TColor value) {
  if (value == backColor_) return;
  backColor_ = value;
  Replay();
}

void TPerformanceGraph::SetGridSize(int32_t value) {
  value = std::max(value, 2);
  if (value == gridSize_) return;
  gridSize_ = value;
  Replay();
}

void TPerformanceGraph::SetStepSize(int32_t value) {
  value = std::max(value, 1);
  if (value == stepSize_) return;
  stepSize_ = value;
  ReallocHistory();
  Replay();
}

void TPerformanceGraph::SetScale(int32_t value) {
  if (value == scale_) return;
  const int32_t rounded = RoundUp(value, gradient_);
  if (rounded == scale_) return;
  scale_ = rounded;
  if (OnScaleChange) OnScaleChange(*this);
  Replay();
}

void TPerformanceGraph::SetGradient(int32_t value) {
  if (value == gradient_) return;
  gradient_ = value;
  Replay();
}

void TPerformanceGraph::SetGridlines(bool value) {
  if (value == gridlines_) return;
  gridlines_ = value;
  Replay();
}

void TPerformanceGraph::SetPenWidth(int32_t value) {
  if (value == penWidth_) return;
  penWidth_ = value;
  Replay();
}

void TPerformanceGraph::SetSize(int32_t width, int32_t height) {
  width = ClampExtent(width);
  height = ClampExtent(height);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Refresh();
}

// ---- data ----------------------------------------------------------------------------------

void TPerformanceGraph::DataPoint(TColor color, int32_t value) {
  TColumn& column = ring_[static_cast<size_t>(current_)];
  if (column.Count >= kMaxPointsPerColumn) {
    throw ERangeError("TPerformanceGraph: a column holds at most 16 points");
  }
  column.Colors[static_cast<size_t>(column.Count)] = color;
  column.Values[static_cast<size_t>(column.Count)] = value;
  ++column.Count;
}

int32_t TPerformanceGraph::NextColumn(int32_t column) const {
  return column + 1 < static_cast<int32_t>(ring_.size()) ? column + 1 : 0;
}

int32_t TPerformanceGraph::PreviousColumn(int32_t column) const {
  return column > 0 ? column - 1 : static_cast<int32_t>(ring_.size()) - 1;
}

void TPerformanceGraph::Update() {
  // A picture made for another size would scroll the wrong strip; start from a fresh one.
  if (!PictureMatchesControl()) Replay();

  if (bandCount_ > 0) {
    picture_->CopyRect(scrollDestination_, scrollSource_);
    picture_->FillRect(newest_, backColor_);
    if (gridlines_) {
      DrawHorizontalGridLines(newest_.Left, newest_.Right);
      gridPhase_ -= stepSize_;
      // A step wider than the grid spacing can pass more than one vertical line.
      while (gridPhase_ < 0) {
        const int32_t x = whole_.Right + gridPhase_;
        picture_->Line(TPoint{x, whole_.Top}, TPoint{x, whole_.Bottom}, foreColor_);
        gridPhase_ += gridSize_;
      }
    }
  }

  current_ = NextColumn(current_);
  ring_[static_cast<size_t>(current_)].Count = 0;
  first_ = NextColumn(current_);

  int32_t largest = 0;
  int32_t column = first_;
  for (size_t visited = 0; visited < ring_.size(); ++visited) {
    const TColumn& points = ring_[static_cast<size_t>(column)];
    for (int32_t i = 0; i < points.Count; ++i) {
      largest = std::max(largest, points.Values[static_cast<size_t>(i)]);
    }
    column = NextColumn(column);
  }

  const int32_t newScale = RoundUp(largest, gradient_);
  if (newScale == scale_) {
    if (bandCount_ > 0) DisplayPoints(PreviousColumn(current_));
    Refresh();
  } else {
    SetScale(newScale);
  }
}

// ---- drawing -------------------------------------------------------------------------------

int32_t TPerformanceGraph::PixelHeight(int64_t value) const {
  // With no scale there is nothing to measure against; everything lies on the base line.
  if (scale_ == 0) return 0;
  const double height = whole_.Height();
  // Ties go to the even neighbour.
  const double pixels = std::nearbyint(static_cast<double>(value) / scale_ * height);
  return static_cast<int32_t>(std::clamp(pixels, -kFarOff, kFarOff));
}

bool TPerformanceGraph::PictureMatchesControl() const {
  return picture_->Width() == width_ && picture_->Height() == height_;
}

void TPerformanceGraph::DrawHorizontalGridLines(int32_t left, int32_t right) {
  for (int64_t y = int64_t{whole_.Top} + gridSize_; y < whole_.Bottom; y += gridSize_) {
    const auto row = static_cast<int32_t>(y);
    picture_->Line(TPoint{left, row}, TPoint{right, row}, foreColor_);
  }
}

void TPerformanceGraph::Initialize(int32_t phase) {
  picture_->SetSize(width_, height_);
  whole_ = TRect{0, 0, width_, height_};
  picture_->FillRect(whole_, backColor_);
  if (gridlines_) {
    DrawHorizontalGridLines(whole_.Left, whole_.Right);
    int64_t x = phase;
    for (; x < whole_.Right; x += gridSize_) {
      const auto column = static_cast<int32_t>(x);
      picture_->Line(TPoint{column, whole_.Top}, TPoint{column, whole_.Bottom}, foreColor_);
    }
    gridPhase_ = static_cast<int32_t>(x - whole_.Right);
  }
  scrollSource_ = TRect{whole_.Left + stepSize_, whole_.Top, whole_.Right, whole_.Bottom};
  scrollDestination_ = TRect{whole_.Left, whole_.Top, whole_.Right - stepSize_, whole_.Bottom};
  newest_ = TRect{whole_.Right - stepSize_, whole_.Top, whole_.Right, whole_.Bottom};
}

void TPerformanceGraph::DisplayPoints(int32_t column) {
  const TColumn& points = ring_[static_cast<size_t>(column)];
  const TColumn& before = ring_[static_cast<size_t>(PreviousColumn(column))];
  const int32_t bottom = newest_.Bottom;
  int32_t previous = 0;
  for (int32_t i = 0; i < points.Count; ++i) {
    const int32_t value = points.Values[static_cast<size_t>(i)];
    const TColor color = points.Colors[static_cast<size_t>(i)];
    if (value == 0) continue;
    if (kind_ == pgBar) {
      const int64_t rise = int64_t{value} - previous;
      const int32_t risePixels = rise == 0 ? 0 : PixelHeight(rise);
      if (risePixels != 0) {
        const int32_t base = bottom - PixelHeight(previous);
        picture_->FillRect(TRect{newest_.Left, base - risePixels - 1, newest_.Right, base}, color);
      }
    } else {
      int32_t from = 0;
      for (int32_t j = 0; j < before.Count; ++j) {
        if (before.Colors[static_cast<size_t>(j)] == color) {
          from = before.Values[static_cast<size_t>(j)];
          break;
        }
      }
      picture_->Line(TPoint{newest_.Left, bottom - PixelHeight(from)},
                     TPoint{newest_.Right, bottom - PixelHeight(value)}, color);
    }
    previous = value;
  }
}

void TPerformanceGraph::Replay() {
  if (ringWidth_ != width_) ReallocHistory();
  Initialize(PositiveModulo(int64_t{width_} + gridPhase_, gridSize_));
  if (bandCount_ > 0) {
    const TRect saved = newest_;
    // The columns end flush with the right edge, exactly where scrolling puts them.
    int32_t x = width_ % stepSize_;
    int32_t column = first_;
    for (size_t drawn = 0; drawn < ring_.size() && column != current_; ++drawn) {
      column = NextColumn(column);
      newest_ = TRect{x, whole_.Top, x + stepSize_, whole_.Bottom};
      DisplayPoints(column);
      x += stepSize_;
    }
    newest_ = saved;
  }
  Refresh();
}

void TPerformanceGraph::ReallocHistory() {
  const int32_t bandCount = width_ / stepSize_;
  std::vector<TColumn> fresh(static_cast<size_t>(bandCount) + 2);
  const size_t oldSize = ring_.size();
  const size_t kept = std::min(oldSize, fresh.size());
  const size_t dropped = oldSize - kept;
  // The kept columns go to the end of the new ring, so the column being filled stays last and the
  // empty ones come before the oldest: a later rebuild (the window growing and shrinking again
  // before the next Update) then still drops empty columns first, and the history is drawn flush
  // with the right edge, where the next scroll continues it.
  const size_t offset = fresh.size() - kept;
  for (size_t i = 0; i < kept; ++i) {
    fresh[offset + i] = ring_[(static_cast<size_t>(first_) + dropped + i) % oldSize];
  }
  ring_ = std::move(fresh);
  bandCount_ = bandCount;
  ringWidth_ = width_;
  current_ = static_cast<int32_t>(ring_.size()) - 1;
  first_ = 0;
}

void TPerformanceGraph::Paint(TCanvas& control) {
  painting_ = true;
  if (!PictureMatchesControl()) Replay();
  painting_ = false;
  control.Draw(0, 0, *picture_);
}

void TPerformanceGraph::Refresh() {
  // Paint itself may rebuild the picture; the front end is already painting then.
  if (!painting_ && OnRefresh) OnRefresh();
}

}  // namespace qor
