#pragma once
// TPerformanceGraph: the main window's scrolling strip chart. Each Update closes one column of up
// to 16 coloured points, scrolls the off-screen picture left by one column and draws the new column
// at the right edge. When the largest value kept in the history moves to another multiple of
// Gradient, Scale follows it and the whole history is drawn again at the new scale.
//
// The control holds its own picture (any TCanvas the front end supplies; our raster buffer when
// none is given) and copies it onto the control's surface in Paint. "Refresh" means asking the
// front end to call Paint soon, through OnRefresh.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "controls/canvas.h"

namespace qor {

enum TGraphKind : int32_t { pgBar = 0, pgLine = 1 };

class TPerformanceGraph {
 public:
  static constexpr int32_t kMaxPointsPerColumn = 16;
  // Largest width or height the control takes; keeps the history ring and picture bounded.
  static constexpr int32_t kMaxExtent = 32767;

  struct TColumn {
    int32_t Count = 0;
    std::array<TColor, kMaxPointsPerColumn> Colors{};
    std::array<int32_t, kMaxPointsPerColumn> Values{};
  };

  // picture: the off-screen surface to draw into; a raster buffer when null.
  explicit TPerformanceGraph(std::unique_ptr<TCanvas> picture = nullptr);
  TPerformanceGraph(const TPerformanceGraph&) = delete;
  TPerformanceGraph& operator=(const TPerformanceGraph&) = delete;

  TGraphKind Kind() const { return kind_; }
  TColor ForeColor() const { return foreColor_; }
  TColor BackColor() const { return backColor_; }
  int32_t GridSize() const { return gridSize_; }
  int32_t StepSize() const { return stepSize_; }
  int32_t Scale() const { return scale_; }
  int32_t Gradient() const { return gradient_; }
  bool Gridlines() const { return gridlines_; }
  int32_t PenWidth() const { return penWidth_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // Each setter does nothing for the value already held.
  void SetKind(TGraphKind value);
  void SetForeColor(TColor value);
  void SetBackColor(TColor value);
  void SetGridSize(int32_t value);  // below 2 taken as 2
  void SetStepSize(int32_t value);  // below 1 taken as 1; rebuilds the history ring
  // Rounded up to a multiple of Gradient; raises OnScaleChange when the stored value changes.
  void SetScale(int32_t value);
  void SetGradient(int32_t value);
  void SetGridlines(bool value);
  // The pen of the control's own surface; the picture always draws one-pixel lines.
  void SetPenWidth(int32_t value);
  // The control's size. The picture and history follow at the next Paint.
  void SetSize(int32_t width, int32_t height);

  // Appends a point to the column being filled. Throws ERangeError when that column already holds
  // kMaxPointsPerColumn points; the column is then left as it was.
  void DataPoint(TColor color, int32_t value);
  // Closes the column being filled and shows it (rescaling the whole picture when needed).
  void Update();
  // Copies the picture onto the control's surface (sized to the control by the front end), first
  // rebuilding it when the control's size has changed.
  void Paint(TCanvas& control);
  // Draws the whole history again into a fresh picture.
  void Replay();
  // Rebuilds the ring for the current width and step, keeping the newest columns.
  void ReallocHistory();

  // a when b is 0 or a is a multiple of b, else the next multiple of b above a. A result beyond
  // the 32-bit range gives a itself.
  static int32_t RoundUp(int32_t a, int32_t b);

  std::function<void(TPerformanceGraph& sender)> OnScaleChange;
  std::function<void()> OnRefresh;

  const TCanvas& Picture() const { return *picture_; }
  // Columns that fit on the control: width div StepSize, as of the last ring rebuild.
  int32_t BandCount() const { return bandCount_; }
  const std::vector<TColumn>& Columns() const { return ring_; }
  int32_t Current() const { return current_; }
  int32_t First() const { return first_; }
  // How far beyond the right edge the next vertical grid line lies.
  int32_t GridPhase() const { return gridPhase_; }

 private:
  void Initialize(int32_t phase);
  void DisplayPoints(int32_t column);
  void DrawHorizontalGridLines(int32_t left, int32_t right);
  int32_t PixelHeight(int64_t value) const;
  int32_t NextColumn(int32_t column) const;
  int32_t PreviousColumn(int32_t column) const;
  bool PictureMatchesControl() const;
  void Refresh();

  std::unique_ptr<TCanvas> picture_;

  TGraphKind kind_ = pgLine;
  TColor foreColor_ = clGreen;
  TColor backColor_ = clBlack;
  int32_t gridSize_ = 15;
  int32_t stepSize_ = 3;
  int32_t scale_ = 1000;
  int32_t gradient_ = 100;
  bool gridlines_ = true;
  int32_t penWidth_ = 2;
  int32_t width_ = 100;
  int32_t height_ = 100;

  std::vector<TColumn> ring_;
  int32_t bandCount_ = 0;
  int32_t ringWidth_ = 0;  // the width ring_ was built for
  int32_t current_ = 0;
  int32_t first_ = 1;
  int32_t gridPhase_ = 0;

  TRect whole_{};
  TRect scrollSource_{};
  TRect scrollDestination_{};
  TRect newest_{};

  bool painting_ = false;
};

}  // namespace qor
