#include "platform/framework/controls.h"

#include <algorithm>

#include "platform/framework/button.h"
#include "platform/framework/properties.h"
#include "platform/framework/status_bar.h"
#include "platform/messages/messages.h"

// The parts of the visual controls every toolkit shares; drawing, the mouse and
// sizes of texts and pictures are in the toolkit's binding (qt/, win32/).

TControl::TControl(TComponent* owner) : TComponent(owner) {}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  PlaceWidget();
}

void TControl::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Invalidate();
}

void TControl::SetFont(const TFont& font) {
  ApplyFont(font, false);
}

void TControl::SetParentFont(bool v) {
  if (v == parent_font_) return;
  parent_font_ = v;
  if (v) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (parent_font_ && parent_) ApplyFont(parent_->Font(), true);
}

void TControl::SetFontName(const std::string& v) {
  SetFontField(&TFont::Name, v);
}

void TControl::SetFontHeight(int v) {
  SetFontField(&TFont::Height, v);
}

void TControl::SetFontStyle(std::uint32_t v) {
  SetFontField(&TFont::Style, v);
}

void TControl::SetFontColor(TColor v) {
  SetFontField(&TFont::Color, v);
}

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* p = dynamic_cast<TWinControl*>(parent)) SetParent(p);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == parent_) SetParent(nullptr);
}

void TControl::Click() {
  if (OnClick) platform::Guarded([this] { OnClick(this); });
}

const TClassInfo& TControl::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TControl>("TControl", &TComponent::StaticClassInfo())
          .Int("Left", &TControl::GetLeft, &TControl::SetLeft)
          .Int("Top", &TControl::GetTop, &TControl::SetTop)
          .Int("Width", &TControl::GetWidth, &TControl::SetWidth)
          .Int("Height", &TControl::GetHeight, &TControl::SetHeight)
          .Bool("Visible", &TControl::GetVisible, &TControl::SetVisible)
          .Int("Cursor", &TControl::GetCursor, &TControl::SetCursor, "TCursor")
          .Int("Color", &TControl::GetColor, &TControl::SetColor, "TColor")
          .Bool("ParentFont", &TControl::GetParentFont, &TControl::SetParentFont)
          .Str("Font.Name", &TControl::GetFontName, &TControl::SetFontName)
          .Int("Font.Height", &TControl::GetFontHeight, &TControl::SetFontHeight)
          .Set("Font.Style", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"},
               &TControl::GetFontStyle, &TControl::SetFontStyle)
          .Int("Font.Color", &TControl::GetFontColor, &TControl::SetFontColor, "TColor")
          .Str("AccessibleName", &TControl::GetAccessibleName, &TControl::SetAccessibleName)
          .Bool("TabStop", &TControl::GetTabStop, &TControl::SetTabStop)
          .Event("OnClick", &TControl::OnClick)
          .Build();
  return info;
}

TWinControl::~TWinControl() {
  auto children = controls_;
  for (TControl* c : children) c->SetParent(nullptr);
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : controls_) c->ParentFontChanged();
}

const TClassInfo& TWinControl::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TWinControl>("TWinControl", &TControl::StaticClassInfo()).Build();
  return info;
}

void TLabel::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  AdjustSize();
  Invalidate();
}

void TLabel::SetTransparent(bool v) {
  if (v == transparent_) return;
  transparent_ = v;
  Invalidate();
}

void TLabel::SetAutoSize(bool v) {
  if (v == auto_size_) return;
  auto_size_ = v;
  AdjustSize();
}

void TLabel::FontChanged() {
  AdjustSize();
  TControl::FontChanged();
}

const TClassInfo& TLabel::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TLabel>("TLabel", &TControl::StaticClassInfo())
          .Creatable()
          .Str("Caption", &TLabel::GetCaption, &TLabel::SetCaption)
          .Bool("Transparent", &TLabel::GetTransparent, &TLabel::SetTransparent)
          .Bool("AutoSize", &TLabel::GetAutoSize, &TLabel::SetAutoSize)
          .Build();
  return info;
}

void TImage::SetStretch(bool v) {
  if (v == stretch_) return;
  stretch_ = v;
  Invalidate();
}

const TClassInfo& TImage::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TImage>("TImage", &TControl::StaticClassInfo())
                                     .Creatable()
                                     .Str("Picture", &TImage::GetPicture, &TImage::SetPicture)
                                     .Bool("Stretch", &TImage::GetStretch, &TImage::SetStretch)
                                     .Build();
  return info;
}

const TClassInfo& TPictureButton::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TPictureButton>("TPictureButton", &TImage::StaticClassInfo())
          .Creatable()
          .Build();
  return info;
}

void TBevel::SetShape(TBevelShape v) {
  if (v == shape_) return;
  shape_ = v;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle v) {
  if (v == style_) return;
  style_ = v;
  Invalidate();
}

const TClassInfo& TBevel::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TBevel>("TBevel", &TControl::StaticClassInfo())
          .Creatable()
          .Enum("Shape",
                {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine",
                 "bsSpacer"},
                &TBevel::GetShape, &TBevel::SetShape)
          .Enum("Style", {"bsLowered", "bsRaised"}, &TBevel::GetStyle, &TBevel::SetStyle)
          .Build();
  return info;
}

void RegisterStandardControls() {
  RegisterColorIdents();
  RegisterIntegerConsts(
      "TCursor",
      [](const std::string& ident, std::int64_t& value) {
        if (ident == "crDefault")
          value = crDefault;
        else if (ident == "crHandPoint")
          value = crHandPoint;
        else
          return false;
        return true;
      },
      [](std::int64_t value, std::string& ident) {
        if (value == crDefault)
          ident = "crDefault";
        else if (value == crHandPoint)
          ident = "crHandPoint";
        else
          return false;
        return true;
      });
  RegisterClass(TLabel::StaticClassInfo());
  RegisterClass(TImage::StaticClassInfo());
  RegisterClass(TPictureButton::StaticClassInfo());
  RegisterClass(TBevel::StaticClassInfo());
  RegisterClass(TStatusBar::StaticClassInfo());
  RegisterClass(TButton::StaticClassInfo());
}
