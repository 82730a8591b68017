#include "platform/gdi/win32/native_gdi.h"

#include <windows.h>

#include <cstring>

namespace platform::win32 {
namespace {

HDC SystemDc(std::uintptr_t dc) {
  return reinterpret_cast<HDC>(dc);
}

// A DIB header with room for a 256-entry colour table.
struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

}  // namespace

void FillSolid(std::uintptr_t dc, int left, int top, int right, int bottom, std::uint32_t rgb) {
  if (right <= left || bottom <= top) return;
  // The device context's own brush colour: no brush object to make per fill.
  HGDIOBJ previous = SelectObject(SystemDc(dc), GetStockObject(DC_BRUSH));
  SetDCBrushColor(SystemDc(dc), rgb);
  PatBlt(SystemDc(dc), left, top, right - left, bottom - top, PATCOPY);
  SelectObject(SystemDc(dc), previous);
}

void BlitDib(std::uintptr_t dc, int x, int y, int w, int h, const void* bits, int width, int height,
             int bits_per_pixel, const std::uint32_t* table, int sx, int sy) {
  DibHeader info{};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = width;
  info.header.biHeight = height;  // bottom-up
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits_per_pixel);
  info.header.biCompression = BI_RGB;
  if (bits_per_pixel == 8) {
    info.header.biClrUsed = 256;
    std::memcpy(info.colors, table, sizeof info.colors);
  }
  // A bottom-up DIB counts its source rows from the bottom line.
  SetDIBitsToDevice(SystemDc(dc), x, y, static_cast<DWORD>(w), static_cast<DWORD>(h), sx,
                    height - (sy + h), 0, static_cast<UINT>(height), bits,
                    reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS);
}

void DrawPixels(std::uintptr_t dc, int x, int y, int w, int h, const std::uint32_t* pixels, int pw,
                int ph) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = pw;
  info.bmiHeader.biHeight = -ph;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  if (w == pw && h == ph) {
    SetDIBitsToDevice(SystemDc(dc), x, y, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0,
                      static_cast<UINT>(ph), pixels, &info, DIB_RGB_COLORS);
    return;
  }
  SetStretchBltMode(SystemDc(dc), COLORONCOLOR);
  StretchDIBits(SystemDc(dc), x, y, w, h, 0, 0, pw, ph, pixels, &info, DIB_RGB_COLORS, SRCCOPY);
}

void SaveState(std::uintptr_t dc) {
  SaveDC(SystemDc(dc));
}

void RestoreState(std::uintptr_t dc) {
  RestoreDC(SystemDc(dc), -1);
}

void ClipTo(std::uintptr_t dc, int left, int top, int right, int bottom) {
  IntersectClipRect(SystemDc(dc), left, top, right, bottom);
}

void FlushDrawing() {
  GdiFlush();
}

MemoryPicture::MemoryPicture(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = bitmap ? CreateCompatibleDC(nullptr) : nullptr;
  if (!dc) {
    if (bitmap) DeleteObject(bitmap);
    return;
  }
  previous_ = reinterpret_cast<std::uintptr_t>(SelectObject(dc, bitmap));
  dc_ = reinterpret_cast<std::uintptr_t>(dc);
  bitmap_ = reinterpret_cast<std::uintptr_t>(bitmap);
  bits_ = static_cast<std::uint32_t*>(bits);
}

MemoryPicture::~MemoryPicture() {
  if (!dc_) return;
  SelectObject(SystemDc(dc_), reinterpret_cast<HGDIOBJ>(previous_));
  DeleteDC(SystemDc(dc_));
  DeleteObject(reinterpret_cast<HGDIOBJ>(bitmap_));
}

std::uint32_t MemoryPicture::Pixel(int x, int y) const {
  if (!bits_) return 0;
  GdiFlush();
  const std::uint32_t p = bits_[static_cast<std::size_t>(y) * width_ + x];
  // blue-green-red in memory: swap red and blue for 0x00BBGGRR.
  return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

void MemoryPicture::CopyFrom(std::uintptr_t source, int x, int y, int w, int h) {
  if (dc_) BitBlt(SystemDc(dc_), 0, 0, w, h, SystemDc(source), x, y, SRCCOPY);
}

void MemoryPicture::CopyTo(std::uintptr_t target, int dx, int dy, int x, int y, int w,
                           int h) const {
  if (dc_) BitBlt(SystemDc(target), dx, dy, w, h, SystemDc(dc_), x, y, SRCCOPY);
}

}  // namespace platform::win32
