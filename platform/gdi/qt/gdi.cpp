#include "platform/gdi/gdi.h"

#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/gdi/qt/gdi_painter.h"

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

QColor ToColor(TColor c) {
  TColor rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

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

TDeviceContext::TDeviceContext(QPainter* p) : painter(p) {}

void GdiFillRect(HDC dc, const TRect& rect, TColor color) {
  if (!dc || !dc->painter) return;
  TRect r = dc->clipped ? IntersectRect(rect, dc->clip) : rect;
  if (r.IsEmpty()) return;
  dc->painter->fillRect(QRect(r.Left + dc->origin_x, r.Top + dc->origin_y, r.Width(), r.Height()),
                        ToColor(color));
}

void GdiBlt(HDC dc, const TRect& dest, const platform::TDIBSection& dib, int sx, int sy) {
  if (!dc || !dc->painter || dest.IsEmpty()) return;
  TRect target = dest;
  if (dc->clipped) target = IntersectRect(dest, dc->clip);
  if (target.IsEmpty()) return;
  sx += target.Left - dest.Left;
  sy += target.Top - dest.Top;
  // Only the part of the DIB that exists is copied.
  const int w = std::min(target.Width(), dib.Width() - sx);
  const int h = std::min(target.Height(), dib.Height() - sy);
  if (w <= 0 || h <= 0 || sx < 0 || sy < 0) return;
  // The bottom-up rows are converted once into top-down 32-bit pixels (through
  // the colour table at 8 bits), which the painter copies without scaling.
  // Painting happens on the GUI thread only, so one scratch picture serves.
  static std::vector<std::uint32_t> scratch;
  scratch.resize(static_cast<std::size_t>(w) * h);
  const std::uint32_t* table = dib.PixelTable();
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = dib.Bits() + static_cast<std::size_t>(dib.Height() - 1 - (sy + y)) *
                                               static_cast<std::size_t>(dib.Stride());
    std::uint32_t* out = scratch.data() + static_cast<std::size_t>(y) * w;
    if (dib.BitsPerPixel() == 8) {
      src += sx;
      for (int x = 0; x < w; ++x) out[x] = table[src[x]];
    } else {
      src += static_cast<std::size_t>(sx) * 3;
      for (int x = 0; x < w; ++x, src += 3)
        out[x] =
            0xFF000000u | (std::uint32_t{src[2]} << 16) | (std::uint32_t{src[1]} << 8) | src[0];
    }
  }
  const QImage picture(reinterpret_cast<const uchar*>(scratch.data()), w, h, w * 4,
                       QImage::Format_RGB32);
  dc->painter->drawImage(QPoint(target.Left + dc->origin_x, target.Top + dc->origin_y), picture);
}

void GdiOffsetOrigin(HDC dc, int dx, int dy) {
  if (!dc) return;
  dc->origin_x += dx;
  dc->origin_y += dy;
  if (dc->clipped) dc->clip = OffsetRect(dc->clip, -dx, -dy);
}

void GdiSetClip(HDC dc, const TRect& clip) {
  if (!dc) return;
  dc->clip = clip;
  dc->clipped = true;
}

TRect GdiGetClip(HDC dc) {
  if (!dc) return TRect{};
  return dc->clip;
}

void GdiFlush(HDC /*dc*/) {
  // Painters draw synchronously into their target; nothing is buffered here.
}

namespace platform {

struct TImageDC::Impl {
  QImage image;
  std::unique_ptr<QPainter> painter;
  std::unique_ptr<TDeviceContext> dc;
};

TImageDC::TImageDC(int width, int height, TColor fill) : impl_(std::make_unique<Impl>()) {
  impl_->image = QImage(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
  impl_->image.fill(ToColor(fill));
}

TImageDC::~TImageDC() {
  impl_->dc.reset();
  impl_->painter.reset();
}

HDC TImageDC::Handle() {
  if (!impl_->painter) {
    impl_->painter = std::make_unique<QPainter>(&impl_->image);
    impl_->dc = std::make_unique<TDeviceContext>(impl_->painter.get());
  }
  return impl_->dc.get();
}

TColor TImageDC::Pixel(int x, int y) {
  impl_->dc.reset();
  impl_->painter.reset();
  if (x < 0 || y < 0 || x >= impl_->image.width() || y >= impl_->image.height()) return -1;
  QRgb c = impl_->image.pixel(x, y);
  return RGB(qRed(c), qGreen(c), qBlue(c));
}

int TImageDC::Width() const {
  return impl_->image.width();
}
int TImageDC::Height() const {
  return impl_->image.height();
}

}  // namespace platform
