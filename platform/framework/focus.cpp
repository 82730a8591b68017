#include <algorithm>

#include "platform/framework/application.h"
#include "platform/framework/button.h"
#include "platform/framework/form.h"

// The keyboard of the windows, shared by every toolkit: which control has the
// focus, the order Tab visits, and what Space, Return and Escape do. The
// bindings deliver the keys and show the focus (qt/, win32/).

namespace {

bool keyboard_used = false;

// Reading order: top to bottom, then left to right.
bool ReadsBefore(const TControl* a, const TControl* b) {
  if (a->GetTop() != b->GetTop()) return a->GetTop() < b->GetTop();
  return a->GetLeft() < b->GetLeft();
}

std::vector<TControl*> InReadingOrder(const TCustomForm& form, bool (TControl::*keep)() const) {
  std::vector<TControl*> controls;
  for (int i = 0; i < form.ControlCount(); ++i)
    if ((form.Controls(i)->*keep)()) controls.push_back(form.Controls(i));
  std::stable_sort(controls.begin(), controls.end(), ReadsBefore);
  return controls;
}

}  // namespace

bool TCustomForm::KeyboardUsed() {
  return keyboard_used;
}

std::vector<TControl*> TCustomForm::FocusOrder() const {
  return InReadingOrder(*this, &TControl::CanFocus);
}

std::vector<TControl*> TCustomForm::AccessibleChildren() const {
  return InReadingOrder(*this, &TControl::AccessibleShown);
}

TControl* TCustomForm::FocusedControl() const {
  // A control that has left the window (or gone) has no focus.
  for (int i = 0; i < ControlCount(); ++i)
    if (Controls(i) == focused_) return focused_;
  return nullptr;
}

void TCustomForm::FocusControl(TControl* control) {
  TControl* from = FocusedControl();
  if (control == from) return;
  focused_ = control;
  FocusMoved(from, control);
}

void TCustomForm::FocusLeaving(TControl* control) {
  if (FocusedControl() != control) return;
  const std::vector<TControl*> order = FocusOrder();
  const auto next = std::find_if(order.begin(), order.end(),
                                 [control](const TControl* c) { return ReadsBefore(control, c); });
  FocusControl(next != order.end() ? *next : (order.empty() ? nullptr : order.front()));
}

void TCustomForm::Press(TControl* control) {
  if (control && control->Pressable()) control->Click();
}

bool TCustomForm::KeyDown(TFocusKey key, bool shift) {
  if (key == fkOther) return false;
  if (!keyboard_used) {
    keyboard_used = true;
    if (TControl* c = FocusedControl()) c->Invalidate();
  }
  switch (key) {
    case fkTab: {
      const std::vector<TControl*> order = FocusOrder();
      if (order.empty()) return true;
      const auto at = std::find(order.begin(), order.end(), FocusedControl());
      const int n = static_cast<int>(order.size());
      int i;
      if (at == order.end())
        i = shift ? n - 1 : 0;
      else
        i = (static_cast<int>(at - order.begin()) + (shift ? n - 1 : 1)) % n;
      FocusControl(order[static_cast<std::size_t>(i)]);
      return true;
    }
    case fkSpace:
    case fkReturn: {
      TControl* c = FocusedControl();
      if (!c || !c->CanFocus()) return false;
      Press(c);
      return true;
    }
    case fkEscape:
      for (int i = 0; i < ControlCount(); ++i) {
        auto* button = dynamic_cast<TButton*>(Controls(i));
        if (button && button->GetCancel() && button->GetVisible()) {
          Press(button);
          return true;
        }
      }
      return false;
    case fkOther:
      break;
  }
  return false;
}

void TCustomForm::DoShow() {
  visible_ = true;
  if (OnShow) platform::Guarded([this] { OnShow(this); });
  // The window that opens takes the keyboard at its first control.
  TControl* focused = FocusedControl();
  if (!focused || !focused->CanFocus()) {
    const std::vector<TControl*> order = FocusOrder();
    FocusControl(order.empty() ? nullptr : order.front());
  }
}

void TCustomForm::DoHide() {
  visible_ = false;
  if (OnHide) platform::Guarded([this] { OnHide(this); });
  // The keyboard goes back to the main window.
  TCustomForm* main = Application ? Application->MainForm() : nullptr;
  if (main && main != this && main->GetVisible()) main->Activate();
}

bool TControl::ShowsFocusMark() const {
  return keyboard_used && Focused();
}
