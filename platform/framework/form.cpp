#include "platform/framework/form.h"

#include <algorithm>

#include "platform/framework/application.h"
#include "platform/framework/layout_reader.h"
#include "platform/framework/properties.h"
#include "platform/messages/messages.h"

// The parts of the windows every toolkit shares; the window itself is in the
// toolkit's binding (qt/, win32/).

namespace {

// Nominal size of a bordered window's frame (borders and caption) that the
// outer size adds to the client size, on every platform: a stored placement
// means the same everywhere.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 39;

}  // namespace

int TCustomForm::FrameWidth() const {
  return border_style_ == bsNone ? 0 : kFrameWidth;
}

int TCustomForm::FrameHeight() const {
  return border_style_ == bsNone ? 0 : kFrameHeight;
}

void TCustomForm::SetBorderStyle(TFormBorderStyle v) {
  if (v == border_style_) return;
  int cw = GetClientWidth(), ch = GetClientHeight();
  border_style_ = v;
  ApplyWindowFlags();
  SetBounds(GetLeft(), GetTop(), cw + FrameWidth(), ch + FrameHeight());
}

void TCustomForm::SetBorderIcons(std::uint32_t v) {
  if (v == border_icons_) return;
  border_icons_ = v;
  ApplyWindowFlags();
}

void TCustomForm::SetFormStyle(TFormStyle v) {
  if (v == form_style_) return;
  form_style_ = v;
  ApplyWindowFlags();
}

int TCustomForm::GetClientWidth() const {
  return std::max(GetWidth() - FrameWidth(), 0);
}

int TCustomForm::GetClientHeight() const {
  return std::max(GetHeight() - FrameHeight(), 0);
}

void TCustomForm::SetClientWidth(int v) {
  SetWidth(v + FrameWidth());
}

void TCustomForm::SetClientHeight(int v) {
  SetHeight(v + FrameHeight());
}

void TCustomForm::SetBounds(int left, int top, int width, int height) {
  if (max_width_ > 0) width = std::min(width, max_width_);
  if (max_height_ > 0) height = std::min(height, max_height_);
  if (min_width_ > 0) width = std::max(width, min_width_);
  if (min_height_ > 0) height = std::max(height, min_height_);
  TWinControl::SetBounds(left, top, width, height);
}

void TCustomForm::SetMaxWidth(int v) {
  max_width_ = std::max(v, 0);
  SetBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

void TCustomForm::SetMaxHeight(int v) {
  max_height_ = std::max(v, 0);
  SetBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

void TCustomForm::SetMinWidth(int v) {
  min_width_ = std::max(v, 0);
  SetBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

void TCustomForm::SetMinHeight(int v) {
  min_height_ = std::max(v, 0);
  SetBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

int TCustomForm::ClientOriginX() const {
  return FrameWidth() / 2;
}

int TCustomForm::ClientOriginY() const {
  return FrameHeight() - FrameWidth() / 2;
}

void TCustomForm::Close() {
  if (closing_) return;
  if (platform::OpenMessageBoxes() > 0) {
    // A request to close (a signal, the session's end, the window system)
    // while a message box is open: the handler that opened the box is still
    // running, and the window's components may not go under it. The boxes
    // close, and the window closes once their handlers have returned.
    if (!close_deferred_) {
      close_deferred_ = true;
      platform::AfterMessageBoxes(this, [this] {
        close_deferred_ = false;
        Close();
      });
    }
    platform::CloseMessageBoxes();
    return;
  }
  closing_ = true;
  TCloseAction action = caHide;
  if (OnClose) platform::Guarded([&] { OnClose(this, action); });
  closing_ = false;
  if (action == caNone) return;
  SyncFromScreen();
  Hide();
  if (Application->MainForm() == this) Application->Terminate();
}

void TCustomForm::CloseForLostDisplay() {
  if (closing_) return;
  closing_ = true;
  TCloseAction action = caHide;
  if (OnClose) platform::Guarded([&] { OnClose(this, action); });
  closing_ = false;
}

void TCustomForm::CreateFromLayout(const std::string& layout) {
  ReadLayout(*this, LoadResourceText(layout));
  if (OnCreate) platform::Guarded([this] { OnCreate(this); });
  if (visible_) SetVisible(true);
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
}

const TClassInfo& TCustomForm::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TCustomForm>("TCustomForm", &TWinControl::StaticClassInfo())
          .Str("Caption", &TCustomForm::GetCaption, &TCustomForm::SetCaption)
          .Enum("BorderStyle",
                {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"},
                &TCustomForm::GetBorderStyle, &TCustomForm::SetBorderStyle)
          .Set("BorderIcons", {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"},
               &TCustomForm::GetBorderIcons, &TCustomForm::SetBorderIcons)
          .Enum("Position",
                {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                 "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"},
                &TCustomForm::GetPosition, &TCustomForm::SetPosition)
          .Enum("FormStyle", {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"},
                &TCustomForm::GetFormStyle, &TCustomForm::SetFormStyle)
          .Int("ClientWidth", &TCustomForm::GetClientWidth, &TCustomForm::SetClientWidth)
          .Int("ClientHeight", &TCustomForm::GetClientHeight, &TCustomForm::SetClientHeight)
          .Int("Constraints.MaxWidth", &TCustomForm::GetMaxWidth, &TCustomForm::SetMaxWidth)
          .Int("Constraints.MaxHeight", &TCustomForm::GetMaxHeight, &TCustomForm::SetMaxHeight)
          .Int("Constraints.MinWidth", &TCustomForm::GetMinWidth, &TCustomForm::SetMinWidth)
          .Int("Constraints.MinHeight", &TCustomForm::GetMinHeight, &TCustomForm::SetMinHeight)
          .Event("OnCreate", &TCustomForm::OnCreate)
          .Event("OnShow", &TCustomForm::OnShow)
          .Event("OnHide", &TCustomForm::OnHide)
          .Event("OnClose", &TCustomForm::OnClose)
          .Event("OnDestroy", &TCustomForm::OnDestroy)
          .Build();
  return info;
}

const TClassInfo& TForm::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TForm>("TForm", &TCustomForm::StaticClassInfo()).Build();
  return info;
}

void TCustomForm::StartWindow(TNativeControl* window) {
  SetWidget(window);
  SetFont(TFont{"Arial", -11, 0, clWindowText});
  SetParentFont(false);
  SetBounds(0, 0, 320 + FrameWidth(), 240 + FrameHeight());
  ApplyWindowFlags();
}

void TCustomForm::EndWindow() {
  platform::CancelAfterMessageBoxes(this);
  if (OnDestroy) platform::Guarded([this] { OnDestroy(this); });
  DestroyComponents();
}
