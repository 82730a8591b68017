#pragma once

// The system's accessibility interface (IAccessible, MSAA) for the controls
// drawn into one window, with plain types (see native_form.h): the window's
// client object has one simple element per control a reader sees, numbered
// 1 ... n; 0 is the window itself.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::win32 {

enum ElementRole { kRoleClient, kRoleText, kRoleLink, kRoleButton, kRoleMeter, kRoleGraphic };

struct AccessibleElement {
  ElementRole role = kRoleGraphic;
  std::string name;
  bool has_value = false;
  std::string value;
  bool focusable = false, focused = false, unavailable = false;
  // The press action's name; empty for none.
  std::string action;
  // In the window's client area.
  int left = 0, top = 0, width = 0, height = 0;
};

// What the window's elements are; asked on the GUI thread. Once the window's
// form has gone, Count is 0 and Element false.
class AccessibleSource {
 public:
  virtual ~AccessibleSource() = default;
  virtual bool Alive() const = 0;
  virtual int Count() const = 0;
  virtual bool Element(int id, AccessibleElement* element) const = 0;
  // The element with the keyboard focus (0 for the window, -1 none).
  virtual int Focused() const = 0;
  virtual bool Press(int id) = 0;
  virtual bool TakeFocus(int id) = 0;
};

// WM_GETOBJECT's answer for the window's client object.
std::intptr_t AnswerClientObject(std::uintptr_t wnd, std::uintptr_t flags,
                                 const std::shared_ptr<AccessibleSource>& source);
// Whether the id names the client object (WM_GETOBJECT's object id).
bool IsClientObjectId(std::intptr_t object_id);

enum ElementEvent { kEventFocus, kEventValue, kEventName };
// Whether any reader listens for events of that kind.
bool ReadersListen(ElementEvent event);
// Tells readers of an element's event.
void NotifyElement(std::uintptr_t wnd, ElementEvent event, int id);

// Runs fn once on the GUI thread after ms milliseconds (a thread timer of its
// message loop).
void CallLater(unsigned ms, std::function<void()> fn);
// Milliseconds of a monotonic clock.
std::int64_t MonotonicMs();

}  // namespace platform::win32
