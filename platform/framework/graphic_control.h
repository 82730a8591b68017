#pragma once

#include <functional>

#include "platform/framework/controls.h"
#include "platform/gdi/gdi.h"

// A control that draws itself: its widget paints by calling Paint(), which
// draws through Canvas() (the device context of the paint in progress). It
// can also paint part of itself at once, outside the paint cycle.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner);
  ~TGraphicControl() override;

  // The device context of the paint in progress; null outside painting.
  HDC Canvas() const { return canvas_; }
  // True when the control can be seen: visible, with a parent whose window is shown.
  bool Showing() const;
  // Paints the area (client coordinates) now by running routine with Canvas()
  // set; false when the control is not showing (nothing is painted).
  bool PaintNow(const TRect& area, const std::function<void()>& routine);
  // Asks for the area (client coordinates) to be painted soon, through
  // Paint(); requests made before that paint give one paint. Nothing while
  // the control is not showing.
  void PaintSoon(const TRect& area);
  // Runs Paint() into another device context (composing, tests).
  void PaintTo(HDC dc);
  // Opaque controls fill every pixel of their area when painting.
  void SetOpaque(bool on);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  virtual void Paint() {}

 private:
  void RunPaint(HDC dc, const std::function<void()>& routine);
  HDC canvas_ = nullptr;
  const std::function<void()>* now_routine_ = nullptr;
};
