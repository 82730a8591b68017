#include "platform/framework/win32/accessible_object.h"

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "platform/framework/accessibility.h"
#include "platform/framework/form.h"
#include "platform/framework/win32/control_surface.h"
#include "platform/framework/win32/native_accessible.h"

namespace platform::win32 {
namespace {

ElementRole RoleOf(TAccessibleRole role) {
  switch (role) {
    case arWindow:
      return kRoleClient;
    case arStaticText:
      return kRoleText;
    case arLink:
      return kRoleLink;
    case arPushButton:
      return kRoleButton;
    case arLevelMeter:
      return kRoleMeter;
    case arNone:
      break;
  }
  return kRoleGraphic;
}

// A form's elements as the client object asks for them: the controls a
// reader sees, in reading order.
class FormSource : public AccessibleSource {
 public:
  explicit FormSource(TCustomForm* form) : form_(form) {}
  void Gone() { form_ = nullptr; }

  bool Alive() const override { return form_ != nullptr; }
  int Count() const override {
    return form_ ? static_cast<int>(form_->AccessibleChildren().size()) : 0;
  }
  bool Element(int id, AccessibleElement* e) const override {
    const TControl* c = ControlOf(id);
    if (!c) return false;
    e->role = RoleOf(c->AccessibleRole());
    e->name = c->AccessibleName();
    TAccessibleValue value;
    e->has_value = c->AccessibleValue(value);
    e->value = e->has_value ? value.Text : std::string();
    if (c == form_) {
      e->focusable = true;
      e->focused = !form_->FocusedControl();
      e->left = e->top = 0;
      e->width = form_->GetClientWidth();
      e->height = form_->GetClientHeight();
    } else {
      e->focusable = c->CanFocus();
      e->focused = c->Focused();
      e->unavailable = c->Pressable() && !c->CanFocus();
      if (c->Pressable() && c->CanFocus())
        e->action = c->AccessibleRole() == arLink ? "Jump" : "Press";
      const TRect r = BoundsInForm(c);
      e->left = r.Left;
      e->top = r.Top;
      e->width = r.Right - r.Left;
      e->height = r.Bottom - r.Top;
    }
    return true;
  }
  int Focused() const override {
    if (!form_) return -1;
    const TControl* c = form_->FocusedControl();
    return c ? IdOf(c) : 0;
  }
  bool Press(int id) override {
    TControl* c = ControlOf(id);
    if (!c || c == form_ || !c->CanFocus()) return false;
    form_->Press(c);
    return true;
  }
  bool TakeFocus(int id) override {
    TControl* c = ControlOf(id);
    if (!c || c == form_ || !c->CanFocus()) return false;
    form_->FocusControl(c);
    return true;
  }
  int IdOf(const TControl* control) const {
    if (control == form_) return 0;
    const std::vector<TControl*> children = form_->AccessibleChildren();
    const auto at = std::find(children.begin(), children.end(), control);
    return at == children.end() ? -1 : static_cast<int>(at - children.begin() + 1);
  }

 private:
  TControl* ControlOf(int id) const {
    if (!form_) return nullptr;
    if (id == 0) return form_;
    const std::vector<TControl*> children = form_->AccessibleChildren();
    if (id < 1 || id > static_cast<int>(children.size())) return nullptr;
    return children[static_cast<std::size_t>(id - 1)];
  }
  TCustomForm* form_;
};

// The sources of the forms that exist. GUI thread only.
std::map<const TCustomForm*, std::shared_ptr<FormSource>>& Sources() {
  static std::map<const TCustomForm*, std::shared_ptr<FormSource>> sources;
  return sources;
}

// Tells readers of an event of the control's element.
void Tell(ElementEvent event, const TControl* control) {
  const TCustomForm* form = FormOf(control);
  const auto at = form ? Sources().find(form) : Sources().end();
  if (at == Sources().end()) return;
  const int id = at->second->IdOf(control);
  if (id >= 0) NotifyElement(form->Handle(), event, id);
}

}  // namespace

void FormExists(TCustomForm* form) {
  Sources()[form] = std::make_shared<FormSource>(form);
}

void FormGone(const TCustomForm* form) {
  const auto at = Sources().find(form);
  if (at == Sources().end()) return;
  at->second->Gone();
  Sources().erase(at);
}

std::intptr_t AnswerGetObject(TCustomForm* form, std::uintptr_t flags, std::intptr_t object_id) {
  const auto at = Sources().find(form);
  if (!IsClientObjectId(object_id) || at == Sources().end()) return 0;
  return AnswerClientObject(form->Handle(), flags, at->second);
}

void AccessibleFocus(TControl* control) {
  Tell(kEventFocus, control);
}

}  // namespace platform::win32

namespace platform {

void NotifyAccessibleValue(TControl* control) {
  // The meters change many times a second: nothing to do while no reader listens.
  if (!win32::ReadersListen(win32::kEventValue)) return;
  TNotifyThrottle& throttle = control->ValueThrottle();
  const std::int64_t now = win32::MonotonicMs() * 1000;
  switch (throttle.Changed(now)) {
    case TNotifyThrottle::taNow:
      win32::Tell(win32::kEventValue, control);
      break;
    case TNotifyThrottle::taLater: {
      // The control may be gone by then: it is looked for again in its form.
      const TCustomForm* form = win32::FormOf(control);
      if (!form) {
        throttle.Delivered(now);
        break;
      }
      const auto delay =
          static_cast<unsigned>(std::max<std::int64_t>(throttle.DueAt() - now, 0) / 1000);
      win32::CallLater(delay, [form, control] {
        if (win32::Sources().find(form) == win32::Sources().end()) return;
        bool exists = false;
        for (int i = 0; i < form->ControlCount() && !exists; ++i)
          exists = form->Controls(i) == control;
        if (!exists) return;
        control->ValueThrottle().Delivered(win32::MonotonicMs() * 1000);
        win32::Tell(win32::kEventValue, control);
      });
      break;
    }
    case TNotifyThrottle::taNothing:
      break;
  }
}

void NotifyAccessibleName(TControl* control) {
  win32::Tell(win32::kEventName, control);
}

}  // namespace platform
