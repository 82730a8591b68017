#include "controls/mm_bevel.h"

void TMMObject::NotifyChange(bool before) {
  if (update_count_ != 0) return;
  if (before) {
    if (OnChanging) OnChanging(this);
  } else {
    if (OnChange) OnChange(this);
  }
}

void TMMObject::BeginUpdate() {
  if (update_count_ == 0) NotifyChange(true);
  ++update_count_;
}

void TMMObject::EndUpdate() {
  if (update_count_ == 0) return;
  --update_count_;
  if (update_count_ == 0) NotifyChange(false);
}

void Frame3D(HDC dc, TRect& rect, TColor top, TColor bottom, int width) {
  --rect.Bottom;
  --rect.Right;
  for (int i = 0; i < width; ++i) {
    const int l = rect.Left, t = rect.Top, r = rect.Right, b = rect.Bottom;
    GdiFillRect(dc, Rect(l, t, l + 1, b + 1), top);         // left edge
    GdiFillRect(dc, Rect(l, t, r, t + 1), top);             // top edge
    GdiFillRect(dc, Rect(r, t, r + 1, b + 1), bottom);      // right edge
    GdiFillRect(dc, Rect(l + 1, b, r + 1, b + 1), bottom);  // bottom edge
    ++rect.Left;
    ++rect.Top;
    --rect.Right;
    --rect.Bottom;
  }
  ++rect.Bottom;
  ++rect.Right;
}

void TMMBevel::SetBevelInner(TBevelCut v) {
  if (v == inner_) return;
  inner_ = v;
  Changed();
}
void TMMBevel::SetBevelOuter(TBevelCut v) {
  if (v == outer_) return;
  outer_ = v;
  Changed();
}
void TMMBevel::SetBevelInnerWidth(int v) {
  if (v == inner_width_) return;
  inner_width_ = v;
  Changed();
}
void TMMBevel::SetBevelOuterWidth(int v) {
  if (v == outer_width_) return;
  outer_width_ = v;
  Changed();
}
void TMMBevel::SetBorderStyle(TBorderStyle v) {
  if (v == border_style_) return;
  border_style_ = v;
  Changed();
}
void TMMBevel::SetBorderWidth(int v) {
  if (v == border_width_) return;
  border_width_ = v;
  Changed();
}
void TMMBevel::SetBorderSpace(int v) {
  if (v == border_space_) return;
  border_space_ = v;
  Changed();
}
void TMMBevel::SetColor(int index, TColor v) {
  if (index < 0 || index > 5 || v == colors_[index]) return;
  colors_[index] = v;
  Changed();
}

void TMMBevel::Assign(const TMMObject& source) {
  const auto* other = dynamic_cast<const TMMBevel*>(&source);
  if (!other) throw Exception("Cannot assign to a TMMBevel");
  if (other == this) return;
  BeginUpdate();
  SetBevelInner(other->inner_);
  SetBevelOuter(other->outer_);
  SetBevelInnerWidth(other->inner_width_);
  SetBevelOuterWidth(other->outer_width_);
  SetBorderStyle(other->border_style_);
  SetBorderWidth(other->border_width_);
  SetBorderSpace(other->border_space_);
  for (int i = 0; i < 6; ++i) SetColor(i, other->colors_[i]);
  EndUpdate();
}

int TMMBevel::BevelExtent() const {
  int extent = border_width_ + border_space_;
  if (outer_ != bvNone) extent += outer_width_;
  if (inner_ != bvNone) extent += inner_width_;
  if (border_style_ != bsNone) extent += 1;
  return extent;
}

void TMMBevel::PaintBevel(HDC dc, const TRect& rect, TRect& inner, bool paint_border) const {
  TRect r = rect;
  if (border_style_ == bsSingle) Frame3D(dc, r, clWindowFrame, clWindowFrame, 1);
  if (outer_ == bvLowered)
    Frame3D(dc, r, GetOuterShadowColor(), GetOuterLightColor(), outer_width_);
  else if (outer_ == bvRaised)
    Frame3D(dc, r, GetOuterLightColor(), GetOuterShadowColor(), outer_width_);
  if (paint_border) {
    Frame3D(dc, r, GetBorderColor(), GetBorderColor(), border_width_);
  } else {
    r.Left += border_width_;
    r.Top += border_width_;
    r.Right -= border_width_;
    r.Bottom -= border_width_;
  }
  if (inner_ == bvLowered)
    Frame3D(dc, r, GetInnerShadowColor(), GetInnerLightColor(), inner_width_);
  else if (inner_ == bvRaised)
    Frame3D(dc, r, GetInnerLightColor(), GetInnerShadowColor(), inner_width_);
  if (border_space_ != 0)
    Frame3D(dc, r, GetBorderSpaceColor(), GetBorderSpaceColor(), border_space_);
  inner = r;
}
