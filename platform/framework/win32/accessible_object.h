#pragma once

// The drawn controls of a form as the system's accessibility interface
// (IAccessible) tells them to screen readers: the form's client object has
// one simple child element per control a reader sees, in reading order.

#include <cstdint>

class TControl;
class TCustomForm;

namespace platform::win32 {

// WM_GETOBJECT of the form's window: the client object for OBJID_CLIENT, 0
// (the system's default) for anything else. GUI thread.
std::intptr_t AnswerGetObject(TCustomForm* form, std::uintptr_t flags, std::intptr_t object_id);
// Tells readers that the control has the keyboard focus. GUI thread.
void AccessibleFocus(TControl* control);
// A form's window exists, or has gone: readers holding its object hear so.
void FormExists(TCustomForm* form);
void FormGone(const TCustomForm* form);

}  // namespace platform::win32
