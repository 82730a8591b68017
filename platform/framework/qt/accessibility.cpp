#include "platform/framework/accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "platform/framework/form.h"
#include "platform/framework/qt/control_widget.h"

// The controls and windows as Qt's accessibility (AT-SPI on Linux) tells
// them to screen readers: role, name, value and the press action, all from
// what the framework's controls say of themselves.

namespace {

QAccessible::Role QtRole(TAccessibleRole role) {
  switch (role) {
    case arWindow:
      return QAccessible::Window;
    case arStaticText:
      return QAccessible::StaticText;
    case arLink:
      return QAccessible::Link;
    case arPushButton:
      return QAccessible::Button;
    case arLevelMeter:
      return QAccessible::ProgressBar;
    case arNone:
      break;
  }
  return QAccessible::NoRole;
}

// One drawn control.
class ControlAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  ControlAccessible(ControlWidget* widget, TControl* control)
      : QAccessibleWidget(widget, QtRole(control->AccessibleRole())), control_(widget) {}

  QString text(QAccessible::Text t) const override {
    const TControl* c = Control();
    if (!c) return {};
    if (t == QAccessible::Name) return QString::fromStdString(c->AccessibleName());
    if (t == QAccessible::Value) {
      TAccessibleValue v;
      return c->AccessibleValue(v) ? QString::fromStdString(v.Text) : QString();
    }
    return {};
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    const TControl* c = Control();
    if (!c) return s;
    s.focusable = c->CanFocus();
    s.focused = c->Focused() && widget()->hasFocus();
    // A button that can do nothing now (a row without a device) is unavailable.
    if (c->Pressable() && !c->CanFocus()) s.disabled = true;
    if (c->AccessibleRole() == arLevelMeter) s.readOnly = true;
    return s;
  }

  void* interface_cast(QAccessible::InterfaceType t) override {
    const TControl* c = Control();
    if (t == QAccessible::ValueInterface && c && c->AccessibleRole() == arLevelMeter)
      return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  QStringList actionNames() const override {
    const TControl* c = Control();
    if (c && c->Pressable() && c->CanFocus()) return {pressAction()};
    return {};
  }

  void doAction(const QString& name) override {
    TControl* c = Control();
    if (name != pressAction() || !c || !c->CanFocus()) return;
    for (TControl* p = c->GetParent(); p; p = p->GetParent())
      if (auto* form = dynamic_cast<TCustomForm*>(p)) return form->Press(c);
  }

  QStringList keyBindingsForAction(const QString& name) const override {
    if (name == pressAction() && !actionNames().isEmpty()) return {QStringLiteral("Space")};
    return {};
  }

  QVariant currentValue() const override { return Value().Current; }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return Value().Maximum; }
  QVariant minimumValue() const override { return Value().Minimum; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  TControl* Control() const { return control_ ? control_->control : nullptr; }
  TAccessibleValue Value() const {
    TAccessibleValue v;
    if (const TControl* c = Control()) c->AccessibleValue(v);
    return v;
  }
  QPointer<ControlWidget> control_;
};

// A window: its children are the controls a reader sees, in reading order.
class FormAccessible : public QAccessibleWidget {
 public:
  FormAccessible(QWidget* widget, const TCustomForm* form)
      : QAccessibleWidget(widget, QAccessible::Window), form_(form), widget_(widget) {}

  int childCount() const override { return static_cast<int>(Children().size()); }
  QAccessibleInterface* child(int index) const override {
    const std::vector<TControl*> children = Children();
    if (index < 0 || index >= static_cast<int>(children.size())) return nullptr;
    return QAccessible::queryAccessibleInterface(
        children[static_cast<std::size_t>(index)]->Widget());
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    const std::vector<TControl*> children = Children();
    for (std::size_t i = 0; i < children.size(); ++i)
      if (child && child->object() == children[i]->Widget()) return static_cast<int>(i);
    return -1;
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget_) return QString::fromStdString(form_->AccessibleName());
    return QAccessibleWidget::text(t);
  }

 private:
  std::vector<TControl*> Children() const {
    return widget_ ? form_->AccessibleChildren() : std::vector<TControl*>{};
  }
  const TCustomForm* form_;
  QPointer<QWidget> widget_;
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
  if (auto* widget = dynamic_cast<ControlWidget*>(object)) {
    if (widget->control && widget->control->AccessibleRole() != arNone)
      return new ControlAccessible(widget, widget->control);
    return nullptr;
  }
  if (const TCustomForm* form = FormOfWindow(object))
    return new FormAccessible(static_cast<QWidget*>(object), form);
  return nullptr;
}

bool OnGuiThread() {
  return QCoreApplication::instance() &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

std::int64_t NowUs() {
  static QElapsedTimer clock = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return clock.nsecsElapsed() / 1000;
}

void TellValue(QWidget* widget) {
  QAccessibleValueChangeEvent event(widget, QVariant());
  if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget))
    if (QAccessibleValueInterface* value = iface->valueInterface())
      event.setValue(value->currentValue());
  QAccessible::updateAccessibility(&event);
}

}  // namespace

namespace platform {

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}

void NotifyAccessibleValue(TControl* control) {
  // Values change on the GUI thread in the windows; a change elsewhere is
  // told with the next one there.
  if (!QAccessible::isActive() || !OnGuiThread() || !control->Widget()) return;
  TNotifyThrottle& throttle = control->ValueThrottle();
  const std::int64_t now = NowUs();
  switch (throttle.Changed(now)) {
    case TNotifyThrottle::taNow:
      TellValue(control->Widget());
      break;
    case TNotifyThrottle::taLater: {
      const int delay_ms =
          static_cast<int>(std::max<std::int64_t>(throttle.DueAt() - now, 0) / 1000);
      QPointer<QWidget> widget = control->Widget();
      // The timer belongs to the widget: it goes with the control.
      QTimer::singleShot(delay_ms, widget, [widget, control] {
        control->ValueThrottle().Delivered(NowUs());
        TellValue(widget);
      });
      break;
    }
    case TNotifyThrottle::taNothing:
      break;
  }
}

void NotifyAccessibleName(TControl* control) {
  if (!QAccessible::isActive() || !OnGuiThread() || !control->Widget()) return;
  QAccessibleEvent event(control->Widget(), QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

}  // namespace platform
