#pragma once

#include <cstdint>
#include <string>

#include "platform/framework/accessibility.h"
#include "platform/framework/component.h"
#include "platform/framework/graphics.h"

class TWinControl;

// What stands behind a visual control on the screen: a toolkit widget on
// Linux, a drawing surface of its window on Windows. For the platform layer only.
#ifdef _WIN32
namespace platform::win32 {
class ControlSurface;
}
using TNativeControl = platform::win32::ControlSurface;
#else
class QWidget;
using TNativeControl = QWidget;
#endif

enum TCursor : std::int32_t { crDefault = 0, crHandPoint = -21 };

// A visual control: a component that owns a widget, placed in its parent
// control at Left, Top with Width × Height pixels. Events run on the GUI
// thread; an exception that escapes one goes to the application's error report.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  int GetLeft() const { return left_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  int GetTop() const { return top_; }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  int GetWidth() const { return width_; }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  int GetHeight() const { return height_; }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);

  bool GetVisible() const { return visible_; }
  virtual void SetVisible(bool v);
  TCursor GetCursor() const { return cursor_; }
  void SetCursor(TCursor c);
  TColor GetColor() const { return color_; }
  void SetColor(TColor c);

  // The control's font; it follows the parent's while ParentFont holds.
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& font);
  bool GetParentFont() const { return parent_font_; }
  void SetParentFont(bool v);
  const std::string& GetFontName() const { return font_.Name; }
  void SetFontName(const std::string& v);
  int GetFontHeight() const { return font_.Height; }
  void SetFontHeight(int v);
  std::uint32_t GetFontStyle() const { return font_.Style; }
  void SetFontStyle(std::uint32_t v);
  TColor GetFontColor() const { return font_.Color; }
  void SetFontColor(TColor v);

  TWinControl* GetParent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  void SetParentComponent(TComponent* parent) override;
  void Notification(TComponent* component, TOperation operation) override;

  // Repaints the control.
  void Invalidate();
  // As if the user clicked it.
  virtual void Click();

  // What a screen reader is told. The role and the name a control gives by
  // itself are its class's; an AccessibleName set here (or in the layout)
  // replaces the name, and an empty one leaves a text out of the tree.
  virtual TAccessibleRole AccessibleRole() const { return arNone; }
  std::string AccessibleName() const;
  void SetAccessibleName(const std::string& name);
  std::string GetAccessibleName() const { return accessible_name_; }
  // False when the control has no value to tell.
  virtual bool AccessibleValue(TAccessibleValue& value) const;
  // Whether the control is in the tree: a role, visible, and a name (a
  // window and a meter always are).
  bool AccessibleShown() const;
  // Buttons and links that do something when clicked.
  bool Pressable() const;
  // Tab stops at a pressable, visible control unless TabStop is false; a
  // pressable control that is no tab stop is told as unavailable.
  bool GetTabStop() const { return tab_stop_; }
  void SetTabStop(bool v);
  bool CanFocus() const { return tab_stop_ && visible_ && Pressable(); }
  // Has the keyboard focus of its window.
  bool Focused() const;
  // The focus mark shows: focused, once the keyboard has been used.
  bool ShowsFocusMark() const;
  // Where the focus mark goes, in the control's own coordinates.
  virtual TRect FocusMarkRect() const { return TRect{0, 0, width_, height_}; }
  // The control's value changed: readers hear of it a few times a second.
  void AccessibleValueChanged();
  TNotifyThrottle& ValueThrottle() { return value_throttle_; }

  TNotifyEvent OnClick;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // What stands for the control on the screen; for the platform layer only.
  TNativeControl* Widget() const { return widget_; }

 protected:
  // Subclasses create their surface in their constructor and hand it over.
  void SetWidget(TNativeControl* widget);
  virtual void FontChanged() { Invalidate(); }
  void ParentFontChanged();
  // Puts the surface where the control's bounds say.
  virtual void PlaceWidget();
  // The name the control has by itself (its caption, its text).
  virtual std::string DefaultAccessibleName() const { return {}; }
  bool visible_ = true;

 private:
  void ApplyFont(const TFont& font, bool from_parent);
  // Changes one field of the font, as a layout's Font.X assignment does.
  template <class V>
  void SetFontField(V TFont::*field, const V& value) {
    TFont f = font_;
    f.*field = value;
    SetFont(f);
  }

  TNativeControl* widget_ = nullptr;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TCursor cursor_ = crDefault;
  TColor color_ = clBtnFace;
  TFont font_;
  bool parent_font_ = true;
  std::string accessible_name_;
  bool accessible_name_set_ = false;
  bool tab_stop_ = true;
  TNotifyThrottle value_throttle_{kValueNotifyIntervalUs};
  friend class TWinControl;
};

// A control that holds other controls.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int i) const { return controls_.at(i); }
  // Where child controls are placed.
  virtual TNativeControl* ClientWidget() const { return Widget(); }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  void FontChanged() override;

 private:
  std::vector<TControl*> controls_;
  friend class TControl;
};

// A line of text. With AutoSize the control takes the size of its text.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);

  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool v);
  bool GetAutoSize() const { return auto_size_; }
  void SetAutoSize(bool v);

  // A text, or a link when clicking it does something; named by its caption.
  TAccessibleRole AccessibleRole() const override { return OnClick ? arLink : arStaticText; }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  std::string DefaultAccessibleName() const override { return caption_; }
  void FontChanged() override;

 private:
  void AdjustSize();
  std::string caption_;
  bool transparent_ = false;
  bool auto_size_ = true;
};

// A picture (JPEG or PNG) named by file; the layout's pictures are found
// among the program's own resources first.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* owner);

  const std::string& GetPicture() const { return picture_; }
  // Raises when the picture cannot be found or read.
  void SetPicture(const std::string& file);
  bool GetStretch() const { return stretch_; }
  void SetStretch(bool v);
  // Size of the loaded picture (0 × 0 without one).
  int PictureWidth() const;
  int PictureHeight() const;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  std::string picture_;
  bool stretch_ = false;
};

// A picture that acts as a button: it looks pressed while held and clicks
// when released over it.
class TPictureButton : public TImage {
 public:
  explicit TPictureButton(TComponent* owner);
  // A button without a caption: the layout or the window names it.
  TAccessibleRole AccessibleRole() const override { return arPushButton; }
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// A decorative bevel: a box, a frame or a line, lowered or raised.
class TBevel : public TControl {
 public:
  explicit TBevel(TComponent* owner);

  TBevelShape GetShape() const { return shape_; }
  void SetShape(TBevelShape v);
  TBevelStyle GetStyle() const { return style_; }
  void SetStyle(TBevelStyle v);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  TBevelShape shape_ = bsBox;
  TBevelStyle style_ = bsLowered;
};

// Registers the controls above for layouts.
void RegisterStandardControls();
