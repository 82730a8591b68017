#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/framework/application.h"
#include "platform/framework/component.h"
#include "platform/framework/layout_reader.h"
#include "platform/framework/properties.h"
#include "platform/framework/status_bar.h"

namespace {

std::vector<std::string> journal;

// A component that writes every property change, notification and Loaded
// call into the journal.
class TProbe : public TComponent {
 public:
  explicit TProbe(TComponent* owner) : TComponent(owner) {}
  ~TProbe() override { journal.push_back("destroy " + GetName()); }

  int GetValue() const { return value_; }
  void SetValue(int v) {
    value_ = v;
    journal.push_back(GetName() + ".Value=" + std::to_string(v));
  }
  double GetGain() const { return gain_; }
  void SetGain(double g) { gain_ = g; }
  TProbe* GetLink() const { return link_; }
  void SetLink(TProbe* p) {
    link_ = p;
    // The target must be complete: its value was already read.
    journal.push_back(
        GetName() + ".Link=" + (p ? p->GetName() + "(" + std::to_string(p->value_) + ")" : "nil"));
  }
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == link_) {
      link_ = nullptr;
      journal.push_back(GetName() + " dropped link to " + c->GetName());
    }
  }
  void Loaded() override {
    TComponent::Loaded();
    journal.push_back("loaded " + GetName());
  }
  TNotifyEvent OnPing;

  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TProbe>("TProbe", &TComponent::StaticClassInfo())
            .Creatable()
            .Int("Value", &TProbe::GetValue, &TProbe::SetValue)
            .Float("Gain", &TProbe::GetGain, &TProbe::SetGain)
            .Ref("Link", &TProbe::GetLink, &TProbe::SetLink)
            .Event("OnPing", &TProbe::OnPing)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  int value_ = 0;
  double gain_ = 0;
  TProbe* link_ = nullptr;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    journal.clear();
    RegisterClass(TProbe::StaticClassInfo());
  }
};

std::string ErrorOf(TComponent& root, const std::string& text) {
  try {
    ReadLayout(root, text);
  } catch (const ELayoutError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(FrameworkTest, OwnerDestroysOwnedAndNotifiesTheRest) {
  auto* root = new TProbe(nullptr);
  root->SetName("Root");
  auto* a = new TProbe(root);
  a->SetName("A");
  auto* b = new TProbe(root);
  b->SetName("B");
  b->SetLink(a);
  EXPECT_EQ(root->ComponentCount(), 2);
  EXPECT_EQ(root->FindComponent("a"), a);  // letter case ignored
  EXPECT_THROW(b->SetName("A"), EComponentError);

  journal.clear();
  delete a;
  EXPECT_EQ(b->GetLink(), nullptr);
  EXPECT_EQ(root->ComponentCount(), 1);
  EXPECT_EQ(journal, (std::vector<std::string>{"destroy A", "B dropped link to A"}));

  // A component of another owner that asked to be told hears of it too.
  auto* other = new TProbe(nullptr);
  other->SetName("Other");
  other->SetLink(b);
  other->FreeNotification(b);
  journal.clear();
  delete root;
  EXPECT_EQ(other->GetLink(), nullptr);
  EXPECT_EQ(journal,
            (std::vector<std::string>{"destroy Root", "destroy B", "Other dropped link to B"}));
  delete other;
}

TEST_F(FrameworkTest, LayoutAppliesInOrderResolvesReferencesLastThenLoads) {
  TProbe root(nullptr);
  int pings = 0;
  root.PublishMethod("Ping", [&](TComponent*) { ++pings; });
  ReadLayout(root,
             "object Root: TProbe\n"
             "  Value = 1\n"
             "  // a comment\n"
             "  object First: TProbe\n"
             "    Link = Second\n"
             "    Value = 2\n"
             "    Value = 3\n"
             "    OnPing = Ping\n"
             "    Gain = -2.5E1\n"
             "  end\n"
             "  object Second: TProbe\n"
             "    Value = $10\n"
             "    Gain = 3\n"
             "    Link = root\n"
             "  end\n"
             "end\n");
  EXPECT_EQ(journal, (std::vector<std::string>{"Root.Value=1", "First.Value=2", "First.Value=3",
                                               "Second.Value=16", "First.Link=Second(16)",
                                               "Second.Link=Root(1)", "loaded Root", "loaded First",
                                               "loaded Second"}));
  auto* first = root.FindAs<TProbe>("First");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetOwner(), &root);
  EXPECT_FALSE(first->HasState(csLoading));
  ASSERT_TRUE(first->OnPing);
  first->OnPing(first);
  EXPECT_EQ(pings, 1);
  EXPECT_EQ(ReadPropertyText(*first, "Link"), "Second");
  // Decimal numbers, also whole ones, and back as the shortest exact text.
  EXPECT_EQ(first->GetGain(), -25.0);
  EXPECT_EQ(ReadPropertyText(*first, "Gain"), "-25");
  EXPECT_EQ(root.FindAs<TProbe>("Second")->GetGain(), 3.0);
  first->SetGain(0.1);
  EXPECT_EQ(ReadPropertyText(*first, "Gain"), "0.1");
  EXPECT_EQ(GetComponentProperty(*first, "link"), root.FindComponent("Second"));

  // A collection's items each take their own assignments; items written again
  // replace those it held.
  platform::EnsureToolkit();
  RegisterStandardControls();
  TProbe holder(nullptr);
  ReadLayout(holder,
             "object Holder: TProbe\n"
             "  object Bar: TStatusBar\n"
             "    Width = 225\n"
             "    Panels = <\n"
             "      item\n"
             "        Text = 'One'\n"
             "        Width = 50\n"
             "      end\n"
             "      item\n"
             "        Alignment = taCenter\n"
             "        Text = 'It''s two'\n"
             "      end>\n"
             "  end\n"
             "  object Emptied: TStatusBar\n"
             "    Panels = <\n"
             "      item\n"
             "      end>\n"
             "    Panels = <>\n"
             "  end\n"
             "end\n");
  auto* bar = holder.FindAs<TStatusBar>("Bar");
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->PanelCount(), 2);
  EXPECT_EQ(bar->Panels(0)->GetText(), "One");
  EXPECT_EQ(bar->Panels(0)->GetAlignment(), taLeftJustify);
  EXPECT_EQ(bar->Panels(1)->GetText(), "It's two");
  EXPECT_EQ(bar->Panels(1)->GetAlignment(), taCenter);
  EXPECT_EQ(ReadPropertyText(*bar, "Panels"), "<2 items>");
  // Side by side with a gap; the last panel reaches the bar's right edge.
  EXPECT_EQ(bar->PanelRight(0), 50);
  EXPECT_EQ(bar->PanelLeft(1), 52);
  EXPECT_EQ(bar->PanelRight(1), 225);
  EXPECT_EQ(holder.FindAs<TStatusBar>("Emptied")->PanelCount(), 0);
}

TEST_F(FrameworkTest, LayoutErrorsNameTheLine) {
  TProbe a(nullptr);
  EXPECT_EQ(ErrorOf(a, "object A: TProbe\n  object B: TNoSuchClass\n  end\nend\n"),
            "Layout line 2: unknown class TNoSuchClass");
  TProbe b(nullptr);
  EXPECT_EQ(ErrorOf(b, "object A: TProbe\n\n  Colour = 3\nend\n"),
            "Layout line 3: unknown property Colour of class TProbe");
  TProbe c(nullptr);
  EXPECT_EQ(ErrorOf(c, "object A: TProbe\n  Link = Nobody\nend\n"),
            "Layout line 2: component Nobody not found");
  TProbe d(nullptr);
  EXPECT_EQ(ErrorOf(d, "object A: TProbe\n  Value = 'text'\nend\n"),
            "Layout line 2: invalid value for property Value");
  TProbe e(nullptr);
  EXPECT_EQ(ErrorOf(e, "object A: TProbe\n  Value = 1\n"), "Layout line 1: missing 'end' of A");
  TProbe f(nullptr);
  EXPECT_EQ(ErrorOf(f, "object A: TOther\nend\n"),
            "Layout line 1: class TOther does not match TProbe");
  TProbe g(nullptr);
  EXPECT_EQ(ErrorOf(g, "object A: TProbe\n  OnPing = Missing\nend\n"),
            "Layout line 2: Method 'Missing' not found for OnPing");
  TProbe h(nullptr);
  EXPECT_EQ(ErrorOf(h, "object A: TProbe\n  Value = 99999999999999999999\nend\n"),
            "Layout line 2: invalid number 99999999999999999999");
  // A fraction is no integer; a decimal number must be one, and finite.
  for (const auto& [line, error] : std::vector<std::pair<std::string, std::string>>{
           {"Value = 1.5", "invalid value for property Value"},
           {"Gain = 1.2.3", "invalid number 1.2.3"},
           {"Gain = 1e999", "invalid number 1e999"},
           {"Gain = +-1.5", "invalid number +-1.5"},
           {"Gain = 'loud'", "invalid value for property Gain"}}) {
    TProbe probe(nullptr);
    EXPECT_EQ(ErrorOf(probe, "object A: TProbe\n  " + line + "\nend\n"), "Layout line 2: " + error);
  }

  // Collections.
  platform::EnsureToolkit();
  RegisterStandardControls();
  const auto collection_error = [](const std::string& items) {
    TProbe root(nullptr);
    return ErrorOf(root, "object A: TProbe\n  object B: TStatusBar\n    Panels = <\n" + items);
  };
  EXPECT_EQ(collection_error("      item\n      end\n  end\nend\n"),
            "Layout line 6: 'end' without 'item'");
  EXPECT_EQ(collection_error("      item\n      end\n"), "Layout line 3: missing '>' of Panels");
  EXPECT_EQ(collection_error("      Text = 'x'\n"), "Layout line 4: expected 'item'");
  EXPECT_EQ(collection_error("      item\n      item\n"), "Layout line 5: expected 'end' of item");
  EXPECT_EQ(collection_error("      item\n        Inner = <\n"),
            "Layout line 5: collections cannot be nested");
  EXPECT_EQ(collection_error("      item\n        Colour = 1\n      end>\n  end\nend\n"),
            "Layout line 5: unknown property Colour of class TStatusPanel");
  TProbe i(nullptr);
  EXPECT_EQ(ErrorOf(i, "object A: TProbe\n  Value = <>\nend\n"),
            "Layout line 2: invalid value for property Value");
  TProbe j(nullptr);
  EXPECT_EQ(ErrorOf(j, "object A: TProbe\n  object B: TStatusBar\n    Panels = 3\n  end\nend\n"),
            "Layout line 3: invalid value for property Panels");
}

}  // namespace
