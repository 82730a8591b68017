#include "platform/framework/button.h"

#include "platform/framework/properties.h"

// The parts of the push button every toolkit shares; its drawing is in the
// toolkit's binding (qt/, win32/).

void TButton::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Invalidate();
}

TRect TButton::FocusMarkRect() const {
  return TRect{4, 4, GetWidth() - 4, GetHeight() - 4};
}

const TClassInfo& TButton::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TButton>("TButton", &TControl::StaticClassInfo())
                                     .Creatable()
                                     .Str("Caption", &TButton::GetCaption, &TButton::SetCaption)
                                     .Bool("Cancel", &TButton::GetCancel, &TButton::SetCancel)
                                     .Build();
  return info;
}
