#include "platform/framework/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QShowEvent>
#include <QWidget>
#include <algorithm>

#include "platform/framework/application.h"
#include "platform/framework/layout_reader.h"
#include "platform/framework/properties.h"
#include "platform/framework/qt/control_widget.h"
#include "platform/framework/toolkit_platform.h"
#include "platform/messages/messages.h"

class FormWidget : public QWidget {
 public:
  explicit FormWidget(TCustomForm* form) : form_(form) {}
  TCustomForm* form() const { return form_; }

 protected:
  bool event(QEvent* event) override {
    if (DeliverKey(this, event)) return true;
    return QWidget::event(event);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), ToQColor(form_->GetColor()));
  }
  void showEvent(QShowEvent* event) override {
    if (!event->spontaneous()) form_->DoShow();
  }
  void hideEvent(QHideEvent* event) override {
    if (!event->spontaneous()) form_->DoHide();
  }
  void closeEvent(QCloseEvent* event) override {
    // The window system asks to close: the form decides.
    event->ignore();
    form_->Close();
  }

 private:
  TCustomForm* form_;
};

TCustomForm* FormOfWindow(QObject* object) {
  auto* window = dynamic_cast<FormWidget*>(object);
  return window ? window->form() : nullptr;
}

bool DeliverKey(QWidget* widget, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* window = dynamic_cast<FormWidget*>(widget->window());
  if (!window) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  TFocusKey k = fkOther;
  bool shift = false;
  switch (key->key()) {
    case Qt::Key_Tab:
      k = fkTab;
      shift = key->modifiers() & Qt::ShiftModifier;
      break;
    case Qt::Key_Backtab:
      k = fkTab;
      shift = true;
      break;
    case Qt::Key_Space:
      k = fkSpace;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      k = fkReturn;
      break;
    case Qt::Key_Escape:
      k = fkEscape;
      break;
    default:
      break;
  }
  // A held key presses once.
  if (key->isAutoRepeat() && k != fkTab) return k != fkOther;
  return window->form()->KeyDown(k, shift);
}

void TCustomForm::FocusMoved(TControl* from, TControl* to) {
  if (from) from->Invalidate();
  if (to && to->Widget()) {
    to->Widget()->setFocus(Qt::TabFocusReason);
    to->Invalidate();
  } else if (!to && from && from->Widget()) {
    from->Widget()->clearFocus();
  }
}

void TCustomForm::Activate() {
  Widget()->raise();
  Widget()->activateWindow();
  if (TControl* c = FocusedControl()) c->Invalidate();
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  platform::EnsureToolkit();
  platform::InstallAccessibility();
  visible_ = false;
  StartWindow(new FormWidget(this));
}

TCustomForm::~TCustomForm() {
  EndWindow();
}

void TCustomForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  Widget()->setWindowTitle(QString::fromStdString(caption));
}

void TCustomForm::ApplyWindowFlags() {
  Qt::WindowFlags flags;
  switch (border_style_) {
    case bsNone:
      flags = Qt::Window | Qt::FramelessWindowHint;
      break;
    case bsToolWindow:
    case bsSizeToolWin:
      flags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
      break;
    default:
      flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
      break;
  }
  if (border_style_ != bsNone && (border_icons_ & biSystemMenu)) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (border_style_ != bsToolWindow && border_style_ != bsSizeToolWin &&
        border_style_ != bsDialog) {
      if (border_icons_ & biMinimize) flags |= Qt::WindowMinimizeButtonHint;
      if (border_icons_ & biMaximize) flags |= Qt::WindowMaximizeButtonHint;
    }
  }
  if (form_style_ == fsStayOnTop) flags |= Qt::WindowStaysOnTopHint;
  bool shown = Widget()->isVisible();
  Widget()->setWindowFlags(flags);
  PlaceWidget();
  if (shown) Widget()->show();
}

void TCustomForm::PlaceWidget() {
  QWidget* w = Widget();
  if (!w) return;
  QSize client(GetClientWidth(), GetClientHeight());
  if (border_style_ == bsSizeable || border_style_ == bsSizeToolWin) {
    w->setMinimumSize(0, 0);
    w->setMaximumSize(max_width_ > 0 ? max_width_ - FrameWidth() : QWIDGETSIZE_MAX,
                      max_height_ > 0 ? max_height_ - FrameHeight() : QWIDGETSIZE_MAX);
    w->resize(client);
  } else {
    w->setFixedSize(client);
  }
  w->move(GetLeft(), GetTop());
}

void TCustomForm::SyncFromScreen() {
  QWidget* w = Widget();
  // Where the platform does not tell, the toolkit's idea of the position is
  // only what was last asked for.
  if (!w->isVisible() || !platform::WindowPositionsKnown()) return;
  QPoint pos = w->frameGeometry().topLeft();
  TWinControl::SetBounds(pos.x(), pos.y(), GetWidth(), GetHeight());
}

void TCustomForm::ApplyPosition() {
  if (position_ != poScreenCenter && position_ != poDesktopCenter &&
      position_ != poMainFormCenter && position_ != poOwnerFormCenter)
    return;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->geometry();
  SetBounds(area.x() + (area.width() - GetWidth()) / 2,
            area.y() + (area.height() - GetHeight()) / 2, GetWidth(), GetHeight());
}

namespace {

// Windows that stay on top go above a window shown after them also where no
// window manager keeps them there.
void RaiseStayOnTopWindows() {
  if (QGuiApplication::platformName() == "offscreen") return;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && (w->windowFlags() & Qt::WindowStaysOnTopHint)) w->raise();
}

}  // namespace

void TCustomForm::SetVisible(bool v) {
  visible_ = v;
  if (HasState(csLoading)) return;  // shown once loading has ended
  if (v) {
    if (!Widget()->isVisible()) {
      ApplyPosition();
      Widget()->show();
      RaiseStayOnTopWindows();
    }
  } else {
    Widget()->hide();
  }
}

QWidget* TCustomForm::ClientWidget() const {
  return Widget();
}

HWND TCustomForm::Handle() const {
  return static_cast<HWND>(Widget()->winId());
}

std::vector<TColor> TCustomForm::ShownPixels(const TRect& area) const {
  std::vector<TColor> pixels;
  QWidget* w = Widget();
  if (!w || !w->isVisible() || area.IsEmpty()) return pixels;
  const QPoint at = w->mapTo(w->window(), QPoint(area.Left, area.Top));
  const QImage image =
      w->screen()
          ->grabWindow(w->window()->winId(), at.x(), at.y(), area.Width(), area.Height())
          .toImage();
  if (image.width() < area.Width() || image.height() < area.Height()) return pixels;
  for (int y = 0; y < area.Height(); ++y)
    for (int x = 0; x < area.Width(); ++x) {
      const QRgb c = image.pixel(x, y);
      pixels.push_back(RGB(qRed(c), qGreen(c), qBlue(c)));
    }
  return pixels;
}

std::vector<TScreenRect> ScreenRects() {
  platform::EnsureToolkit();
  std::vector<TScreenRect> rects;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect r = screen->geometry();
    rects.push_back(TScreenRect{r.x(), r.y(), r.width(), r.height()});
  }
  return rects;
}

std::string LoadResourceText(const std::string& name) {
  platform::EnsureToolkit();
  QFile file(QString::fromStdString(name));
  if (!file.open(QIODevice::ReadOnly)) throw Exception("Cannot open " + name);
  return file.readAll().toStdString();
}
