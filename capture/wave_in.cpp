#include "capture/wave_in.h"

#include "devices/mm_strings.h"
#include "platform/framework/properties.h"

TMMWaveIn::TMMWaveIn(TComponent* owner) : TComponent(owner) {
  device_.Select(0);
}

void TMMWaveIn::SetDeviceID(TMMDeviceId id) {
  if (IsOpen()) RaiseError(LoadMMString(kMMChangeWhileOpen));
  device_.Select(id);
}

void TMMWaveIn::RaiseError(const std::string& message) {
  if (OnError) OnError(this);
  throw EMMWaveInError(message);
}

const TClassInfo& TMMWaveIn::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMWaveIn>("TMMWaveIn", &TComponent::StaticClassInfo())
          .Creatable()
          .Int("DeviceID", &TMMWaveIn::GetDeviceID, &TMMWaveIn::SetDeviceID, "TMMDeviceId")
          .Str("ProductName", &TMMWaveIn::GetProductName, &TMMWaveIn::SetProductName)
          .Event("OnError", &TMMWaveIn::OnError)
          .Build();
  return info;
}
