#pragma once

#include <vector>

#include "platform/framework/form.h"

// A window's outer frame on the desktop.
struct TWindowPlacement {
  int Top = 0, Left = 0, Width = 0, Height = 0;
  bool operator==(const TWindowPlacement&) const = default;
};

// The stored placement made usable: a width below the layout's client width is
// replaced by the layout's width, a height below its client height by the
// layout's height, and a position that puts the centre of the close button on
// none of the screens by the layout's position (top and left together).
// `close_button` is relative to the window's outer frame. Without any screen
// known the position stays.
TWindowPlacement UsablePlacement(const TWindowPlacement& stored, const TWindowPlacement& layout,
                                 int client_width, int client_height,
                                 const TScreenRect& close_button,
                                 const std::vector<TScreenRect>& screens);
