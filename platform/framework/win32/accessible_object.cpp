#include "platform/framework/win32/accessible_object.h"

#include <ole2.h>
#include <oleacc.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/framework/accessibility.h"
#include "platform/framework/form.h"
#include "platform/framework/win32/control_surface.h"

namespace platform::win32 {
namespace {

// The forms that exist; an object a reader still holds for a form that has
// gone answers that it is gone. GUI thread only.
std::set<const TCustomForm*>& LiveForms() {
  static std::set<const TCustomForm*> forms;
  return forms;
}

HWND WindowOf(const TCustomForm* form) {
  return reinterpret_cast<HWND>(form->Handle());
}

BSTR ToBstr(const std::string& text) {
  if (text.empty()) return nullptr;
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (out) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out, n);
  return out;
}

LONG RoleOf(TAccessibleRole role) {
  switch (role) {
    case arWindow:
      return ROLE_SYSTEM_CLIENT;
    case arStaticText:
      return ROLE_SYSTEM_STATICTEXT;
    case arLink:
      return ROLE_SYSTEM_LINK;
    case arPushButton:
      return ROLE_SYSTEM_PUSHBUTTON;
    case arLevelMeter:
      return ROLE_SYSTEM_PROGRESSBAR;
    case arNone:
      break;
  }
  return ROLE_SYSTEM_GRAPHIC;
}

// The form's client object: the form itself is CHILDID_SELF, the controls a
// reader sees are the simple elements 1 ... n in reading order.
class FormAccessible : public IAccessible {
 public:
  explicit FormAccessible(const TCustomForm* form) : form_(form) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: readers use the interface's own calls.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!Alive()) return RPC_E_DISCONNECTED;
    return AccessibleObjectFromWindow(WindowOf(form_), static_cast<DWORD>(OBJID_WINDOW),
                                      IID_IDispatch, reinterpret_cast<void**>(parent));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (!count) return E_POINTER;
    if (!Alive()) return RPC_E_DISCONNECTED;
    *count = static_cast<LONG>(form_->AccessibleChildren().size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    return S_FALSE;  // simple elements
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!name) return E_POINTER;
    *name = nullptr;
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    *name = ToBstr(c->AccessibleName());
    return *name ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (!value) return E_POINTER;
    *value = nullptr;
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    TAccessibleValue v;
    if (!c->AccessibleValue(v)) return S_FALSE;
    *value = ToBstr(v.Text);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return NoText(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!role) return E_POINTER;
    VariantInit(role);
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = RoleOf(c->AccessibleRole());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (!state) return E_POINTER;
    VariantInit(state);
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    LONG s = 0;
    const bool window_has_keys = GetFocus() == WindowOf(form_);
    if (c == form_) {
      if (window_has_keys) s |= STATE_SYSTEM_FOCUSED;
      s |= STATE_SYSTEM_FOCUSABLE;
    } else {
      if (c->CanFocus()) s |= STATE_SYSTEM_FOCUSABLE;
      if (c->Focused() && window_has_keys) s |= STATE_SYSTEM_FOCUSED;
      if (c->Pressable() && !c->CanFocus()) s |= STATE_SYSTEM_UNAVAILABLE;
      if (c->AccessibleRole() == arLink) s |= STATE_SYSTEM_LINKED;
      if (c->AccessibleRole() == arStaticText || c->AccessibleRole() == arLevelMeter)
        s |= STATE_SYSTEM_READONLY;
    }
    state->vt = VT_I4;
    state->lVal = s;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return NoText(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return NoText(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_POINTER;
    VariantInit(focus);
    if (!Alive()) return RPC_E_DISCONNECTED;
    if (GetFocus() != WindowOf(form_)) return S_FALSE;
    const LONG id = ChildId(form_->FocusedControl());
    focus->vt = VT_I4;
    focus->lVal = id > 0 ? id : CHILDID_SELF;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!selection) return E_POINTER;
    VariantInit(selection);
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    if (!action) return E_POINTER;
    *action = nullptr;
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    if (c == form_ || !c->Pressable() || !c->CanFocus()) return S_FALSE;
    *action = ToBstr(c->AccessibleRole() == arLink ? "Jump" : "Press");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    if (!(flags & SELFLAG_TAKEFOCUS) || c == form_ || !c->CanFocus()) return S_FALSE;
    const_cast<TCustomForm*>(form_)->FocusControl(const_cast<TControl*>(c));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    POINT origin{0, 0};
    ClientToScreen(WindowOf(form_), &origin);
    if (c == form_) {
      *left = origin.x;
      *top = origin.y;
      *width = form_->GetClientWidth();
      *height = form_->GetClientHeight();
    } else {
      const TRect r = BoundsInForm(c);
      *left = origin.x + r.Left;
      *top = origin.y + r.Top;
      *width = r.Right - r.Left;
      *height = r.Bottom - r.Top;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    VariantInit(end);
    const TControl* c = nullptr;
    if (!Resolve(start, &c)) return E_INVALIDARG;
    const LONG count = static_cast<LONG>(form_->AccessibleChildren().size());
    LONG id = 0;
    const LONG at = ChildId(c);
    switch (direction) {
      case NAVDIR_FIRSTCHILD:
        id = c == form_ && count > 0 ? 1 : 0;
        break;
      case NAVDIR_LASTCHILD:
        id = c == form_ && count > 0 ? count : 0;
        break;
      case NAVDIR_NEXT:
      case NAVDIR_DOWN:
        id = at > 0 && at < count ? at + 1 : 0;
        break;
      case NAVDIR_PREVIOUS:
      case NAVDIR_UP:
        id = at > 1 ? at - 1 : 0;
        break;
      default:
        break;
    }
    if (id == 0) return S_FALSE;
    end->vt = VT_I4;
    end->lVal = id;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
    if (!hit) return E_POINTER;
    VariantInit(hit);
    if (!Alive()) return RPC_E_DISCONNECTED;
    POINT p{x, y};
    ScreenToClient(WindowOf(form_), &p);
    if (p.x < 0 || p.y < 0 || p.x >= form_->GetClientWidth() || p.y >= form_->GetClientHeight())
      return S_FALSE;
    const std::vector<TControl*> children = form_->AccessibleChildren();
    hit->vt = VT_I4;
    hit->lVal = CHILDID_SELF;
    for (std::size_t i = 0; i < children.size(); ++i) {
      const TRect r = BoundsInForm(children[i]);
      if (p.x >= r.Left && p.x < r.Right && p.y >= r.Top && p.y < r.Bottom)
        hit->lVal = static_cast<LONG>(i + 1);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    const TControl* c = nullptr;
    if (!Resolve(child, &c)) return E_INVALIDARG;
    if (c == form_ || !c->Pressable() || !c->CanFocus()) return DISP_E_MEMBERNOTFOUND;
    const_cast<TCustomForm*>(form_)->Press(const_cast<TControl*>(c));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  bool Alive() const { return LiveForms().count(form_) != 0; }
  // The form (CHILDID_SELF) or one of its elements.
  bool Resolve(const VARIANT& child, const TControl** out) const {
    if (!Alive() || child.vt != VT_I4) return false;
    if (child.lVal == CHILDID_SELF) {
      *out = form_;
      return true;
    }
    const std::vector<TControl*> children = form_->AccessibleChildren();
    if (child.lVal < 1 || child.lVal > static_cast<LONG>(children.size())) return false;
    *out = children[static_cast<std::size_t>(child.lVal - 1)];
    return true;
  }
  LONG ChildId(const TControl* control) const { return ElementId(form_, control); }
  HRESULT NoText(const VARIANT& child, BSTR* text) const {
    if (!text) return E_POINTER;
    *text = nullptr;
    const TControl* c = nullptr;
    return Resolve(child, &c) ? S_FALSE : E_INVALIDARG;
  }

 public:
  static LONG ElementId(const TCustomForm* form, const TControl* control) {
    const std::vector<TControl*> children = form->AccessibleChildren();
    const auto at = std::find(children.begin(), children.end(), control);
    return at == children.end() ? 0 : static_cast<LONG>(at - children.begin() + 1);
  }

 private:
  const TCustomForm* form_;
  std::atomic<ULONG> refs_{1};
};

// Tells readers of an event of the control's element.
void Tell(DWORD event, TControl* control) {
  const TCustomForm* form = FormOf(control);
  if (!form || !LiveForms().count(form)) return;
  const LONG id = control == form ? CHILDID_SELF : FormAccessible::ElementId(form, control);
  if (id == 0 && control != form) return;
  NotifyWinEvent(event, WindowOf(form), OBJID_CLIENT, id);
}

// Value changes told later, by their timers' ids.
std::map<UINT_PTR, TControl*>& LaterValues() {
  static std::map<UINT_PTR, TControl*> later;
  return later;
}

bool ControlExists(const TControl* control) {
  for (const TCustomForm* form : LiveForms())
    for (int i = 0; i < form->ControlCount(); ++i)
      if (form->Controls(i) == control) return true;
  return false;
}

// Runs on the GUI thread (a thread timer of its message loop).
void CALLBACK TellValueLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  auto& later = LaterValues();
  const auto at = later.find(id);
  if (at == later.end()) return;
  TControl* control = at->second;
  later.erase(at);
  if (!ControlExists(control)) return;
  control->ValueThrottle().Delivered(static_cast<std::int64_t>(GetTickCount64()) * 1000);
  Tell(EVENT_OBJECT_VALUECHANGE, control);
}

}  // namespace

std::intptr_t AnswerGetObject(TCustomForm* form, std::uintptr_t flags, std::intptr_t object_id) {
  if (static_cast<LONG>(object_id) != static_cast<LONG>(OBJID_CLIENT)) return 0;
  LiveForms().insert(form);
  auto* object = new FormAccessible(form);
  const LRESULT result = LresultFromObject(IID_IAccessible, static_cast<WPARAM>(flags), object);
  object->Release();
  return result > 0 ? result : 0;
}

void AccessibleFocus(TControl* control) {
  Tell(EVENT_OBJECT_FOCUS, control);
}

void FormGone(const TCustomForm* form) {
  LiveForms().erase(form);
}

void FormExists(const TCustomForm* form) {
  LiveForms().insert(form);
}

}  // namespace platform::win32

namespace platform {

void NotifyAccessibleValue(TControl* control) {
  TNotifyThrottle& throttle = control->ValueThrottle();
  const std::int64_t now = static_cast<std::int64_t>(GetTickCount64()) * 1000;
  switch (throttle.Changed(now)) {
    case TNotifyThrottle::taNow:
      win32::Tell(EVENT_OBJECT_VALUECHANGE, control);
      break;
    case TNotifyThrottle::taLater: {
      const auto delay =
          static_cast<UINT>(std::max<std::int64_t>(throttle.DueAt() - now, 0) / 1000);
      if (const UINT_PTR id = SetTimer(nullptr, 0, std::max(delay, 1u), win32::TellValueLater))
        win32::LaterValues()[id] = control;
      else
        throttle.Delivered(now);
      break;
    }
    case TNotifyThrottle::taNothing:
      break;
  }
}

void NotifyAccessibleName(TControl* control) {
  win32::Tell(EVENT_OBJECT_NAMECHANGE, control);
}

}  // namespace platform
