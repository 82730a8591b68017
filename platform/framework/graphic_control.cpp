#include "platform/framework/graphic_control.h"

#include "platform/framework/properties.h"
#include "platform/messages/messages.h"

// The parts of the drawn controls every toolkit shares; painting on the screen
// is in the toolkit's binding (qt/, win32/).

void TGraphicControl::RunPaint(HDC dc, const std::function<void()>& routine) {
  HDC previous = canvas_;
  canvas_ = dc;
  try {
    routine();
  } catch (const std::exception& e) {
    canvas_ = previous;
    platform::ShowException(e);
    return;
  }
  canvas_ = previous;
}

void TGraphicControl::PaintTo(HDC dc) {
  RunPaint(dc, [this] { Paint(); });
}

const TClassInfo& TGraphicControl::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TGraphicControl>("TGraphicControl", &TControl::StaticClassInfo()).Build();
  return info;
}
