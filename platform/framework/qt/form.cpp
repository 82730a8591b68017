#include "platform/framework/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
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

// Nominal size of a bordered window's frame (borders and caption) that the
// outer size adds to the client size.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 39;

class FormWidget : public QWidget {
 public:
  explicit FormWidget(TCustomForm* form) : form_(form) {}

 protected:
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

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  platform::EnsureToolkit();
  visible_ = false;
  SetWidget(new FormWidget(this));
  SetFont(TFont{"Arial", -11, 0, clWindowText});
  SetParentFont(false);
  SetBounds(0, 0, 320 + kFrameWidth, 240 + kFrameHeight);
  ApplyWindowFlags();
}

TCustomForm::~TCustomForm() {
  if (OnDestroy) platform::Guarded([this] { OnDestroy(this); });
  // Child controls go first, while the window they sit in still exists.
  DestroyComponents();
}

int TCustomForm::FrameWidth() const {
  return border_style_ == bsNone ? 0 : kFrameWidth;
}
int TCustomForm::FrameHeight() const {
  return border_style_ == bsNone ? 0 : kFrameHeight;
}

void TCustomForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  Widget()->setWindowTitle(QString::fromStdString(caption));
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

void TCustomForm::SyncFromScreen() {
  QWidget* w = Widget();
  // Where the platform does not tell, the toolkit's idea of the position is
  // only what was last asked for.
  if (!w->isVisible() || !platform::WindowPositionsKnown()) return;
  QPoint pos = w->frameGeometry().topLeft();
  TWinControl::SetBounds(pos.x(), pos.y(), GetWidth(), GetHeight());
}

int TCustomForm::ClientOriginX() const {
  return FrameWidth() / 2;
}
int TCustomForm::ClientOriginY() const {
  return FrameHeight() - FrameWidth() / 2;
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

void TCustomForm::DoShow() {
  visible_ = true;
  if (OnShow) platform::Guarded([this] { OnShow(this); });
}

void TCustomForm::DoHide() {
  visible_ = false;
  if (OnHide) platform::Guarded([this] { OnHide(this); });
}

void TCustomForm::Close() {
  if (closing_) return;
  closing_ = true;
  TCloseAction action = caHide;
  if (OnClose) platform::Guarded([&] { OnClose(this, action); });
  closing_ = false;
  if (action == caNone) return;
  SyncFromScreen();
  Hide();
  if (Application->MainForm() == this) Application->Terminate();
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
