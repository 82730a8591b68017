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

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  std::string caption_;
};
