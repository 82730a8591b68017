#include "platform/framework/win32/native_text.h"

#include <windows.h>

#include <map>
#include <tuple>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {
namespace {

// Fonts are made once per description and kept for the program's life (GUI thread only).
HFONT FontOf(const FontSpec& wanted) {
  using Key = std::tuple<std::string, int, bool, bool, bool, bool>;
  static std::map<Key, HFONT> fonts;
  const Key key{wanted.name,   wanted.height,    wanted.bold,
                wanted.italic, wanted.underline, wanted.strike_out};
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  LOGFONTW lf{};
  lf.lfHeight = wanted.height;
  lf.lfWeight = wanted.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = wanted.italic;
  lf.lfUnderline = wanted.underline;
  lf.lfStrikeOut = wanted.strike_out;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = ANTIALIASED_QUALITY;
  const std::wstring face = WideFromUtf8(wanted.name).substr(0, LF_FACESIZE - 1);
  face.copy(lf.lfFaceName, face.size());
  HFONT font = CreateFontIndirectW(&lf);
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  fonts.emplace(key, font);
  return font;
}

}  // namespace

void DrawTextLine(std::uintptr_t dc, const FontSpec& font, std::uint32_t rgb, int left, int top,
                  int right, int bottom, unsigned flags, const std::string& text) {
  HDC hdc = reinterpret_cast<HDC>(dc);
  HGDIOBJ previous = SelectObject(hdc, FontOf(font));
  SetTextColor(hdc, rgb);
  SetBkMode(hdc, TRANSPARENT);
  UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP;
  format |= (flags & kTextCenter) ? DT_CENTER : (flags & kTextRight) ? DT_RIGHT : DT_LEFT;
  format |= (flags & kTextMiddle) ? DT_VCENTER : DT_TOP;
  RECT r{left, top, right, bottom};
  const std::wstring wide = WideFromUtf8(text);
  DrawTextW(hdc, wide.c_str(), static_cast<int>(wide.size()), &r, format);
  SelectObject(hdc, previous);
}

void MeasureText(const FontSpec& font, const std::string& text, int* width, int* height) {
  HDC hdc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(hdc, FontOf(font));
  TEXTMETRICW metrics{};
  GetTextMetricsW(hdc, &metrics);
  SIZE size{0, 0};
  const std::wstring wide = WideFromUtf8(text);
  if (!wide.empty()) GetTextExtentPoint32W(hdc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(hdc, previous);
  ReleaseDC(nullptr, hdc);
  *width = size.cx;
  *height = metrics.tmHeight;
}

}  // namespace platform::win32
