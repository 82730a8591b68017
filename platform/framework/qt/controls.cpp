#include "platform/framework/controls.h"

#include <QFile>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "platform/framework/button.h"
#include "platform/framework/properties.h"
#include "platform/framework/qt/control_widget.h"
#include "platform/framework/status_bar.h"
#include "platform/gdi/qt/gdi_painter.h"
#include "platform/messages/messages.h"

// --- widget -----------------------------------------------------------------

bool ControlWidget::event(QEvent* event) {
  if (DeliverKey(this, event)) return true;
  return QWidget::event(event);
}

void ControlWidget::paintEvent(QPaintEvent* event) {
  if (!paint) return;
  paint_area_ = event->rect();
  QPainter painter(this);
  paint(painter);
  if (control && control->ShowsFocusMark()) {
    TDeviceContext dc(&painter);
    DrawFocusMark(&dc, control->FocusMarkRect());
  }
}

void ControlWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && click) {
    pressed_ = true;
    update();
  }
}

void ControlWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  update();
  if (rect().contains(event->position().toPoint()) && click) click();
}

QFont ToQFont(const TFont& font) {
  // The layouts' bitmap dialog font is not on this desktop; the sans-serif
  // that stands in for Arial comes closest in size.
  [[maybe_unused]] static const bool substituted = [] {
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    return true;
  }();
  QFont f(QString::fromStdString(font.Name));
  if (font.Height < 0)
    f.setPixelSize(-font.Height);
  else if (font.Height > 0)
    f.setPixelSize(font.Height);
  f.setBold(font.Style & fsBold);
  f.setItalic(font.Style & fsItalic);
  f.setUnderline(font.Style & fsUnderline);
  f.setStrikeOut(font.Style & fsStrikeOut);
  return f;
}

QColor ToQColor(std::int32_t color) {
  TColor rgb = ColorToRGB(color);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// --- TControl ---------------------------------------------------------------

TControl::~TControl() {
  SetParent(nullptr);
  if (auto* w = dynamic_cast<ControlWidget*>(widget_)) w->control = nullptr;
  delete widget_;
}

void TControl::SetWidget(QWidget* widget) {
  widget_ = widget;
  if (auto* w = dynamic_cast<ControlWidget*>(widget_)) w->control = this;
  PlaceWidget();
}

void TControl::PlaceWidget() {
  if (widget_) widget_->setGeometry(left_, top_, width_, height_);
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  if (widget_ && parent_) widget_->setVisible(v);
}

void TControl::SetCursor(TCursor c) {
  if (c == cursor_) return;
  cursor_ = c;
  if (widget_) widget_->setCursor(c == crHandPoint ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TControl::ApplyFont(const TFont& font, bool from_parent) {
  parent_font_ = from_parent;
  if (font == font_) return;
  font_ = font;
  if (widget_) widget_->setFont(ToQFont(font_));
  FontChanged();
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) std::erase(parent_->controls_, this);
  parent_ = parent;
  if (parent_) {
    parent_->controls_.push_back(this);
    if (widget_) {
      widget_->setParent(parent_->ClientWidget());
      PlaceWidget();
      widget_->setVisible(visible_);
    }
    ParentFontChanged();
  } else if (widget_) {
    widget_->hide();
    widget_->setParent(nullptr);
  }
}

void TControl::Invalidate() {
  if (widget_) widget_->update();
}

// --- TWinControl ------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

// --- TLabel -----------------------------------------------------------------

TLabel::TLabel(TComponent* owner) : TControl(owner) {
  auto* w = new ControlWidget();
  // A label with a click handler serves as a link.
  w->click = [this] { Click(); };
  w->paint = [this](QPainter& p) {
    if (!transparent_) p.fillRect(Widget()->rect(), ToQColor(GetColor()));
    p.setFont(ToQFont(Font()));
    p.setPen(ToQColor(Font().Color));
    p.drawText(Widget()->rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               QString::fromStdString(caption_));
  };
  SetWidget(w);
  SetBounds(0, 0, 65, 13);
}

void TLabel::AdjustSize() {
  if (!auto_size_) return;
  QFontMetrics metrics(ToQFont(Font()));
  SetBounds(GetLeft(), GetTop(), metrics.horizontalAdvance(QString::fromStdString(caption_)),
            metrics.height());
}

// --- TImage -----------------------------------------------------------------

namespace {

// The picture's pixels, kept on the widget so that painting needs no lookup.
const char* const kPixmapProperty = "picture";

QPixmap PixmapOf(const QWidget* w) {
  return w->property(kPixmapProperty).value<QPixmap>();
}

}  // namespace

TImage::TImage(TComponent* owner) : TControl(owner) {
  auto* w = new ControlWidget();
  w->paint = [this, w](QPainter& p) {
    QPixmap pixmap = PixmapOf(w);
    if (pixmap.isNull()) return;
    if (stretch_)
      p.drawPixmap(w->rect(), pixmap);
    else
      p.drawPixmap(0, 0, pixmap);
    if (w->pressed()) p.fillRect(w->rect(), QColor(0, 0, 0, 90));
  };
  SetWidget(w);
  SetBounds(0, 0, 105, 105);
}

void TImage::SetPicture(const std::string& file) {
  if (file == picture_) return;
  QPixmap pixmap;
  if (!file.empty()) {
    QString name = QString::fromStdString(file);
    QString resource = ":/assets/" + name;
    if (!pixmap.load(QFile::exists(resource) ? resource : name))
      throw Exception("Cannot load picture " + file);
  }
  picture_ = file;
  Widget()->setProperty(kPixmapProperty, pixmap);
  Invalidate();
}

int TImage::PictureWidth() const {
  return PixmapOf(Widget()).width();
}
int TImage::PictureHeight() const {
  return PixmapOf(Widget()).height();
}

TPictureButton::TPictureButton(TComponent* owner) : TImage(owner) {
  static_cast<ControlWidget*>(Widget())->click = [this] { Click(); };
  SetCursor(crHandPoint);
}

// --- TBevel -----------------------------------------------------------------

TBevel::TBevel(TComponent* owner) : TControl(owner) {
  auto* w = new ControlWidget();
  w->setAttribute(Qt::WA_TransparentForMouseEvents);
  w->paint = [this, w](QPainter& p) {
    QColor light = ToQColor(clBtnHighlight);
    QColor shadow = ToQColor(clBtnShadow);
    QColor first = style_ == bsLowered ? shadow : light;
    QColor second = style_ == bsLowered ? light : shadow;
    int r = w->width() - 1, b = w->height() - 1;
    auto line = [&](QColor c, int x1, int y1, int x2, int y2) {
      p.setPen(c);
      p.drawLine(x1, y1, x2, y2);
    };
    switch (shape_) {
      case bsBox:
        line(first, 0, 0, r, 0);
        line(first, 0, 0, 0, b);
        line(second, r, 0, r, b);
        line(second, 0, b, r, b);
        break;
      case bsFrame:
        p.setPen(shadow);
        p.drawRect(style_ == bsLowered ? 0 : 1, style_ == bsLowered ? 0 : 1, r - 1, b - 1);
        p.setPen(light);
        p.drawRect(style_ == bsLowered ? 1 : 0, style_ == bsLowered ? 1 : 0, r - 1, b - 1);
        break;
      case bsTopLine:
        line(first, 0, 0, r, 0);
        line(second, 0, 1, r, 1);
        break;
      case bsBottomLine:
        line(first, 0, b - 1, r, b - 1);
        line(second, 0, b, r, b);
        break;
      case bsLeftLine:
        line(first, 0, 0, 0, b);
        line(second, 1, 0, 1, b);
        break;
      case bsRightLine:
        line(first, r - 1, 0, r - 1, b);
        line(second, r, 0, r, b);
        break;
      case bsSpacer:
        break;
    }
  };
  SetWidget(w);
  SetBounds(0, 0, 50, 50);
}
