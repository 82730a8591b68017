#pragma once

// The system's drawing calls with plain types (see messages/win32/native_windows.h).
// Device contexts are the system's handles as integers; colours are 0x00BBGGRR.

#include <cstdint>
#include <vector>

namespace platform::win32 {

void FillSolid(std::uintptr_t dc, int left, int top, int right, int bottom, std::uint32_t rgb);
// Copies w × h pixels from (sx, sy) (picture coordinates, top row 0) of a
// bottom-up DIB of 8 bits (with its 256-entry colour table, blue-green-red-x
// per entry) or 24 bits to (x, y).
void BlitDib(std::uintptr_t dc, int x, int y, int w, int h, const void* bits, int width, int height,
             int bits_per_pixel, const std::uint32_t* table, int sx, int sy);
// Draws top-down 32-bit pixels (blue-green-red-x) of pw × ph scaled to w × h at (x, y).
void DrawPixels(std::uintptr_t dc, int x, int y, int w, int h, const std::uint32_t* pixels, int pw,
                int ph);
// Saves the context's state and limits drawing to the rectangle; RestoreState undoes both.
void SaveState(std::uintptr_t dc);
void RestoreState(std::uintptr_t dc);
void ClipTo(std::uintptr_t dc, int left, int top, int right, int bottom);
void FlushDrawing();

// A 32-bit picture in memory with a device context of its own.
class MemoryPicture {
 public:
  MemoryPicture(int width, int height);
  ~MemoryPicture();
  MemoryPicture(const MemoryPicture&) = delete;
  MemoryPicture& operator=(const MemoryPicture&) = delete;

  // 0 when the system could not make it.
  std::uintptr_t Dc() const { return dc_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The colour (0x00BBGGRR) of a pixel; drawing is finished first.
  std::uint32_t Pixel(int x, int y) const;
  // Copies the area (x, y, w, h) of another context into the picture at (0, 0).
  void CopyFrom(std::uintptr_t source, int x, int y, int w, int h);
  // Copies the picture's area (x, y, w, h) to another context at (dx, dy).
  void CopyTo(std::uintptr_t target, int dx, int dy, int x, int y, int w, int h) const;

 private:
  int width_, height_;
  std::uintptr_t dc_ = 0;
  std::uintptr_t bitmap_ = 0;
  std::uintptr_t previous_ = 0;
  std::uint32_t* bits_ = nullptr;
};

}  // namespace platform::win32
