#pragma once

#include <cstdint>
#include <string>

#include "platform/gdi/gdi.h"

class TControl;

// What a screen reader is told a control is. Each control class says its
// role once (TControl::AccessibleRole); every binding answers its desktop's
// accessibility interface from it.
enum TAccessibleRole {
  arNone,        // decoration: left out of the accessible tree
  arWindow,      // a top-level window
  arStaticText,  // text to read
  arLink,        // text that opens something when pressed
  arPushButton,  // pressed by a click, Space or Return
  arLevelMeter,  // a level with a minimum and a maximum
};

// A control's current value as a reader is told it.
struct TAccessibleValue {
  double Current = 0;
  double Minimum = 0;
  double Maximum = 0;
  // The value in words, such as "54%".
  std::string Text;
};

// The keys the windows act on; others are left to the toolkit.
enum TFocusKey { fkOther, fkTab, fkSpace, fkReturn, fkEscape };

// Lets value-change notifications through at most once per interval: the
// first change is told at once, further changes within the interval are told
// once, when the interval has passed, with the value of that moment.
class TNotifyThrottle {
 public:
  enum TAction { taNow, taLater, taNothing };
  explicit TNotifyThrottle(std::int64_t interval_us) : interval_us_(interval_us) {}
  // A change at now_us (a monotonic clock): notify now, schedule one
  // notification for DueAt() (Delivered then follows), or nothing because one
  // is scheduled already.
  TAction Changed(std::int64_t now_us);
  std::int64_t DueAt() const { return last_us_ + interval_us_; }
  // The scheduled notification was given at now_us.
  void Delivered(std::int64_t now_us);

 private:
  std::int64_t interval_us_;
  std::int64_t last_us_ = 0;
  bool told_ = false;
  bool scheduled_ = false;
};

// How often a reader hears of a moving value: at most four times a second.
inline constexpr std::int64_t kValueNotifyIntervalUs = 250000;

// Draws the keyboard focus mark of a control: a one-pixel dotted rectangle
// (rect's right and bottom edges excluded) whose dots alternate white and
// black, so that it shows on the black window, the gray one and button faces.
void DrawFocusMark(HDC dc, const TRect& rect);

namespace platform {
// The binding's part: tells readers that the control's value changed (the
// control has throttled it already). GUI thread; nothing while no reader
// listens.
void NotifyAccessibleValue(TControl* control);
// The binding's part: tells readers that a control's name changed.
void NotifyAccessibleName(TControl* control);
}  // namespace platform
