#include "playback/wave_out.h"

#include "devices/mm_strings.h"
#include "platform/framework/properties.h"

TMMWaveOut::TMMWaveOut(TComponent* owner) : TComponent(owner) {
  device_.Select(0);
}

void TMMWaveOut::SetDeviceID(TMMDeviceId id) {
  if (IsOpen()) RaiseError(LoadMMString(kMMChangeWhileOpen));
  device_.Select(id);
}

void TMMWaveOut::RaiseError(const std::string& message) {
  if (OnError) OnError(this);
  throw EMMWaveOutError(message);
}

const TClassInfo& TMMWaveOut::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMWaveOut>("TMMWaveOut", &TComponent::StaticClassInfo())
          .Creatable()
          .Int("DeviceID", &TMMWaveOut::GetDeviceID, &TMMWaveOut::SetDeviceID, "TMMDeviceId")
          .Str("ProductName", &TMMWaveOut::GetProductName, &TMMWaveOut::SetProductName)
          .Event("OnError", &TMMWaveOut::OnError)
          .Build();
  return info;
}
