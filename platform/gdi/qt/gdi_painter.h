#pragma once

#include "platform/gdi/gdi.h"

class QPainter;

// Device context over a painter; for the platform's widget glue only.
struct TDeviceContext : TDeviceContextState {
  explicit TDeviceContext(QPainter* p);
  QPainter* painter;
};
