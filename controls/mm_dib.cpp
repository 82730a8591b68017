#include "controls/mm_dib.h"

#include <algorithm>
#include <cstring>

#include "platform/framework/properties.h"

std::recursive_mutex& DIBLock() {
  static std::recursive_mutex lock;
  return lock;
}

TMMDIBCanvas::TMMDIBCanvas(TMMDIBGraphicControl* owner) : owner_(owner) {
  Rebuild();
}

TMMDIBCanvas::~TMMDIBCanvas() = default;

void TMMDIBCanvas::SetBounds(int /*left*/, int /*top*/, int width, int height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  clip_ = Rect(0, 0, width, height);
  dirty_ = true;
}

void TMMDIBCanvas::SetBitsPerPixel(int bits) {
  if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
  if (bits == bpp_) return;
  if (!idle_) Rebuild();  // raises
  bpp_ = bits;
  Rebuild();
}

void TMMDIBCanvas::SetPaletteRealize(bool v) {
  if (v == palette_realize_) return;
  palette_realize_ = v;
  Rebuild();
}

void TMMDIBCanvas::SetCustomPalette(const std::vector<PALETTEENTRY>& palette) {
  custom_palette_ = palette;
  Rebuild();
}

void TMMDIBCanvas::SetBackGroundBitmap(std::shared_ptr<const platform::TDIBSection> bitmap) {
  if (bitmap == background_bitmap_) return;
  background_bitmap_ = std::move(bitmap);
  Rebuild();
}

void TMMDIBCanvas::SetStretchBackGround(bool v) {
  if (v == stretch_background_) return;
  stretch_background_ = v;
  if (background_bitmap_) Rebuild();
}

const std::uint8_t* TMMDIBCanvas::BackGroundBits() {
  Surface();
  return background_dib_ ? background_dib_->Bits() : nullptr;
}

void TMMDIBCanvas::DrawBackground() {
  const platform::TDIBSection& src = *background_bitmap_;
  background_dib_ = std::make_unique<platform::TDIBSection>(dib_->Width(), dib_->Height(), bpp_);
  background_dib_->SetColorTable(palette_, kPaletteSize);
  const int w = dib_->Width(), h = dib_->Height(), bpp = bpp_ / 8;
  for (int y = 0; y < h; ++y) {
    // Colour-on-colour stretching: each target pixel takes the source pixel it falls on.
    const int sy = stretch_background_ ? y * src.Height() / h : y % src.Height();
    std::uint8_t* row =
        background_dib_->Bits() + static_cast<size_t>(h - 1 - y) * background_dib_->Stride();
    for (int x = 0; x < w; ++x) {
      const int sx = stretch_background_ ? x * src.Width() / w : x % src.Width();
      const TColor rgb = src.PixelColor(sx, sy);
      if (bpp == 1) {
        row[x] = static_cast<std::uint8_t>(GetNearestPaletteIndex(palette_, kPaletteSize, rgb));
      } else {
        row[x * 3] = static_cast<std::uint8_t>((rgb >> 16) & 0xFF);
        row[x * 3 + 1] = static_cast<std::uint8_t>((rgb >> 8) & 0xFF);
        row[x * 3 + 2] = static_cast<std::uint8_t>(rgb & 0xFF);
      }
    }
  }
}

void TMMDIBCanvas::SetAnimatedColors(int count) {
  if (count < 0 || count > 236) throw EMMDIBError("Invalid count of animated colors");
  if (count == animated_) return;
  animated_ = count;
  Rebuild();
}

void TMMDIBCanvas::AnimateColor(int index, TColor color) {
  if (index < 0 || index >= animated_) throw EMMDIBError("Invalidate animated color index");
  TColor rgb = ColorToRGB(color);
  PALETTEENTRY& e = palette_[246 - animated_ + index];
  e = PALETTEENTRY{static_cast<std::uint8_t>(rgb & 0xFF),
                   static_cast<std::uint8_t>((rgb >> 8) & 0xFF),
                   static_cast<std::uint8_t>((rgb >> 16) & 0xFF), PC_RESERVED};
  if (dib_) dib_->SetColorTable(palette_, kPaletteSize);
  last_rgb_ = -1;
}

void TMMDIBCanvas::BuildPalette() {
  last_rgb_ = -1;
  const PALETTEENTRY* statics = SystemStaticColors();
  for (int i = 0; i < kPaletteSize; ++i) palette_[i] = PALETTEENTRY{};
  for (int i = 0; i < 10; ++i) {
    palette_[i] = statics[i];
    palette_[246 + i] = statics[10 + i];
  }
  if (background_bitmap_ && background_bitmap_->BitsPerPixel() == 8) {
    const auto& table = background_bitmap_->ColorTable();
    for (int i = 10; i <= 244; ++i) palette_[i] = table[i];
  } else if (custom_palette_.size() > 10) {
    for (int i = 10; i <= 246 && i < static_cast<int>(custom_palette_.size()); ++i) {
      palette_[i] = custom_palette_[i];
      palette_[i].peFlags = PC_NOCOLLAPSE;
    }
  }
  for (int i = 0; i < animated_; ++i) palette_[246 - animated_ + i].peFlags = PC_RESERVED;
}

void TMMDIBCanvas::Rebuild() {
  if (!idle_)
    throw EMMDIBError(owner_ ? owner_->ClassName() +
                                   ": Attempt to create new DIB while "
                                   "initialized for drawing"
                             : std::string("Attempt to create new DIB while initialized for "
                                           "drawing"));
  dib_.reset();
  background_dib_.reset();
  BuildPalette();
  dib_ = std::make_unique<platform::TDIBSection>(std::max(width_, 1), std::max(height_, 1), bpp_);
  dib_->SetColorTable(palette_, kPaletteSize);
  if (background_bitmap_) DrawBackground();
  dirty_ = false;
}

platform::TDIBSection* TMMDIBCanvas::Surface() {
  if (dirty_ && idle_) Rebuild();
  return dib_.get();
}

void TMMDIBCanvas::BeginDraw() {
  std::unique_lock<std::recursive_mutex> lock(DIBLock());
  NotifyChange(true);
  if (dirty_) Rebuild();
  bytes_per_pixel_ = bpp_ / 8;
  idle_ = false;
  pass_lock_ = std::move(lock);
}

void TMMDIBCanvas::EndDraw() {
  if (idle_) return;
  idle_ = true;
  NotifyChange(false);
  std::unique_lock<std::recursive_mutex> lock = std::move(pass_lock_);
}

void TMMDIBCanvas::SetDrawColor(TColor color) {
  TColor rgb = ColorToRGB(color);
  if (bpp_ == 8) {
    // A meter sets the same few colours over and over.
    if (rgb != last_rgb_) {
      last_index_ = static_cast<std::uint32_t>(GetNearestPaletteIndex(palette_, kPaletteSize, rgb));
      last_rgb_ = rgb;
    }
    value_ = last_index_;
  } else
    value_ = static_cast<std::uint32_t>(rgb);
}

std::uint8_t* TMMDIBCanvas::Row(int y) const {
  return dib_->Bits() + static_cast<size_t>(dib_->Height() - 1 - y) * dib_->Stride();
}

void TMMDIBCanvas::SetPixel(int x, int y, std::uint32_t value) {
  if (x < clip_.Left || x >= clip_.Right || y < clip_.Top || y >= clip_.Bottom) return;
  if (x >= dib_->Width() || y >= dib_->Height() || x < 0 || y < 0) return;
  std::uint8_t* p = Row(y) + x * bytes_per_pixel_;
  if (bytes_per_pixel_ == 1) {
    *p = static_cast<std::uint8_t>(value);
  } else {
    p[0] = static_cast<std::uint8_t>((value >> 16) & 0xFF);  // blue
    p[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    p[2] = static_cast<std::uint8_t>(value & 0xFF);  // red
  }
}

std::int64_t TMMDIBCanvas::GetPixel(int x, int y) const {
  if (x < clip_.Left || x >= clip_.Right || y < clip_.Top || y >= clip_.Bottom) return -1;
  if (!dib_ || x >= dib_->Width() || y >= dib_->Height() || x < 0 || y < 0) return -1;
  const std::uint8_t* p = Row(y) + x * (bpp_ / 8);
  if (bpp_ == 8) return *p;
  return p[2] | (p[1] << 8) | (p[0] << 16);
}

void TMMDIBCanvas::Clear() {
  FillRect(Rect(0, 0, dib_->Width(), dib_->Height()));
}

void TMMDIBCanvas::FillRect(const TRect& rect) {
  TRect r = IntersectRect(IntersectRect(rect, clip_), Rect(0, 0, dib_->Width(), dib_->Height()));
  if (r.IsEmpty()) return;
  for (int y = r.Top; y < r.Bottom; ++y) {
    std::uint8_t* row = Row(y);
    if (bytes_per_pixel_ == 1) {
      std::memset(row + r.Left, static_cast<int>(value_), r.Width());
    } else {
      for (int x = r.Left; x < r.Right; ++x) SetPixel(x, y, value_);
    }
  }
}

void TMMDIBCanvas::FillRectDotted(const TRect& rect) {
  for (int y = rect.Top; y < rect.Bottom; y += 2)
    for (int x = rect.Left; x < rect.Right; x += 2) SetPixel(x, y, value_);
}

void TMMDIBCanvas::XorRect(const TRect& rect) {
  TRect r = IntersectRect(IntersectRect(rect, clip_), Rect(0, 0, dib_->Width(), dib_->Height()));
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x)
      SetPixel(x, y, static_cast<std::uint32_t>(GetPixel(x, y)) ^ value_);
}

void TMMDIBCanvas::CopyBits(const TRect& rect, const std::uint8_t* source) {
  if (!source) return;
  TRect r = IntersectRect(IntersectRect(rect, clip_), Rect(0, 0, dib_->Width(), dib_->Height()));
  if (r.IsEmpty()) return;
  for (int y = r.Top; y < r.Bottom; ++y) {
    size_t offset = static_cast<size_t>(dib_->Height() - 1 - y) * dib_->Stride() +
                    static_cast<size_t>(r.Left) * bytes_per_pixel_;
    std::memcpy(dib_->Bits() + offset, source + offset,
                static_cast<size_t>(r.Width()) * bytes_per_pixel_);
  }
}

void TMMDIBCanvas::DrawTo(HDC dc, const TRect& dest, int sx, int sy) {
  if (!dc || !dib_) return;
  GdiBlt(dc, dest, *dib_, sx, sy);
  GdiFlush(dc);
}

// --- TMMDIBGraphicControl -----------------------------------------------------

TMMDIBGraphicControl::TMMDIBGraphicControl(TComponent* owner)
    : TMMGraphicControl(owner), canvas_(std::make_unique<TMMDIBCanvas>(this)) {}

TMMDIBGraphicControl::~TMMDIBGraphicControl() = default;

void TMMDIBGraphicControl::SetBounds(int left, int top, int width, int height) {
  TMMGraphicControl::SetBounds(left, top, width, height);
  if (canvas_) canvas_->SetBounds(0, 0, GetWidth(), GetHeight());
}

void TMMDIBGraphicControl::SetBitsPerPixel(int bits) {
  canvas_->SetBitsPerPixel(bits);
  Invalidate();
}

void TMMDIBGraphicControl::ClearDIB() {
  const std::uint8_t* background = canvas_->BackGroundBits();
  if (background && canvas_->Bits()) {
    canvas_->CopyBits(Rect(0, 0, canvas_->Width(), canvas_->Height()), background);
  } else {
    canvas_->SetDrawColor(GetColor());
    canvas_->Clear();
  }
}

void TMMDIBGraphicControl::SetBitmap(std::shared_ptr<const platform::TDIBSection> bitmap) {
  bitmap_ = std::move(bitmap);
  if (!HasState(csLoading)) ApplyUseBitmap();
}

void TMMDIBGraphicControl::SetUseBitmap(bool v) {
  use_bitmap_requested_ = v;
  if (!HasState(csLoading)) ApplyUseBitmap();
}

void TMMDIBGraphicControl::ApplyUseBitmap() {
  const bool v = use_bitmap_requested_ && bitmap_ != nullptr;
  if (v != use_bitmap_) canvas_->SetPaletteRealize(v);
  use_bitmap_ = v;
  canvas_->SetBackGroundBitmap(v ? bitmap_ : nullptr);
  Invalidate();
}

void TMMDIBGraphicControl::Loaded() {
  TMMGraphicControl::Loaded();
  ApplyUseBitmap();
}

void TMMDIBGraphicControl::DrawNow(const std::function<void()>& routine) {
  PaintNow(Rect(0, 0, GetWidth(), GetHeight()), routine);
}

const TClassInfo& TMMDIBGraphicControl::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMDIBGraphicControl>("TMMDIBGraphicControl",
                                              &TMMGraphicControl::StaticClassInfo())
          .Int("Tag2", &TMMDIBGraphicControl::GetTag2, &TMMDIBGraphicControl::SetTag2)
          .Build();
  return info;
}
