#include "controls/level.h"
#include "platform/framework/properties.h"

namespace {

TPropInfo IndexedInt(const std::string& name, int index, int (TMMCustomLevel::*get)(int) const,
                     void (TMMCustomLevel::*set)(int, int)) {
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Integer;
  p.get = [=](const TComponent& c) -> TPropValue {
    return static_cast<std::int64_t>((static_cast<const TMMCustomLevel&>(c).*get)(index));
  };
  p.set = [=](TComponent& c, const TPropValue& v) {
    (static_cast<TMMCustomLevel&>(c).*set)(index, static_cast<int>(std::get<std::int64_t>(v)));
  };
  return p;
}

TPropInfo LevelColor(const std::string& name, int index) {
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Integer;
  p.integer_type = "TColor";
  p.get = [=](const TComponent& c) -> TPropValue {
    return static_cast<std::int64_t>(static_cast<const TMMCustomLevel&>(c).GetLevelColor(index));
  };
  p.set = [=](TComponent& c, const TPropValue& v) {
    static_cast<TMMCustomLevel&>(c).SetLevelColor(index,
                                                  static_cast<TColor>(std::get<std::int64_t>(v)));
  };
  return p;
}

}  // namespace

const TClassInfo& TMMCustomLevel::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMCustomLevel>("TMMCustomLevel", &TMMDIBGraphicControl::StaticClassInfo())
          .Build();
  return info;
}

const TClassInfo& TMMLevel::StaticClassInfo() {
  using L = TMMCustomLevel;
  static const TClassInfo info = [] {
    TClassInfo i =
        TClassInfoBuilder<L>("TMMLevel", &TMMCustomLevel::StaticClassInfo())
            .Int("Color", static_cast<TColor (L::*)() const>(&L::GetColor), &L::SetColor, "TColor")
            .Bool("Enabled", &L::GetEnabled, &L::SetEnabled)
            .Enum("Kind", {"lkHorizontal", "lkVertical"}, &L::GetKind, &L::SetKind)
            .Int("SpotSpace", &L::GetSpotSpace, &L::SetSpotSpace)
            .Int("SpotWidth", &L::GetSpotWidth, &L::SetSpotWidth)
            .Bool("InactiveDoted", &L::GetInactiveDoted, &L::SetInactiveDoted)
            .Bool("ActiveDoted", &L::GetActiveDoted, &L::SetActiveDoted)
            .Enum("Direction", {"dirNormal", "dirReversed", "dirSymetric"}, &L::GetDirection,
                  &L::SetDirection)
            .Enum("BitLength", {"b8Bit", "b16Bit"}, &L::GetBitLength, &L::SetBitLength)
            .Enum("Channel", {"chBoth", "chLeft", "chRight"}, &L::GetChannel, &L::SetChannel)
            .Enum("Mode", {"mMono", "mStereo", "mMultiChannel"}, &L::GetMode, &L::SetMode)
            .Int("Gain", &L::GetGain, &L::SetGain)
            .Int("Samples", &L::GetSamples, &L::SetSamples)
            .Int("Sensitivy", &L::GetSensitivy, &L::SetSensitivy)
            .Bool("LogAmp", &L::GetLogAmp, &L::SetLogAmp)
            .Int("NumPeaks", &L::GetNumPeaks, &L::SetNumPeaks)
            .Int("PeakDelay", &L::GetPeakDelay, &L::SetPeakDelay)
            .Int("PeakSpeed", &L::GetPeakSpeed, &L::SetPeakSpeed)
            .Enum("DecayMode", {"dmNone", "dmStepUp", "dmExponential", "dmUniform"},
                  &L::GetDecayMode, &L::SetDecayMode)
            .Int("Decay", &L::GetDecay, &L::SetDecay)
            .Int("Value", &L::GetValue, &L::SetValue)
            .Event("OnGainOverflow", &L::OnGainOverflow)
            .Event("OnPcmOverflow", &L::OnPcmOverflow)
            .Event("OnPaint", &L::OnPaint)
            .Build();
    i.create = [](TComponent* owner) -> TComponent* { return new TMMLevel(owner); };
    const char* colors[6] = {"Bar1Color",      "Bar2Color",      "Bar3Color",
                             "Inactive1Color", "Inactive2Color", "Inactive3Color"};
    for (int k = 0; k < 6; ++k) i.properties.push_back(LevelColor(colors[k], k));
    i.properties.push_back(IndexedInt("Point1", 0, &L::GetPoint, &L::SetPoint));
    i.properties.push_back(IndexedInt("Point2", 1, &L::GetPoint, &L::SetPoint));
    i.properties.push_back(IndexedInt("DCOffsetL", 0, &L::GetDCOffset, &L::SetDCOffset));
    i.properties.push_back(IndexedInt("DCOffsetR", 1, &L::GetDCOffset, &L::SetDCOffset));
    return i;
  }();
  return info;
}

void RegisterLevelControls() {
  RegisterClass(TMMLevel::StaticClassInfo());
}
