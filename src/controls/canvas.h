#pragma once
// The drawing surface the rate graph and the progress gauge paint on. Each front end implements it
// over its own picture type (our raster buffer, a QImage, ...); the controls never see a toolkit.
//
// Geometry follows the desktop convention the controls were laid out with: a rectangle covers
// [Left, Right) x [Top, Bottom), so its right column and bottom row are not part of it, and a line
// stops one pixel short of its end point. Everything is clipped to the surface; a rectangle whose
// Right <= Left or Bottom <= Top covers nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qor {

struct TColor {
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;

  friend constexpr bool operator==(TColor, TColor) = default;
};

constexpr TColor clBlack{0, 0, 0};
constexpr TColor clWhite{255, 255, 255};
constexpr TColor clGreen{0, 128, 0};
constexpr TColor clTeal{0, 128, 128};
constexpr TColor clRed{255, 0, 0};
constexpr TColor clYellow{255, 255, 0};

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;

  friend constexpr bool operator==(TPoint, TPoint) = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  constexpr int32_t Width() const { return Right - Left; }
  constexpr int32_t Height() const { return Bottom - Top; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

struct TFont {
  std::string Name;
  // Character cell height in pixels.
  int32_t Height = 13;
  bool Bold = false;

  friend bool operator==(const TFont&, const TFont&) = default;
};

class TCanvas {
 public:
  virtual ~TCanvas() = default;

  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Resizes the surface; what it shows afterwards is unspecified until drawn over.
  virtual void SetSize(int32_t width, int32_t height) = 0;

  virtual void FillRect(const TRect& rect, TColor color) = 0;
  // A one-pixel line from `from` towards `to`, not including `to` itself.
  virtual void Line(TPoint from, TPoint to, TColor color) = 0;
  // Copies a same-sized part of this surface onto another part of it; the two may overlap.
  virtual void CopyRect(const TRect& destination, const TRect& source) = 0;
  // Copies all of `source` onto this surface with its top left corner at (x, y).
  virtual void Draw(int32_t x, int32_t y, const TCanvas& source) = 0;

  virtual TPoint TextExtent(std::string_view text, const TFont& font) const = 0;
  // Draws text with its cell's top left corner at (x, y), touching only pixels inside `clip`.
  virtual void TextOut(int32_t x, int32_t y, std::string_view text, const TFont& font, TColor color,
                       const TRect& clip) = 0;
  // Like TextOut in white, but each pixel the text covers is combined with what is there by
  // exclusive or, so the text reads in the inverse of whatever lies beneath it.
  virtual void InvertText(int32_t x, int32_t y, std::string_view text, const TFont& font,
                          const TRect& clip) = 0;

  // The colour at (x, y); black outside the surface.
  virtual TColor Pixel(int32_t x, int32_t y) const = 0;
};

// Makes the off-screen picture of a control created without one. A front end with real fonts
// installs its own before the forms exist, so the gauge's percentage is set in a real face; unset
// (and in the tests), controls draw into our raster buffer.
using TPictureFactory = std::function<std::unique_ptr<TCanvas>()>;
void SetPictureFactory(TPictureFactory factory);
std::unique_ptr<TCanvas> NewPicture();

}  // namespace qor
