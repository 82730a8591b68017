#pragma once

#include <cstdint>
#include <functional>

#include "platform/framework/exception.h"
#include "platform/framework/form.h"
#include "platform/framework/graphics.h"
#include "platform/gdi/gdi.h"

inline constexpr TColor clWindowFrame = static_cast<TColor>(0x80000006);

// A small persistent object that reports its changes. Notifications are held
// back while an update (BeginUpdate … EndUpdate) is open.
class TMMObject {
 public:
  using TNotify = std::function<void(TMMObject* sender)>;

  virtual ~TMMObject() = default;

  virtual void NotifyChange(bool before);
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  TNotify OnChanging;
  TNotify OnChange;

 protected:
  void Changed() { NotifyChange(false); }

 private:
  std::int32_t update_count_ = 0;
};

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
using TBorderStyle = TFormBorderStyle;

// Draws a 3-D outline of width pixels: top and left edges in top, right and
// bottom edges in bottom. The rectangle shrinks by width on every side.
void Frame3D(HDC dc, TRect& rect, TColor top, TColor bottom, int width);

// The frame around a control: a border style, an outer bevel, a border, an
// inner bevel and a spacing, each of its own width and colours.
class TMMBevel : public TMMObject {
 public:
  TMMBevel() = default;

  TBevelCut GetBevelInner() const { return inner_; }
  void SetBevelInner(TBevelCut v);
  TBevelCut GetBevelOuter() const { return outer_; }
  void SetBevelOuter(TBevelCut v);
  int GetBevelInnerWidth() const { return inner_width_; }
  void SetBevelInnerWidth(int v);
  int GetBevelOuterWidth() const { return outer_width_; }
  void SetBevelOuterWidth(int v);
  TBorderStyle GetBorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle v);
  int GetBorderWidth() const { return border_width_; }
  void SetBorderWidth(int v);
  int GetBorderSpace() const { return border_space_; }
  void SetBorderSpace(int v);

  // Colours by index: 0 BorderColor, 1 BorderSpaceColor, 2 InnerLightColor,
  // 3 InnerShadowColor, 4 OuterLightColor, 5 OuterShadowColor.
  TColor GetColor(int index) const { return colors_[index]; }
  void SetColor(int index, TColor v);
  TColor GetBorderColor() const { return colors_[0]; }
  TColor GetBorderSpaceColor() const { return colors_[1]; }
  TColor GetInnerLightColor() const { return colors_[2]; }
  TColor GetInnerShadowColor() const { return colors_[3]; }
  TColor GetOuterLightColor() const { return colors_[4]; }
  TColor GetOuterShadowColor() const { return colors_[5]; }

  // Copies all values from another bevel as one change; anything else is refused.
  void Assign(const TMMObject& source);

  // Pixels the frame takes on every side.
  int BevelExtent() const;
  // Paints the frame into rect and returns the area inside it.
  virtual void PaintBevel(HDC dc, const TRect& rect, TRect& inner, bool paint_border) const;

 private:
  TBevelCut inner_ = bvNone;
  TBevelCut outer_ = bvLowered;
  int inner_width_ = 1;
  int outer_width_ = 1;
  TBorderStyle border_style_ = bsNone;
  int border_width_ = 0;
  int border_space_ = 0;
  TColor colors_[6] = {clBtnFace,   clBlack,        clBtnHighlight,
                       clBtnShadow, clBtnHighlight, clBtnShadow};
};
