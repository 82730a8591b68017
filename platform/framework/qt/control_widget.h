#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>
#include <functional>

#include "platform/framework/graphics.h"

class QPainter;

// The widget behind a visual control: it paints through the control's paint
// routine and reports clicks (press and release over it).
class ControlWidget : public QWidget {
 public:
  explicit ControlWidget(QWidget* parent = nullptr) : QWidget(parent) {}

  std::function<void(QPainter&)> paint;
  std::function<void()> click;
  bool pressed() const { return pressed_; }
  // The bounds of what the paint in progress has to cover (widget coordinates).
  const QRect& paintArea() const { return paint_area_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
  QRect paint_area_;
};

// Qt font and colour of the framework's values.
QFont ToQFont(const TFont& font);
QColor ToQColor(TColor color);
