#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/framework/graphics.h"

// Drawing services of the display controls: rectangles, palettes, off-screen
// device-independent bitmaps (DIBs) whose bits the controls write directly,
// device contexts that paint a control's window area, and the block transfer
// of a DIB to such a device context.

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};

inline TRect Rect(int left, int top, int right, int bottom) {
  return TRect{left, top, right, bottom};
}
// The part both rectangles cover (empty when they do not meet).
TRect IntersectRect(const TRect& a, const TRect& b);
// The rectangle moved by (dx, dy).
inline TRect OffsetRect(const TRect& r, int dx, int dy) {
  return TRect{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

struct PALETTEENTRY {
  std::uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};

inline constexpr std::uint8_t PC_RESERVED = 0x01;
inline constexpr std::uint8_t PC_NOCOLLAPSE = 0x04;

// Number of static colours of the system palette: 10 at the bottom (entries
// 0 … 9) and 10 at the top (entries 246 … 255).
inline constexpr int kStaticColors = 20;
inline constexpr int kPaletteSize = 256;

// True when the screen is a palette device with at most 256 colours. Our
// screens are true-colour, so the fixed static colours apply.
bool ScreenIsPaletteDevice();
// The 20 static colours: entries 0 … 9 and then 246 … 255.
const PALETTEENTRY* SystemStaticColors();
// Index of the entry nearest to rgb (0x00BBGGRR) by squared distance; the
// lowest index wins a tie. count must be positive.
int GetNearestPaletteIndex(const PALETTEENTRY* palette, int count, TColor rgb);

namespace platform {

// An off-screen bottom-up DIB of 8 bits (with a 256-entry colour table) or 24
// bits (blue, green, red per pixel): memory row 0 is the picture's bottom
// line; rows are padded to multiples of 4 bytes. Its bits are zero-filled.
class TDIBSection {
 public:
  // bits_per_pixel above 8 gives 24; width and height are at least 1.
  TDIBSection(int width, int height, int bits_per_pixel);
  ~TDIBSection();
  TDIBSection(const TDIBSection&) = delete;
  TDIBSection& operator=(const TDIBSection&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitsPerPixel() const { return bpp_; }
  int Stride() const { return stride_; }
  std::uint8_t* Bits() { return bits_.data(); }
  const std::uint8_t* Bits() const { return bits_.data(); }
  int SizeBytes() const { return static_cast<int>(bits_.size()); }

  // The colour table of an 8-bit DIB (ignored at 24 bits).
  void SetColorTable(const PALETTEENTRY* entries, int count);
  const std::vector<PALETTEENTRY>& ColorTable() const { return table_; }
  // The colour table as opaque 32-bit pixels (0xFFRRGGBB), for copying to
  // the screen.
  const std::uint32_t* PixelTable() const { return pixels_.data(); }

  // The RGB colour (0x00BBGGRR) of the picture's pixel (x, y), -1 outside.
  TColor PixelColor(int x, int y) const;

 private:
  int width_, height_, bpp_, stride_;
  std::vector<std::uint8_t> bits_;
  std::vector<PALETTEENTRY> table_;
  std::vector<std::uint32_t> pixels_;
};

}  // namespace platform

// A device context: where a control's paint routine draws. Its origin and
// clip rectangle can be moved; coordinates are relative to the origin.
struct TDeviceContext;
using HDC = TDeviceContext*;

// The origin and clip rectangle of a device context, kept by every binding's
// device context.
struct TDeviceContextState {
  int origin_x = 0, origin_y = 0;
  TRect clip{0, 0, 1 << 20, 1 << 20};  // in origin coordinates
  bool clipped = false;
};
// The state of a device context (null for a null one); defined by the binding.
TDeviceContextState* StateOf(HDC dc);

// Fills a rectangle in one colour (system colours are resolved).
void GdiFillRect(HDC dc, const TRect& rect, TColor color);
// Block transfer: copies the DIB's part at (sx, sy) (picture coordinates)
// of the destination's size to dest. Nothing for a null dc.
void GdiBlt(HDC dc, const TRect& dest, const platform::TDIBSection& dib, int sx, int sy);
namespace platform {
// The part of a block transfer (as GdiBlt takes it) that lands inside the
// clip rectangle and the DIB: target (origin coordinates) and the picture
// coordinates (sx, sy) of its top-left pixel; false when nothing does.
bool BltPart(HDC dc, const TRect& dest, const TDIBSection& dib, TRect& target, int& sx, int& sy);
}  // namespace platform

// Moves the origin by (dx, dy); the clip rectangle is in origin coordinates.
void GdiOffsetOrigin(HDC dc, int dx, int dy);
void GdiSetClip(HDC dc, const TRect& clip);
TRect GdiGetClip(HDC dc);
// Ensures pending drawing reached its target.
void GdiFlush(HDC dc);

namespace platform {

// An off-screen picture with its own device context, for composing and for
// tests that look at what a control painted.
class TImageDC {
 public:
  TImageDC(int width, int height, TColor fill = clBlack);
  ~TImageDC();
  TImageDC(const TImageDC&) = delete;
  TImageDC& operator=(const TImageDC&) = delete;

  HDC Handle();
  // RGB colour (0x00BBGGRR) of a pixel; finishes pending drawing first.
  TColor Pixel(int x, int y);
  int Width() const;
  int Height() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
