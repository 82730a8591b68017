#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>
#include <functional>

#include "platform/framework/graphics.h"

class QPainter;
class TControl;

// The widget behind a visual control: it paints through the control's paint
// routine (and the focus mark over it), reports clicks (press and release
// over it) and hands the keys to its window's keyboard.
class ControlWidget : public QWidget {
 public:
  explicit ControlWidget(QWidget* parent = nullptr) : QWidget(parent) {}

  // The control it stands for; null once the control goes.
  TControl* control = nullptr;
  std::function<void(QPainter&)> paint;
  std::function<void()> click;
  bool pressed() const { return pressed_; }
  // The bounds of what the paint in progress has to cover (widget coordinates).
  const QRect& paintArea() const { return paint_area_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
  QRect paint_area_;
};

// A key press in a window's widget goes to the window's keyboard (focus.cpp);
// true when the window acted on it. GUI thread.
bool DeliverKey(QWidget* widget, QEvent* event);
// The form whose window the object is; null for anything else.
class TCustomForm;
TCustomForm* FormOfWindow(QObject* object);

namespace platform {
// Lets Qt's accessibility ask the controls and windows (accessibility.cpp).
void InstallAccessibility();
}  // namespace platform

// Qt font and colour of the framework's values.
QFont ToQFont(const TFont& font);
QColor ToQColor(TColor color);
