#include "platform/framework/form.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/framework/application.h"
#include "platform/framework/layout_reader.h"
#include "platform/framework/properties.h"
#include "platform/framework/win32/accessible_object.h"
#include "platform/framework/win32/control_surface.h"
#include "platform/framework/win32/native_form.h"
#include "platform/gdi/win32/native_gdi.h"
#include "platform/messages/messages.h"
#include "platform/resources/resources.h"

using platform::win32::ControlSurface;

namespace {

// The topmost visible control of parent (or of its children) at (x, y)
// (parent's coordinates) that takes the mouse; null for none.
TControl* ControlAt(const TWinControl* parent, int x, int y) {
  for (int i = parent->ControlCount(); i-- > 0;) {
    TControl* c = parent->Controls(i);
    if (!c->GetVisible() || !c->Widget() || c->Widget()->mouse_transparent) continue;
    const int cx = x - c->GetLeft(), cy = y - c->GetTop();
    if (cx < 0 || cy < 0 || cx >= c->GetWidth() || cy >= c->GetHeight()) continue;
    if (auto* container = dynamic_cast<TWinControl*>(c))
      if (TControl* inner = ControlAt(container, cx, cy)) return inner;
    return c;
  }
  return nullptr;
}

// Paints parent's visible controls, bottom to top, that meet area (client
// coordinates); (ox, oy) is parent's client origin in the form.
void PaintControls(std::uintptr_t system_dc, const TWinControl* parent, int ox, int oy,
                   const TRect& area) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    const TControl* c = parent->Controls(i);
    if (!c->GetVisible()) continue;
    const TRect bounds{ox + c->GetLeft(), oy + c->GetTop(), ox + c->GetLeft() + c->GetWidth(),
                       oy + c->GetTop() + c->GetHeight()};
    const TRect part = IntersectRect(bounds, area);
    if (part.IsEmpty()) continue;
    if (c->Widget() && c->Widget()->paint) {
      platform::win32::SaveState(system_dc);
      platform::win32::ClipTo(system_dc, part.Left, part.Top, part.Right, part.Bottom);
      TDeviceContext dc(system_dc);
      dc.origin_x = bounds.Left;
      dc.origin_y = bounds.Top;
      GdiSetClip(&dc, OffsetRect(part, -bounds.Left, -bounds.Top));
      c->Widget()->paint(&dc);
      if (c->ShowsFocusMark()) DrawFocusMark(&dc, c->FocusMarkRect());
      platform::win32::RestoreState(system_dc);
    }
    if (auto* container = dynamic_cast<const TWinControl*>(c))
      PaintControls(system_dc, container, bounds.Left, bounds.Top, part);
  }
}

}  // namespace

// What the form's system window reports; runs on the GUI thread.
class FormWindow : public platform::win32::FormEvents {
 public:
  explicit FormWindow(TCustomForm* form) : form_(form) {}

  void Paint(std::uintptr_t system_dc, int left, int top, int right, int bottom) override {
    TDeviceContext dc(system_dc);
    const TRect area{left, top, right, bottom};
    GdiFillRect(&dc, area, form_->GetColor());
    PaintControls(system_dc, form_, 0, 0, area);
  }

  void MouseDown(int x, int y) override {
    TControl* c = ControlAt(form_, x, y);
    if (!c || !c->Widget()->click) return;
    c->Widget()->SetPressed(true);
    c->Invalidate();
  }

  void MouseUp(int x, int y) override {
    ControlSurface* pressed = ControlSurface::PressedSurface();
    if (!pressed) return;
    pressed->SetPressed(false);
    TControl* c = pressed->control;
    if (platform::win32::FormOf(c) != form_) return;
    c->Invalidate();
    const TRect bounds = platform::win32::BoundsInForm(c);
    if (x >= bounds.Left && x < bounds.Right && y >= bounds.Top && y < bounds.Bottom &&
        pressed->click)
      pressed->click();
  }

  bool HandAt(int x, int y) override {
    const TControl* c = ControlAt(form_, x, y);
    return c && c->GetCursor() == crHandPoint;
  }

  void CloseRequested() override { form_->Close(); }

  bool KeyDown(platform::win32::FormKey key, bool shift, bool repeated) override {
    TFocusKey k = fkOther;
    switch (key) {
      case platform::win32::kKeyTab:
        k = fkTab;
        break;
      case platform::win32::kKeySpace:
        k = fkSpace;
        break;
      case platform::win32::kKeyReturn:
        k = fkReturn;
        break;
      case platform::win32::kKeyEscape:
        k = fkEscape;
        break;
      case platform::win32::kKeyOther:
        return false;
    }
    // A held key presses once.
    if (repeated && k != fkTab) return true;
    return form_->KeyDown(k, shift);
  }

  void Activated() override {
    if (TControl* c = form_->FocusedControl()) platform::win32::AccessibleFocus(c);
  }

  std::intptr_t ObjectAsked(std::uintptr_t flags, std::intptr_t object_id) override {
    return platform::win32::AnswerGetObject(form_, flags, object_id);
  }

 private:
  TCustomForm* form_;
};

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  platform::EnsureToolkit();
  visible_ = false;
  auto* w = new ControlSurface();
  w->events = std::make_unique<FormWindow>(this);
  w->window = platform::win32::CreateForm(w->events.get(), platform::win32::FormStyle{});
  if (!w->window) {
    delete w;
    throw Exception("Cannot create the window");
  }
  StartWindow(w);
  platform::win32::FormExists(this);
}

TCustomForm::~TCustomForm() {
  platform::win32::FormGone(this);
  EndWindow();
  platform::win32::DestroyForm(Widget()->window);
  Widget()->window = 0;
}

void TCustomForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  platform::win32::SetFormCaption(Widget()->window, caption);
}

void TCustomForm::ApplyWindowFlags() {
  using namespace platform::win32;
  FormStyle style;
  switch (border_style_) {
    case bsNone:
      style.frame = kFrameNone;
      break;
    case bsSizeable:
      style.frame = kFrameSizeable;
      break;
    case bsDialog:
      style.frame = kFrameDialog;
      break;
    case bsToolWindow:
    case bsSizeToolWin:
      style.frame = kFrameTool;
      break;
    default:
      style.frame = kFrameFixed;
      break;
  }
  style.system_menu = (border_icons_ & biSystemMenu) != 0;
  style.minimize = (border_icons_ & biMinimize) != 0;
  style.maximize = (border_icons_ & biMaximize) != 0;
  style.stay_on_top = form_style_ == fsStayOnTop;
  platform::win32::SetFormStyle(Widget()->window, style);
  PlaceWidget();
}

void TCustomForm::PlaceWidget() {
  if (Widget() && Widget()->window)
    platform::win32::PlaceForm(Widget()->window, GetLeft(), GetTop(), GetClientWidth(),
                               GetClientHeight());
}

void TCustomForm::SyncFromScreen() {
  int left = 0, top = 0;
  if (!platform::win32::FormShown(Widget()->window) ||
      !platform::win32::FormPosition(Widget()->window, &left, &top))
    return;
  TWinControl::SetBounds(left, top, GetWidth(), GetHeight());
}

void TCustomForm::ApplyPosition() {
  if (position_ != poScreenCenter && position_ != poDesktopCenter &&
      position_ != poMainFormCenter && position_ != poOwnerFormCenter)
    return;
  const platform::win32::ScreenArea area = platform::win32::PrimaryScreen();
  SetBounds(area.left + (area.width - GetWidth()) / 2, area.top + (area.height - GetHeight()) / 2,
            GetWidth(), GetHeight());
}

void TCustomForm::SetVisible(bool v) {
  if (HasState(csLoading)) {
    visible_ = v;  // shown once loading has ended
    return;
  }
  const bool shown = platform::win32::FormShown(Widget()->window);
  visible_ = v;
  if (v == shown) return;
  if (v) {
    ApplyPosition();
    PlaceWidget();
    platform::win32::ShowForm(Widget()->window, true);
    DoShow();
  } else {
    platform::win32::ShowForm(Widget()->window, false);
    DoHide();
  }
}

TNativeControl* TCustomForm::ClientWidget() const {
  return Widget();
}

void TCustomForm::FocusMoved(TControl* from, TControl* to) {
  if (from) from->Invalidate();
  if (to) {
    to->Invalidate();
    platform::win32::AccessibleFocus(to);
  }
}

void TCustomForm::Activate() {
  platform::win32::ActivateForm(Widget()->window);
  if (TControl* c = FocusedControl()) c->Invalidate();
}

HWND TCustomForm::Handle() const {
  return Widget()->window;
}

std::vector<TColor> TCustomForm::ShownPixels(const TRect& area) const {
  std::vector<TColor> pixels;
  if (area.IsEmpty() || !platform::win32::FormShown(Widget()->window)) return pixels;
  for (std::uint32_t p : platform::win32::ReadFormPixels(Widget()->window, area.Left, area.Top,
                                                         area.Width(), area.Height()))
    pixels.push_back(static_cast<TColor>(p));
  return pixels;
}

std::vector<TScreenRect> ScreenRects() {
  platform::EnsureToolkit();
  std::vector<TScreenRect> rects;
  for (const platform::win32::ScreenArea& s : platform::win32::Screens())
    rects.push_back(TScreenRect{s.left, s.top, s.width, s.height});
  return rects;
}

std::string LoadResourceText(const std::string& name) {
  platform::EnsureToolkit();
  // ":/<name>" is the program's resource of that name.
  if (name.rfind(":/", 0) == 0) {
    if (HRSRC res = FindResourceA(nullptr, name.substr(2).c_str(), "TESSALINE")) {
      const auto* data = static_cast<const char*>(LockResource(LoadResource(nullptr, res)));
      return std::string(data, SizeofResource(nullptr, res));
    }
    throw Exception("Cannot open " + name);
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) throw Exception("Cannot open " + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
