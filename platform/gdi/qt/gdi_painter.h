#pragma once

#include "platform/gdi/gdi.h"

class QPainter;

// Device context over a painter; for the platform's widget glue only.
struct TDeviceContext {
  explicit TDeviceContext(QPainter* p);
  QPainter* painter;
  int origin_x = 0, origin_y = 0;
  TRect clip{0, 0, 1 << 20, 1 << 20};  // in origin coordinates
  bool clipped = false;
};
