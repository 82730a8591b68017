#include "platform/gdi/gdi.h"

#include <algorithm>

// The drawing services every platform shares; device contexts and block
// transfers are in the binding (qt/, win32/).

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return TRect{};
  return r;
}

namespace {

// red, green, blue
const PALETTEENTRY kStatic[kStaticColors] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

}  // namespace

bool ScreenIsPaletteDevice() {
  return false;
}

const PALETTEENTRY* SystemStaticColors() {
  return kStatic;
}

int GetNearestPaletteIndex(const PALETTEENTRY* palette, int count, TColor rgb) {
  int r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  int best = 0;
  long best_dist = -1;
  for (int i = 0; i < count; ++i) {
    long dr = palette[i].peRed - r, dg = palette[i].peGreen - g, db = palette[i].peBlue - b;
    long d = dr * dr + dg * dg + db * db;
    if (best_dist < 0 || d < best_dist) {
      best = i;
      best_dist = d;
      if (d == 0) break;
    }
  }
  return best;
}

namespace platform {

TDIBSection::TDIBSection(int width, int height, int bits_per_pixel)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      bpp_(bits_per_pixel > 8 ? 24 : 8),
      stride_((width_ * (bpp_ / 8) + 3) / 4 * 4),
      bits_(static_cast<size_t>(stride_) * height_, 0),
      table_(bpp_ == 8 ? kPaletteSize : 0),
      pixels_(bpp_ == 8 ? kPaletteSize : 0, 0xFF000000u) {}

TDIBSection::~TDIBSection() = default;

void TDIBSection::SetColorTable(const PALETTEENTRY* entries, int count) {
  if (bpp_ != 8) return;
  for (int i = 0; i < std::min(count, kPaletteSize); ++i) {
    table_[i] = entries[i];
    pixels_[i] = 0xFF000000u | (std::uint32_t{entries[i].peRed} << 16) |
                 (std::uint32_t{entries[i].peGreen} << 8) | entries[i].peBlue;
  }
}

TColor TDIBSection::PixelColor(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
  const std::uint8_t* row = bits_.data() + static_cast<size_t>(height_ - 1 - y) * stride_;
  if (bpp_ == 8) {
    const PALETTEENTRY& e = table_[row[x]];
    return RGB(e.peRed, e.peGreen, e.peBlue);
  }
  const std::uint8_t* p = row + x * 3;
  return RGB(p[2], p[1], p[0]);
}

}  // namespace platform

void GdiOffsetOrigin(HDC dc, int dx, int dy) {
  TDeviceContextState* state = StateOf(dc);
  if (!state) return;
  state->origin_x += dx;
  state->origin_y += dy;
  if (state->clipped) state->clip = OffsetRect(state->clip, -dx, -dy);
}

void GdiSetClip(HDC dc, const TRect& clip) {
  TDeviceContextState* state = StateOf(dc);
  if (!state) return;
  state->clip = clip;
  state->clipped = true;
}

TRect GdiGetClip(HDC dc) {
  const TDeviceContextState* state = StateOf(dc);
  if (!state) return TRect{};
  return state->clip;
}

namespace platform {

bool BltPart(HDC dc, const TRect& dest, const TDIBSection& dib, TRect& target, int& sx, int& sy) {
  const TDeviceContextState* state = StateOf(dc);
  if (!state || dest.IsEmpty()) return false;
  target = state->clipped ? IntersectRect(dest, state->clip) : dest;
  if (target.IsEmpty()) return false;
  sx += target.Left - dest.Left;
  sy += target.Top - dest.Top;
  // Only the part of the DIB that exists is copied.
  target.Right = target.Left + std::min(target.Width(), dib.Width() - sx);
  target.Bottom = target.Top + std::min(target.Height(), dib.Height() - sy);
  return !target.IsEmpty() && sx >= 0 && sy >= 0;
}

}  // namespace platform
