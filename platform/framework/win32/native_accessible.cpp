#include "platform/framework/win32/native_accessible.h"

#include <ole2.h>
#include <oleacc.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <utility>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {
namespace {

// The interface's identifier, spelt out: MinGW's import library offers the
// name as a function stub, not as the identifier's bytes.
constexpr IID kIAccessible = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

BSTR ToBstr(const std::string& text) {
  if (text.empty()) return nullptr;
  const std::wstring wide = WideFromUtf8(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

LONG SystemRole(ElementRole role) {
  switch (role) {
    case kRoleClient:
      return ROLE_SYSTEM_CLIENT;
    case kRoleText:
      return ROLE_SYSTEM_STATICTEXT;
    case kRoleLink:
      return ROLE_SYSTEM_LINK;
    case kRoleButton:
      return ROLE_SYSTEM_PUSHBUTTON;
    case kRoleMeter:
      return ROLE_SYSTEM_PROGRESSBAR;
    case kRoleGraphic:
      break;
  }
  return ROLE_SYSTEM_GRAPHIC;
}

// The window's client object. Its calls arrive on the GUI thread (the
// window's thread, through COM's marshalling for other processes).
class ClientObject : public IAccessible {
 public:
  ClientObject(HWND wnd, std::shared_ptr<AccessibleSource> source)
      : wnd_(wnd), source_(std::move(source)) {}
  virtual ~ClientObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIAccessible) {
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

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!source_->Alive()) return RPC_E_DISCONNECTED;
    return AccessibleObjectFromWindow(wnd_, static_cast<DWORD>(OBJID_WINDOW), IID_IDispatch,
                                      reinterpret_cast<void**>(parent));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = source_->Count();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    AccessibleElement e;
    return Resolve(child, &e) ? S_FALSE : E_INVALIDARG;  // simple elements
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    return Text(child, name, &AccessibleElement::name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return Text(child, value, &AccessibleElement::value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return Text(child, text, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!role) return E_POINTER;
    VariantInit(role);
    AccessibleElement e;
    if (!Resolve(child, &e)) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = SystemRole(e.role);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (!state) return E_POINTER;
    VariantInit(state);
    AccessibleElement e;
    if (!Resolve(child, &e)) return E_INVALIDARG;
    LONG s = 0;
    if (e.focusable) s |= STATE_SYSTEM_FOCUSABLE;
    if (e.focused && GetFocus() == wnd_) s |= STATE_SYSTEM_FOCUSED;
    if (e.unavailable) s |= STATE_SYSTEM_UNAVAILABLE;
    if (e.role == kRoleLink) s |= STATE_SYSTEM_LINKED;
    if (e.role == kRoleText || e.role == kRoleMeter) s |= STATE_SYSTEM_READONLY;
    state->vt = VT_I4;
    state->lVal = s;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return Text(child, text, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return Text(child, text, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_POINTER;
    VariantInit(focus);
    const int id = source_->Focused();
    if (GetFocus() != wnd_ || id < 0) return S_FALSE;
    focus->vt = VT_I4;
    focus->lVal = id;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!selection) return E_POINTER;
    VariantInit(selection);
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return Text(child, action, &AccessibleElement::action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    AccessibleElement e;
    if (!Resolve(child, &e)) return E_INVALIDARG;
    if (!(flags & SELFLAG_TAKEFOCUS)) return S_FALSE;
    return source_->TakeFocus(child.lVal) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    AccessibleElement e;
    if (!Resolve(child, &e)) return E_INVALIDARG;
    POINT origin{e.left, e.top};
    ClientToScreen(wnd_, &origin);
    *left = origin.x;
    *top = origin.y;
    *width = e.width;
    *height = e.height;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    VariantInit(end);
    AccessibleElement e;
    if (!Resolve(start, &e)) return E_INVALIDARG;
    const LONG count = source_->Count(), at = start.lVal;
    LONG id = 0;
    switch (direction) {
      case NAVDIR_FIRSTCHILD:
        id = at == CHILDID_SELF && count > 0 ? 1 : 0;
        break;
      case NAVDIR_LASTCHILD:
        id = at == CHILDID_SELF ? count : 0;
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
    if (!source_->Alive()) return RPC_E_DISCONNECTED;
    POINT p{x, y};
    ScreenToClient(wnd_, &p);
    AccessibleElement window;
    source_->Element(CHILDID_SELF, &window);
    if (p.x < 0 || p.y < 0 || p.x >= window.width || p.y >= window.height) return S_FALSE;
    hit->vt = VT_I4;
    hit->lVal = CHILDID_SELF;
    const int count = source_->Count();
    for (int id = 1; id <= count; ++id) {
      AccessibleElement e;
      if (source_->Element(id, &e) && p.x >= e.left && p.x < e.left + e.width && p.y >= e.top &&
          p.y < e.top + e.height)
        hit->lVal = id;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    AccessibleElement e;
    if (!Resolve(child, &e)) return E_INVALIDARG;
    if (e.action.empty()) return DISP_E_MEMBERNOTFOUND;
    // The reader's call returns at once and the press runs from the GUI
    // thread's own loop: a press may open a message box or wait for a device,
    // and the reader would wait all that time.
    CallLater(0, [source = source_, id = child.lVal] { source->Press(id); });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  bool Resolve(const VARIANT& child, AccessibleElement* e) const {
    return child.vt == VT_I4 && source_->Element(child.lVal, e);
  }
  HRESULT Text(const VARIANT& child, BSTR* out, std::string AccessibleElement::*field) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    AccessibleElement e;
    if (!Resolve(child, &e)) return E_INVALIDARG;
    if (!field) return S_FALSE;
    *out = ToBstr(e.*field);
    return *out ? S_OK : S_FALSE;
  }

  HWND wnd_;
  std::shared_ptr<AccessibleSource> source_;
  std::atomic<ULONG> refs_{1};
};

// Functions waiting for their thread timers, by the timers' ids. GUI thread only.
std::map<UINT_PTR, std::function<void()>>& Later() {
  static std::map<UINT_PTR, std::function<void()>> later;
  return later;
}

// Runs on the GUI thread (a thread timer of its message loop).
void CALLBACK RunLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  const auto at = Later().find(id);
  if (at == Later().end()) return;
  std::function<void()> fn = std::move(at->second);
  Later().erase(at);
  fn();
}

}  // namespace

bool IsClientObjectId(std::intptr_t object_id) {
  return static_cast<LONG>(object_id) == static_cast<LONG>(OBJID_CLIENT);
}

std::intptr_t AnswerClientObject(std::uintptr_t wnd, std::uintptr_t flags,
                                 const std::shared_ptr<AccessibleSource>& source) {
  // Readers in other processes reach the object through COM: the GUI thread
  // joins a single-threaded apartment for as long as it runs.
  static const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  (void)apartment;
  auto* object = new ClientObject(reinterpret_cast<HWND>(wnd), source);
  const LRESULT result = LresultFromObject(kIAccessible, static_cast<WPARAM>(flags), object);
  object->Release();
  return result > 0 ? result : 0;
}

namespace {

DWORD SystemEvent(ElementEvent event) {
  if (event == kEventValue) return EVENT_OBJECT_VALUECHANGE;
  if (event == kEventName) return EVENT_OBJECT_NAMECHANGE;
  return EVENT_OBJECT_FOCUS;
}

}  // namespace

bool ReadersListen(ElementEvent event) {
  return IsWinEventHookInstalled(SystemEvent(event));
}

void NotifyElement(std::uintptr_t wnd, ElementEvent event, int id) {
  NotifyWinEvent(SystemEvent(event), reinterpret_cast<HWND>(wnd), OBJID_CLIENT, id);
}

void CallLater(unsigned ms, std::function<void()> fn) {
  if (const UINT_PTR id = SetTimer(nullptr, 0, ms > 0 ? ms : 1, RunLater))
    Later()[id] = std::move(fn);
}

std::int64_t MonotonicMs() {
  return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace platform::win32
