#pragma once

#include <cstdint>
#include <string>

// Colours are 0x00BBGGRR; system colours have the top bit set and the index
// of the system colour in the low byte.
using TColor = std::int32_t;

inline constexpr TColor RGB(int r, int g, int b) {
  return r | (g << 8) | (b << 16);
}

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005);
inline constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
inline constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010);
inline constexpr TColor clBtnText = static_cast<TColor>(0x80000012);
inline constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014);
inline constexpr TColor cl3DDkShadow = static_cast<TColor>(0x80000015);
inline constexpr TColor cl3DLight = static_cast<TColor>(0x80000016);
inline constexpr TColor clNone = 0x1FFFFFFF;

// The RGB value of a colour; system colours resolve to the classic desktop scheme.
TColor ColorToRGB(TColor color);

// Registers the colour names (clBlack, clBtnFace, ...) for layouts.
void RegisterColorIdents();

enum TFontStyle : std::uint32_t {
  fsBold = 1,
  fsItalic = 2,
  fsUnderline = 4,
  fsStrikeOut = 8,
};

// A font as the controls use it: Height below 0 is the character height in pixels.
struct TFont {
  std::string Name = "Arial";
  int Height = -11;
  std::uint32_t Style = 0;  // TFontStyle bits
  TColor Color = clWindowText;
  bool operator==(const TFont&) const = default;
};
