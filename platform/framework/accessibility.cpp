#include "platform/framework/accessibility.h"

#include "platform/framework/form.h"

// What every control tells a screen reader, shared by the toolkits' bindings.

TNotifyThrottle::TAction TNotifyThrottle::Changed(std::int64_t now_us) {
  if (scheduled_) return taNothing;
  if (!told_ || now_us - last_us_ >= interval_us_) {
    told_ = true;
    last_us_ = now_us;
    return taNow;
  }
  scheduled_ = true;
  return taLater;
}

void TNotifyThrottle::Delivered(std::int64_t now_us) {
  scheduled_ = false;
  told_ = true;
  last_us_ = now_us;
}

void DrawFocusMark(HDC dc, const TRect& rect) {
  if (rect.Right - rect.Left < 2 || rect.Bottom - rect.Top < 2) return;
  // Dots alternate along the outline, counted from the top-left corner in
  // both directions, so that corners meet.
  const auto dot = [dc, &rect](int x, int y) {
    const bool white = ((x - rect.Left) + (y - rect.Top)) % 2 == 0;
    GdiFillRect(dc, TRect{x, y, x + 1, y + 1}, white ? clWhite : clBlack);
  };
  for (int x = rect.Left; x < rect.Right; ++x) {
    dot(x, rect.Top);
    dot(x, rect.Bottom - 1);
  }
  for (int y = rect.Top + 1; y < rect.Bottom - 1; ++y) {
    dot(rect.Left, y);
    dot(rect.Right - 1, y);
  }
}

namespace {

TCustomForm* FormOf(const TControl* control) {
  for (const TControl* c = control; c; c = c->GetParent())
    if (auto* form = dynamic_cast<const TCustomForm*>(c)) return const_cast<TCustomForm*>(form);
  return nullptr;
}

}  // namespace

std::string TControl::AccessibleName() const {
  return accessible_name_set_ ? accessible_name_ : DefaultAccessibleName();
}

void TControl::SetAccessibleName(const std::string& name) {
  if (accessible_name_set_ && name == accessible_name_) return;
  accessible_name_ = name;
  accessible_name_set_ = true;
  platform::NotifyAccessibleName(this);
}

bool TControl::AccessibleValue(TAccessibleValue&) const {
  return false;
}

bool TControl::AccessibleShown() const {
  const TAccessibleRole role = AccessibleRole();
  if (role == arNone || !visible_) return false;
  return role == arWindow || role == arLevelMeter || !AccessibleName().empty();
}

bool TControl::Pressable() const {
  const TAccessibleRole role = AccessibleRole();
  return (role == arPushButton || role == arLink) && OnClick != nullptr;
}

void TControl::SetTabStop(bool v) {
  if (v == tab_stop_) return;
  tab_stop_ = v;
  if (TCustomForm* form = FormOf(this); !v && form) form->FocusLeaving(this);
}

bool TControl::Focused() const {
  const TCustomForm* form = FormOf(this);
  return form && form != this && form->FocusedControl() == this;
}

void TControl::AccessibleValueChanged() {
  platform::NotifyAccessibleValue(this);
}
