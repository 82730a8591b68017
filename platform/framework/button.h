#pragma once

#include <string>

#include "platform/framework/controls.h"

// A push button: a raised face with a centred caption that looks pressed
// while held and clicks when released over it.
class TButton : public TControl {
 public:
  explicit TButton(TComponent* owner);

  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& caption);
  // Escape in its window clicks a Cancel button.
  bool GetCancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }

  TAccessibleRole AccessibleRole() const override { return arPushButton; }
  // Inside the raised edges, as push buttons mark their focus.
  TRect FocusMarkRect() const override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  std::string DefaultAccessibleName() const override { return caption_; }

 private:
  std::string caption_;
  bool cancel_ = false;
};
