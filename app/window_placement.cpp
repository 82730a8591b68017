#include "app/window_placement.h"

#include <algorithm>

TWindowPlacement UsablePlacement(const TWindowPlacement& stored, const TWindowPlacement& layout,
                                 int client_width, int client_height,
                                 const TScreenRect& close_button,
                                 const std::vector<TScreenRect>& screens) {
  TWindowPlacement result = stored;
  if (stored.Width < client_width) result.Width = layout.Width;
  if (stored.Height < client_height) result.Height = layout.Height;
  // 64-bit sums: stored values may be anything.
  const long long x = 0LL + stored.Left + close_button.Left + close_button.Width / 2;
  const long long y = 0LL + stored.Top + close_button.Top + close_button.Height / 2;
  const bool reachable =
      screens.empty() || std::any_of(screens.begin(), screens.end(), [&](const TScreenRect& s) {
        return x >= s.Left && x < 0LL + s.Left + s.Width && y >= s.Top &&
               y < 0LL + s.Top + s.Height;
      });
  if (!reachable) {
    result.Top = layout.Top;
    result.Left = layout.Left;
  }
  return result;
}
