#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/framework/accessibility.h"
#include "platform/framework/application.h"
#include "platform/framework/button.h"
#include "platform/framework/form.h"
#include "platform/framework/status_bar.h"
#include "platform/messages/messages.h"

namespace {

// A window with controls made out of reading order: two picture buttons in
// one line, a link above them, a plain text, a picture, a hidden button, a
// button whose row has nothing to do, and a Cancel push button.
class Window {
 public:
  Window() : form(std::make_unique<TForm>(nullptr)) {
    form->SetCaption("Keys");
    form->SetClientWidth(300);
    form->SetClientHeight(200);
    right = Add<TPictureButton>(200, 100, "Right");
    left = Add<TPictureButton>(20, 100, "Left");
    link = Add<TLabel>(20, 10, "");
    link->SetCaption("example.org");
    text = Add<TLabel>(20, 40, "");
    text->SetCaption("Just text");
    picture = Add<TImage>(0, 0, "");
    hidden = Add<TPictureButton>(20, 60, "Hidden");
    hidden->SetVisible(false);
    idle = Add<TPictureButton>(100, 100, "Play: nothing here");
    idle->SetTabStop(false);
    cancel = Add<TButton>(200, 160, "");
    cancel->SetCaption(">> Close <<");
    cancel->SetCancel(true);
    for (TControl* c : std::vector<TControl*>{right, left, link, hidden, idle, cancel})
      c->OnClick = [this](TComponent* sender) {
        clicks.push_back(static_cast<TControl*>(sender)->AccessibleName());
      };
  }
  template <class T>
  T* Add(int x, int y, const std::string& name) {
    auto* c = new T(form.get());
    c->SetBounds(x, y, 60, 30);
    c->SetParent(form.get());
    if (!name.empty()) c->SetAccessibleName(name);
    return c;
  }
  std::vector<std::string> Names(const std::vector<TControl*>& controls) const {
    std::vector<std::string> names;
    for (const TControl* c : controls) names.push_back(c->AccessibleName());
    return names;
  }

  std::unique_ptr<TForm> form;
  TPictureButton *right, *left, *hidden, *idle;
  TLabel *link, *text;
  TImage* picture;
  TButton* cancel;
  std::vector<std::string> clicks;
};

using Names = std::vector<std::string>;

TEST(KeyboardReach, RolesNamesAndWhatReadersSee) {
  platform::EnsureToolkit();
  Window w;
  EXPECT_EQ(w.form->AccessibleRole(), arWindow);
  EXPECT_EQ(w.form->AccessibleName(), "Keys");
  EXPECT_EQ(w.link->AccessibleRole(), arLink);
  EXPECT_EQ(w.text->AccessibleRole(), arStaticText);
  EXPECT_EQ(w.left->AccessibleRole(), arPushButton);
  EXPECT_EQ(w.cancel->AccessibleRole(), arPushButton);
  EXPECT_EQ(w.picture->AccessibleRole(), arNone);
  // Texts and captions name themselves; a set name replaces the caption.
  EXPECT_EQ(w.link->AccessibleName(), "example.org");
  EXPECT_EQ(w.cancel->AccessibleName(), ">> Close <<");
  w.cancel->SetAccessibleName("Close");
  EXPECT_EQ(w.cancel->AccessibleName(), "Close");
  TAccessibleValue value;
  EXPECT_FALSE(w.left->AccessibleValue(value));

  // The tree reads as the window does, without the picture and the hidden
  // button; a text named empty is left out.
  EXPECT_EQ(w.Names(w.form->AccessibleChildren()),
            (Names{"example.org", "Just text", "Left", "Play: nothing here", "Right", "Close"}));
  w.text->SetAccessibleName("");
  EXPECT_EQ(w.Names(w.form->AccessibleChildren()),
            (Names{"example.org", "Left", "Play: nothing here", "Right", "Close"}));

  // A status bar is read as the texts of its panels.
  auto* bar = w.Add<TStatusBar>(0, 180, "");
  bar->AddPanel()->SetText("Tessa");
  bar->AddPanel()->SetText("line");
  EXPECT_EQ(bar->AccessibleRole(), arStaticText);
  EXPECT_EQ(bar->AccessibleName(), "Tessa line");
  // A text without a click is no tab stop, whatever TabStop says.
  EXPECT_FALSE(w.text->CanFocus());
  EXPECT_FALSE(w.idle->CanFocus());
  EXPECT_TRUE(w.idle->Pressable());
}

TEST(KeyboardReach, TabOrderKeysAndTheFocusMark) {
  platform::EnsureToolkit();
  Window w;
  w.cancel->SetAccessibleName("Close");
  // Reading order, skipping the hidden button and the one with nothing to do.
  EXPECT_EQ(w.Names(w.form->FocusOrder()), (Names{"example.org", "Left", "Right", "Close"}));

  // The window that opens has the keyboard at its first control; no mark
  // shows before a key is pressed, so the mouse user sees the same pixels.
  const TRect link_area{20, 10, 80, 40};
  w.form->Show();
  ASSERT_TRUE(w.form->GetVisible());
  EXPECT_EQ(w.form->FocusedControl(), w.link);
  EXPECT_FALSE(w.link->ShowsFocusMark());
  WaitAndPump(50, true);
  const std::vector<TColor> unmarked = w.form->ShownPixels(link_area);
  ASSERT_FALSE(unmarked.empty());

  // Tab and Shift+Tab go round.
  const auto focused = [&] { return w.form->FocusedControl()->AccessibleName(); };
  EXPECT_TRUE(w.form->KeyDown(fkTab, false));
  EXPECT_EQ(focused(), "Left");
  EXPECT_TRUE(w.form->KeyDown(fkTab, false));
  EXPECT_TRUE(w.form->KeyDown(fkTab, false));
  EXPECT_EQ(focused(), "Close");
  EXPECT_TRUE(w.form->KeyDown(fkTab, false));
  EXPECT_EQ(focused(), "example.org");
  EXPECT_TRUE(w.form->KeyDown(fkTab, true));
  EXPECT_EQ(focused(), "Close");
  EXPECT_TRUE(w.form->KeyDown(fkTab, true));
  EXPECT_EQ(focused(), "Right");
  EXPECT_TRUE(w.right->ShowsFocusMark());
  EXPECT_FALSE(w.left->ShowsFocusMark());

  // Space and Return press the focused control once each, as a click does;
  // other keys are the toolkit's.
  EXPECT_TRUE(w.form->KeyDown(fkSpace, false));
  EXPECT_TRUE(w.form->KeyDown(fkReturn, false));
  EXPECT_FALSE(w.form->KeyDown(fkOther, false));
  EXPECT_EQ(w.clicks, (Names{"Right", "Right"}));

  // A control that can no longer be focused hands the focus on.
  w.right->SetTabStop(false);
  EXPECT_EQ(focused(), "Close");
  EXPECT_EQ(w.Names(w.form->FocusOrder()), (Names{"example.org", "Left", "Close"}));

  // Escape clicks the Cancel button wherever the focus is.
  w.form->FocusControl(w.link);
  w.clicks.clear();
  EXPECT_TRUE(w.form->KeyDown(fkEscape, false));
  EXPECT_EQ(w.clicks, (Names{"Close"}));

  // Once the keyboard is used, the focused control is marked on the screen;
  // the mark goes with the focus.
  EXPECT_TRUE(w.link->ShowsFocusMark());
  bool marked = false;
  for (int i = 0; i < 100 && !marked; ++i) {
    WaitAndPump(10, true);
    marked = w.form->ShownPixels(link_area) != unmarked;
  }
  EXPECT_TRUE(marked);
  w.form->KeyDown(fkTab, false);
  bool unmarked_again = false;
  for (int i = 0; i < 100 && !unmarked_again; ++i) {
    WaitAndPump(10, true);
    unmarked_again = w.form->ShownPixels(link_area) == unmarked;
  }
  EXPECT_TRUE(unmarked_again);

  // A window without anything to focus takes the keys and does nothing.
  TForm empty(nullptr);
  EXPECT_TRUE(empty.KeyDown(fkTab, false));
  EXPECT_EQ(empty.FocusedControl(), nullptr);
  EXPECT_FALSE(empty.KeyDown(fkSpace, false));
  EXPECT_FALSE(empty.KeyDown(fkEscape, false));
}

TEST(KeyboardReach, ValueNotificationsAtMostFourTimesASecond) {
  TNotifyThrottle throttle(kValueNotifyIntervalUs);
  // The first change is told at once.
  EXPECT_EQ(throttle.Changed(1000000), TNotifyThrottle::taNow);
  // Changes within the interval: one is scheduled for its end, the rest wait for it.
  EXPECT_EQ(throttle.Changed(1010000), TNotifyThrottle::taLater);
  EXPECT_EQ(throttle.DueAt(), 1250000);
  EXPECT_EQ(throttle.Changed(1100000), TNotifyThrottle::taNothing);
  EXPECT_EQ(throttle.Changed(1300000), TNotifyThrottle::taNothing);
  throttle.Delivered(1300000);
  // The next interval counts from the scheduled one.
  EXPECT_EQ(throttle.Changed(1400000), TNotifyThrottle::taLater);
  EXPECT_EQ(throttle.DueAt(), 1550000);
  throttle.Delivered(1550000);
  // After a quiet interval a change is told at once again.
  EXPECT_EQ(throttle.Changed(1800000), TNotifyThrottle::taNow);

  // Forty changes a second for two seconds: at most nine notifications.
  TNotifyThrottle steady(kValueNotifyIntervalUs);
  int told = 0;
  std::int64_t due = -1;
  for (std::int64_t t = 0; t <= 2000000; t += 25000) {
    if (due >= 0 && t >= due) {
      steady.Delivered(due);
      ++told;
      due = -1;
    }
    const TNotifyThrottle::TAction a = steady.Changed(t);
    if (a == TNotifyThrottle::taNow) ++told;
    if (a == TNotifyThrottle::taLater) due = steady.DueAt();
  }
  EXPECT_GE(told, 8);
  EXPECT_LE(told, 9);
}

}  // namespace
