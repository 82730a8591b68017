#include "platform/gdi/gdi.h"

#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/gdi/qt/gdi_painter.h"

namespace {

QColor ToColor(TColor c) {
  TColor rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

}  // namespace

TDeviceContext::TDeviceContext(QPainter* p) : painter(p) {}

void GdiFillRect(HDC dc, const TRect& rect, TColor color) {
  if (!dc || !dc->painter) return;
  TRect r = dc->clipped ? IntersectRect(rect, dc->clip) : rect;
  if (r.IsEmpty()) return;
  dc->painter->fillRect(QRect(r.Left + dc->origin_x, r.Top + dc->origin_y, r.Width(), r.Height()),
                        ToColor(color));
}

void GdiBlt(HDC dc, const TRect& dest, const platform::TDIBSection& dib, int sx, int sy) {
  if (!dc || !dc->painter) return;
  TRect target;
  if (!platform::BltPart(dc, dest, dib, target, sx, sy)) return;
  const int w = target.Width(), h = target.Height();
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

TDeviceContextState* StateOf(HDC dc) {
  return dc;
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
