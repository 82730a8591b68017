#include "platform/framework/graphics.h"

#include <strings.h>

#include <iterator>

#include "platform/framework/properties.h"

namespace {

struct ColorName {
  TColor color;
  const char* name;
};

constexpr ColorName kColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clWindow, "clWindow"},
    {clWindowText, "clWindowText"},
    {clBtnFace, "clBtnFace"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clBtnHighlight, "clBtnHighlight"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clNone, "clNone"},
};

}  // namespace

TColor ColorToRGB(TColor color) {
  if (color >= 0) return color & 0xFFFFFF;
  switch (color & 0xFF) {
    case 5:  // window
      return clWhite;
    case 8:   // window text
    case 18:  // button text
      return clBlack;
    case 15:  // button face
    case 22:  // 3-D light
      return clSilver;
    case 16:  // button shadow
      return clGray;
    case 20:  // button highlight
      return clWhite;
    case 21:  // 3-D dark shadow
      return RGB(64, 64, 64);
    default:
      return clBlack;
  }
}

void RegisterColorIdents() {
  RegisterIntegerConsts(
      "TColor",
      [](const std::string& ident, std::int64_t& value) {
        for (const auto& c : kColorNames)
          if (strcasecmp(c.name, ident.c_str()) == 0) {
            value = c.color;
            return true;
          }
        return false;
      },
      [](std::int64_t value, std::string& ident) {
        for (const auto& c : kColorNames)
          if (c.color == value) {
            ident = c.name;
            return true;
          }
        return false;
      });
}
