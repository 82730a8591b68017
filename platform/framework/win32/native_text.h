#pragma once

// The system's fonts and text drawing with plain types (see
// messages/win32/native_windows.h). Texts are UTF-8.

#include <cstdint>
#include <string>

namespace platform::win32 {

struct FontSpec {
  std::string name;
  int height = -11;  // below 0: character height in pixels
  bool bold = false, italic = false, underline = false, strike_out = false;
};

enum TextFlags : unsigned {
  kTextLeft = 0,
  kTextCenter = 1,
  kTextRight = 2,
  kTextTop = 0,
  kTextMiddle = 4,
};

// Draws one line of text in the rectangle, aligned as flags say, without a background.
void DrawTextLine(std::uintptr_t dc, const FontSpec& font, std::uint32_t rgb, int left, int top,
                  int right, int bottom, unsigned flags, const std::string& text);
// Width of the text and height of the font's lines, in pixels.
void MeasureText(const FontSpec& font, const std::string& text, int* width, int* height);

}  // namespace platform::win32
