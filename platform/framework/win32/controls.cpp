#include "platform/framework/controls.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/framework/button.h"
#include "platform/framework/properties.h"
#include "platform/framework/status_bar.h"
#include "platform/framework/win32/control_surface.h"
#include "platform/framework/win32/native_picture.h"
#include "platform/framework/win32/native_text.h"
#include "platform/gdi/win32/native_gdi.h"
#include "platform/messages/messages.h"
#include "platform/resources/resources.h"

using platform::win32::ControlSurface;

// --- TControl ---------------------------------------------------------------

TControl::~TControl() {
  SetParent(nullptr);
  delete widget_;
}

void TControl::SetWidget(TNativeControl* widget) {
  widget_ = widget;
  widget_->control = this;
  PlaceWidget();
}

void TControl::PlaceWidget() {
  if (!widget_) return;
  // Both where it was and where it is now are painted anew.
  if (visible_) platform::win32::InvalidateInForm(this, widget_->placed);
  widget_->placed = platform::win32::BoundsInForm(this);
  Invalidate();
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  if (!v) Invalidate();
  visible_ = v;
  if (v) Invalidate();
}

void TControl::SetCursor(TCursor c) {
  // The form asks the control under the mouse for its cursor.
  cursor_ = c;
}

void TControl::ApplyFont(const TFont& font, bool from_parent) {
  parent_font_ = from_parent;
  if (font == font_) return;
  font_ = font;
  FontChanged();
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  Invalidate();
  if (parent_) std::erase(parent_->controls_, this);
  parent_ = parent;
  if (parent_) {
    parent_->controls_.push_back(this);
    PlaceWidget();
    ParentFontChanged();
  } else if (widget_) {
    widget_->SetPressed(false);
  }
}

void TControl::Invalidate() {
  if (visible_) platform::win32::InvalidateControl(this, TRect{0, 0, width_, height_});
}

// --- TWinControl ------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

// --- TLabel -----------------------------------------------------------------

TLabel::TLabel(TComponent* owner) : TControl(owner) {
  auto* w = new ControlSurface();
  // A label with a click handler serves as a link.
  w->click = [this] { Click(); };
  w->paint = [this](HDC dc) {
    const TRect all{0, 0, GetWidth(), GetHeight()};
    if (!transparent_) GdiFillRect(dc, all, GetColor());
    platform::win32::DrawText(dc, Font(), all, platform::win32::kTextLeft, caption_);
  };
  SetWidget(w);
  SetBounds(0, 0, 65, 13);
}

void TLabel::AdjustSize() {
  if (!auto_size_) return;
  int width = 0, height = 0;
  platform::win32::TextSize(Font(), caption_, &width, &height);
  SetBounds(GetLeft(), GetTop(), width, height);
}

// --- TImage -----------------------------------------------------------------

namespace {

std::uint32_t Darkened(std::uint32_t p) {
  const auto channel = [p](int shift) {
    return ((((p >> shift) & 0xFFu) * (255 - 90) + 127) / 255) << shift;
  };
  return channel(0) | channel(8) | channel(16);
}

// The picture file's bytes: among the program's resources ("assets/<name>")
// first, else the file; empty when neither can be read.
std::vector<std::uint8_t> PictureBytes(const std::string& file) {
  if (HRSRC res = FindResourceA(nullptr, ("assets/" + file).c_str(), "TESSALINE")) {
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, res)));
    return std::vector<std::uint8_t>(data, data + SizeofResource(nullptr, res));
  }
  std::ifstream in(file, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TImage::TImage(TComponent* owner) : TControl(owner) {
  auto* w = new ControlSurface();
  w->paint = [this, w](HDC dc) {
    if (w->picture.empty()) return;
    const bool pressed = w->Pressed() && w->click;
    platform::win32::DrawPixels(
        dc->dc, dc->origin_x, dc->origin_y, stretch_ ? GetWidth() : w->picture_width,
        stretch_ ? GetHeight() : w->picture_height,
        (pressed ? w->picture_pressed : w->picture).data(), w->picture_width, w->picture_height);
  };
  SetWidget(w);
  SetBounds(0, 0, 105, 105);
}

void TImage::SetPicture(const std::string& file) {
  if (file == picture_) return;
  std::vector<std::uint32_t> pixels;
  int width = 0, height = 0;
  if (!file.empty()) {
    const std::vector<std::uint8_t> bytes = PictureBytes(file);
    if (bytes.empty() ||
        !platform::win32::DecodePicture(bytes.data(), bytes.size(), &pixels, &width, &height))
      throw Exception("Cannot load picture " + file);
  }
  picture_ = file;
  ControlSurface* w = Widget();
  w->picture_width = width;
  w->picture_height = height;
  w->picture_pressed.resize(pixels.size());
  std::transform(pixels.begin(), pixels.end(), w->picture_pressed.begin(), Darkened);
  w->picture = std::move(pixels);
  Invalidate();
}

int TImage::PictureWidth() const {
  return Widget()->picture_width;
}
int TImage::PictureHeight() const {
  return Widget()->picture_height;
}

TPictureButton::TPictureButton(TComponent* owner) : TImage(owner) {
  Widget()->click = [this] { Click(); };
  SetCursor(crHandPoint);
}

// --- TBevel -----------------------------------------------------------------

TBevel::TBevel(TComponent* owner) : TControl(owner) {
  auto* w = new ControlSurface();
  w->mouse_transparent = true;
  w->paint = [this](HDC dc) {
    using platform::win32::DrawFrame;
    using platform::win32::DrawLine;
    const TColor first = style_ == bsLowered ? clBtnShadow : clBtnHighlight;
    const TColor second = style_ == bsLowered ? clBtnHighlight : clBtnShadow;
    const int r = GetWidth() - 1, b = GetHeight() - 1;
    switch (shape_) {
      case bsBox:
        DrawLine(dc, 0, 0, r, 0, first);
        DrawLine(dc, 0, 0, 0, b, first);
        DrawLine(dc, r, 0, r, b, second);
        DrawLine(dc, 0, b, r, b, second);
        break;
      case bsFrame: {
        const int shadow_at = style_ == bsLowered ? 0 : 1;
        DrawFrame(dc, shadow_at, shadow_at, r - 1, b - 1, clBtnShadow);
        DrawFrame(dc, 1 - shadow_at, 1 - shadow_at, r - 1, b - 1, clBtnHighlight);
        break;
      }
      case bsTopLine:
        DrawLine(dc, 0, 0, r, 0, first);
        DrawLine(dc, 0, 1, r, 1, second);
        break;
      case bsBottomLine:
        DrawLine(dc, 0, b - 1, r, b - 1, first);
        DrawLine(dc, 0, b, r, b, second);
        break;
      case bsLeftLine:
        DrawLine(dc, 0, 0, 0, b, first);
        DrawLine(dc, 1, 0, 1, b, second);
        break;
      case bsRightLine:
        DrawLine(dc, r - 1, 0, r - 1, b, first);
        DrawLine(dc, r, 0, r, b, second);
        break;
      case bsSpacer:
        break;
    }
  };
  SetWidget(w);
  SetBounds(0, 0, 50, 50);
}
