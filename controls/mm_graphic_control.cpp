#include "controls/mm_graphic_control.h"

#include "platform/framework/properties.h"

TMMGraphicControl::TMMGraphicControl(TComponent* owner)
    : TGraphicControl(owner), bevel_(new TMMBevel()) {
  SetOpaque(true);
  bevel_->OnChange = [this](TMMObject*) { BevelChanged(); };
}

TMMGraphicControl::~TMMGraphicControl() {
  delete bevel_;
}

void TMMGraphicControl::SetDesigning(bool on) {
  if (on == HasState(csDesigning)) return;
  DoSetDesigning(on);
}

void TMMGraphicControl::DoSetDesigning(bool on) {
  TComponent::SetDesigning(on);
}

void TMMGraphicControl::Paint() {
  TRect inner;
  bevel_->PaintBevel(Canvas(), Rect(0, 0, GetWidth(), GetHeight()), inner, true);
  if (!skip_background_fill_) GdiFillRect(Canvas(), inner, GetColor());
}

namespace {

TPropInfo IntProp(const std::string& name, std::function<std::int64_t(const TMMBevel&)> get,
                  std::function<void(TMMBevel&, std::int64_t)> set, std::string type = {}) {
  TPropInfo p;
  p.name = "Bevel." + name;
  p.kind = TPropKind::Integer;
  p.integer_type = std::move(type);
  p.get = [get](const TComponent& c) -> TPropValue {
    return get(*static_cast<const TMMGraphicControl&>(c).Bevel());
  };
  p.set = [set](TComponent& c, const TPropValue& v) {
    set(*static_cast<TMMGraphicControl&>(c).Bevel(), std::get<std::int64_t>(v));
  };
  return p;
}

TPropInfo EnumProp(const std::string& name, std::vector<std::string> names,
                   std::function<std::int64_t(const TMMBevel&)> get,
                   std::function<void(TMMBevel&, std::int64_t)> set) {
  TPropInfo p = IntProp(name, std::move(get), std::move(set));
  p.kind = TPropKind::Enum;
  p.names = std::move(names);
  return p;
}

}  // namespace

const TClassInfo& TMMGraphicControl::StaticClassInfo() {
  static const TClassInfo info = [] {
    TClassInfo i = TClassInfoBuilder<TMMGraphicControl>("TMMGraphicControl",
                                                        &TGraphicControl::StaticClassInfo())
                       .Build();
    const std::vector<std::string> cuts = {"bvNone", "bvLowered", "bvRaised", "bvSpace"};
    auto& p = i.properties;
    p.push_back(EnumProp(
        "BevelInner", cuts, [](const TMMBevel& b) { return b.GetBevelInner(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBevelInner(static_cast<TBevelCut>(v)); }));
    p.push_back(EnumProp(
        "BevelOuter", cuts, [](const TMMBevel& b) { return b.GetBevelOuter(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBevelOuter(static_cast<TBevelCut>(v)); }));
    p.push_back(IntProp(
        "BevelInnerWidth", [](const TMMBevel& b) { return b.GetBevelInnerWidth(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBevelInnerWidth(static_cast<int>(v)); }));
    p.push_back(IntProp(
        "BevelOuterWidth", [](const TMMBevel& b) { return b.GetBevelOuterWidth(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBevelOuterWidth(static_cast<int>(v)); }));
    p.push_back(EnumProp(
        "BorderStyle",
        {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"},
        [](const TMMBevel& b) { return b.GetBorderStyle(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBorderStyle(static_cast<TBorderStyle>(v)); }));
    p.push_back(IntProp(
        "BorderWidth", [](const TMMBevel& b) { return b.GetBorderWidth(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBorderWidth(static_cast<int>(v)); }));
    p.push_back(IntProp(
        "BorderSpace", [](const TMMBevel& b) { return b.GetBorderSpace(); },
        [](TMMBevel& b, std::int64_t v) { b.SetBorderSpace(static_cast<int>(v)); }));
    const char* colors[6] = {"BorderColor",      "BorderSpaceColor", "InnerLightColor",
                             "InnerShadowColor", "OuterLightColor",  "OuterShadowColor"};
    for (int k = 0; k < 6; ++k)
      p.push_back(IntProp(
          colors[k], [k](const TMMBevel& b) { return b.GetColor(k); },
          [k](TMMBevel& b, std::int64_t v) { b.SetColor(k, static_cast<TColor>(v)); }, "TColor"));
    return i;
  }();
  return info;
}
