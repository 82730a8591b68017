#include "platform/gdi/gdi.h"

#include <algorithm>
#include <memory>

#include "platform/framework/exception.h"
#include "platform/gdi/win32/gdi_context.h"
#include "platform/gdi/win32/native_gdi.h"

TDeviceContextState* StateOf(HDC dc) {
  return dc;
}

void GdiFillRect(HDC dc, const TRect& rect, TColor color) {
  if (!dc) return;
  const TRect r = dc->clipped ? IntersectRect(rect, dc->clip) : rect;
  if (r.IsEmpty()) return;
  platform::win32::FillSolid(dc->dc, r.Left + dc->origin_x, r.Top + dc->origin_y,
                             r.Right + dc->origin_x, r.Bottom + dc->origin_y,
                             static_cast<std::uint32_t>(ColorToRGB(color)));
}

void GdiBlt(HDC dc, const TRect& dest, const platform::TDIBSection& dib, int sx, int sy) {
  TRect target;
  if (!platform::BltPart(dc, dest, dib, target, sx, sy)) return;
  const int w = target.Width(), h = target.Height();
  platform::win32::BlitDib(dc->dc, target.Left + dc->origin_x, target.Top + dc->origin_y, w, h,
                           dib.Bits(), dib.Width(), dib.Height(), dib.BitsPerPixel(),
                           dib.PixelTable(), sx, sy);
}

void GdiFlush(HDC /*dc*/) {
  platform::win32::FlushDrawing();
}

namespace platform {

struct TImageDC::Impl {
  std::unique_ptr<win32::MemoryPicture> picture;
  std::unique_ptr<TDeviceContext> dc;
};

TImageDC::TImageDC(int width, int height, TColor fill) : impl_(std::make_unique<Impl>()) {
  impl_->picture = std::make_unique<win32::MemoryPicture>(std::max(width, 1), std::max(height, 1));
  impl_->dc = std::make_unique<TDeviceContext>(impl_->picture->Dc());
  if (!impl_->picture->Dc()) throw EOutOfMemory();
  GdiFillRect(impl_->dc.get(), Rect(0, 0, Width(), Height()), fill);
}

TImageDC::~TImageDC() = default;

HDC TImageDC::Handle() {
  return impl_->dc.get();
}

TColor TImageDC::Pixel(int x, int y) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return -1;
  return static_cast<TColor>(impl_->picture->Pixel(x, y));
}

int TImageDC::Width() const {
  return impl_->picture->Width();
}
int TImageDC::Height() const {
  return impl_->picture->Height();
}

}  // namespace platform
