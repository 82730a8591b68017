#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/framework/accessibility.h"
#include "platform/framework/controls.h"
#include "platform/gdi/gdi.h"
#include "platform/messages/messages.h"

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : std::uint32_t {
  biSystemMenu = 1,
  biMinimize = 2,
  biMaximize = 4,
  biHelp = 8,
};
enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TComponent* sender, TCloseAction& action)>;

// A top-level window. Left, Top, Width and Height are its outer frame;
// ClientWidth × ClientHeight its inside. Size changes are limited by the
// Constraints (0 is no limit).
class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* owner);
  ~TCustomForm() override;

  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& caption);
  TFormBorderStyle GetBorderStyle() const { return border_style_; }
  void SetBorderStyle(TFormBorderStyle v);
  std::uint32_t GetBorderIcons() const { return border_icons_; }
  void SetBorderIcons(std::uint32_t v);
  TPosition GetPosition() const { return position_; }
  void SetPosition(TPosition v) { position_ = v; }
  TFormStyle GetFormStyle() const { return form_style_; }
  void SetFormStyle(TFormStyle v);

  int GetClientWidth() const;
  void SetClientWidth(int v);
  int GetClientHeight() const;
  void SetClientHeight(int v);
  void SetBounds(int left, int top, int width, int height) override;

  int GetMaxWidth() const { return max_width_; }
  void SetMaxWidth(int v);
  int GetMaxHeight() const { return max_height_; }
  void SetMaxHeight(int v);
  int GetMinWidth() const { return min_width_; }
  void SetMinWidth(int v);
  int GetMinHeight() const { return min_height_; }
  void SetMinHeight(int v);

  // Where the window really is now (it may have been moved by the user), on
  // platforms that say so (platform::WindowPositionsKnown).
  void SyncFromScreen();
  // Where the client area starts inside the outer frame (of nominal size).
  int ClientOriginX() const;
  int ClientOriginY() const;

  void SetVisible(bool v) override;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Asks OnClose what to do and then hides (or frees) the window; closing the
  // application's main window ends the application.
  void Close();
  // The display has gone and the process ends: OnClose runs as for a close
  // (it keeps what the window keeps, such as its placement, from the geometry
  // last known), and nothing more is done with the window.
  void CloseForLostDisplay();
  TNativeControl* ClientWidget() const override;
  // The desktop's handle of the window, for requests made on its behalf.
  HWND Handle() const;
  // The colours (0x00BBGGRR) of the client area's pixels in area (client
  // coordinates), row by row, as the display has them: what the window's
  // paints have reached, not a fresh rendering. Empty while not shown.
  std::vector<TColor> ShownPixels(const TRect& area) const;

  // The keyboard (focus.cpp). The controls Tab visits, in reading order:
  // top to bottom, then left to right.
  std::vector<TControl*> FocusOrder() const;
  // The control with the keyboard focus; null for none.
  TControl* FocusedControl() const;
  // Gives the control the keyboard focus (null takes it away).
  void FocusControl(TControl* control);
  // A key pressed in the window; true when the window acted on it: Tab and
  // Shift+Tab move the focus (round), Space and Return press the focused
  // control, Escape clicks the Cancel button.
  bool KeyDown(TFocusKey key, bool shift);
  // A control that can no longer take the focus: the focus, if it has it,
  // goes to the next one in reading order (round to the first).
  void FocusLeaving(TControl* control);
  // Presses the control as a click on it does (keys, readers' actions).
  void Press(TControl* control);
  // What readers see of the window's controls, in reading order.
  std::vector<TControl*> AccessibleChildren() const;
  TAccessibleRole AccessibleRole() const override { return arWindow; }
  // A key has been pressed in one of the program's windows: focus marks show
  // from then on.
  static bool KeyboardUsed();

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TCloseEvent OnClose;
  TNotifyEvent OnDestroy;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  // Reads the window's layout (a program resource such as ":/layouts/main.layout"
  // or a file) and then runs OnCreate; a visible layout shows the window.
  void CreateFromLayout(const std::string& layout);
  void Loaded() override;
  void PlaceWidget() override;
  std::string DefaultAccessibleName() const override { return caption_; }

 private:
  friend class FormWidget;
  // What every binding's constructor does once the window exists: the
  // window's default font, size and flags.
  void StartWindow(TNativeControl* window);
  // What every binding's destructor does first: OnDestroy, then the child
  // controls go, while the window they sit in still exists.
  void EndWindow();
  void DoShow();
  void DoHide();
  // The binding's part: brings the window to the front with the keyboard.
  void Activate();
  // The binding's part: the focus moved from one control to another
  // (either may be null).
  void FocusMoved(TControl* from, TControl* to);
  void ApplyWindowFlags();
  void ApplyPosition();
  int FrameWidth() const;
  int FrameHeight() const;

  std::string caption_;
  TFormBorderStyle border_style_ = bsSizeable;
  std::uint32_t border_icons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = poDesigned;
  TFormStyle form_style_ = fsNormal;
  int max_width_ = 0, max_height_ = 0, min_width_ = 0, min_height_ = 0;
  bool closing_ = false;
  TControl* focused_ = nullptr;
  // A close waits for the open message boxes to be gone.
  bool close_deferred_ = false;
};

class TForm : public TCustomForm {
 public:
  using TCustomForm::TCustomForm;
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// A rectangle of the desktop, in desktop pixels.
struct TScreenRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};
// The screens (monitors) of the desktop; empty when the toolkit knows none.
std::vector<TScreenRect> ScreenRects();

// Reads a program resource (":/...") or a file; raises when it cannot.
std::string LoadResourceText(const std::string& name);
