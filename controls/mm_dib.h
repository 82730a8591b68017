#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "controls/mm_graphic_control.h"

class EMMDIBError : public Exception {
 public:
  using Exception::Exception;
};

class TMMDIBGraphicControl;

// An off-screen DIB of 8 bits (with a 256-entry palette of the 20 static
// colours) or 24 bits that controls draw into directly, inside a drawing pass
// (BeginDraw … EndDraw), and copy to the screen in one block transfer.
class TMMDIBCanvas : public TMMObject {
 public:
  explicit TMMDIBCanvas(TMMDIBGraphicControl* owner);
  ~TMMDIBCanvas() override;

  virtual void SetBounds(int left, int top, int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  TRect ClipRect() const { return clip_; }

  int GetBitsPerPixel() const { return bpp_; }
  // 8 or 24; anything else raises EMMDIBError.
  void SetBitsPerPixel(int bits);
  bool GetPaletteRealize() const { return palette_realize_; }
  void SetPaletteRealize(bool v);
  bool GetPaletteMapped() const { return palette_mapped_; }
  void SetPaletteMapped(bool v) { palette_mapped_ = v; }
  // A palette whose entries 10 … 246 replace the free entries (none: empty).
  void SetCustomPalette(const std::vector<PALETTEENTRY>& palette);
  int GetAnimatedColors() const { return animated_; }
  // 0 … 236 entries at the top of the free range, reserved for animation.
  void SetAnimatedColors(int count);
  // Changes reserved entry index (0 … count-1) of the palette.
  void AnimateColor(int index, TColor color);

  // A picture under the drawing (none: null); the canvas keeps its own
  // reference. Stretched to the DIB, or tiled from the top-left corner.
  void SetBackGroundBitmap(std::shared_ptr<const platform::TDIBSection> bitmap);
  const platform::TDIBSection* GetBackGroundBitmap() const { return background_bitmap_.get(); }
  bool GetStretchBackGround() const { return stretch_background_; }
  void SetStretchBackGround(bool v);
  // The background drawn at the DIB's size and depth (null without a bitmap).
  const std::uint8_t* BackGroundBits();

  bool Dirty() const { return dirty_; }
  bool Idle() const { return idle_; }
  const PALETTEENTRY* Palette() const { return palette_; }

  // The drawing bits, built first when dirty (null only before a build).
  platform::TDIBSection* Surface();

  // The drawing pass: takes the process-wide DIB lock.
  void BeginDraw();
  void EndDraw();

  // Primitives of the open pass; coordinates are picture pixels, clipped.
  void SetDrawColor(TColor color);
  std::uint32_t DrawValue() const { return value_; }
  void Clear();
  void FillRect(const TRect& rect);
  void FillRectDotted(const TRect& rect);
  void XorRect(const TRect& rect);
  void SetPixel(int x, int y, std::uint32_t value);
  // The raw value (palette index or 0x00RRGGBB-packed blue, green, red) or -1 outside.
  std::int64_t GetPixel(int x, int y) const;
  // Copies rect from another bit buffer of the same geometry.
  void CopyBits(const TRect& rect, const std::uint8_t* source);
  const std::uint8_t* Bits() const { return dib_ ? dib_->Bits() : nullptr; }

  // Copies the DIB to dc at dest; nothing for a null dc.
  void DrawTo(HDC dc, const TRect& dest, int sx, int sy);

  // The picture's colour at (x, y) (for checks), -1 outside.
  TColor PixelColor(int x, int y) { return Surface()->PixelColor(x, y); }

 private:
  void Rebuild();
  void BuildPalette();
  void DrawBackground();
  std::uint8_t* Row(int y) const;

  TMMDIBGraphicControl* owner_;
  int bpp_ = 8;
  int width_ = 1, height_ = 1;
  TRect clip_{0, 0, 1, 1};
  std::unique_ptr<platform::TDIBSection> dib_;
  std::unique_ptr<platform::TDIBSection> background_dib_;
  std::shared_ptr<const platform::TDIBSection> background_bitmap_;
  bool stretch_background_ = true;
  PALETTEENTRY palette_[kPaletteSize];
  std::vector<PALETTEENTRY> custom_palette_;
  bool palette_realize_ = false;
  bool palette_mapped_ = false;
  int animated_ = 0;
  bool dirty_ = true;
  bool idle_ = true;
  // The last colour looked up in the palette and its entry (rgb -1: none).
  TColor last_rgb_ = -1;
  std::uint32_t last_index_ = 0;
  // State of the open pass.
  std::uint32_t value_ = 0;
  int bytes_per_pixel_ = 1;
  std::unique_lock<std::recursive_mutex> pass_lock_;
};

// A graphic control with its own DIB canvas that it can paint at once.
class TMMDIBGraphicControl : public TMMGraphicControl {
 public:
  explicit TMMDIBGraphicControl(TComponent* owner);
  ~TMMDIBGraphicControl() override;

  TMMDIBCanvas* DIBCanvas() const { return canvas_.get(); }
  void SetBounds(int left, int top, int width, int height) override;
  int GetBitsPerPixel() const { return canvas_->GetBitsPerPixel(); }
  virtual void SetBitsPerPixel(int bits);
  virtual void ClearDIB();
  // The background picture: used only while the flag holds and the picture is
  // not empty; a flag set while loading takes effect when loading ends.
  void SetBitmap(std::shared_ptr<const platform::TDIBSection> bitmap);
  bool GetUseBitmap() const { return use_bitmap_; }
  void SetUseBitmap(bool v);
  void Loaded() override;
  // Paints immediately through routine when the control is showing.
  void DrawNow(const std::function<void()>& routine);

  std::int32_t GetTag2() const { return tag2_; }
  void SetTag2(std::int32_t v) { tag2_ = v; }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  void ApplyUseBitmap();
  std::unique_ptr<TMMDIBCanvas> canvas_;
  std::shared_ptr<const platform::TDIBSection> bitmap_;
  bool use_bitmap_ = false;
  bool use_bitmap_requested_ = false;
  std::int32_t tag2_ = 0;
};

// The lock every drawing pass of the process holds.
std::recursive_mutex& DIBLock();
