#pragma once

#include <cstdint>
#include <string>

#include "devices/device_state.h"
#include "devices/wave_devices.h"
#include "platform/framework/component.h"

class EMMWaveInError : public Exception {
 public:
  using Exception::Exception;
};

// Records from one wave input device. It knows the input devices of the
// machine (their count when it was created) and which one it uses.
class TMMWaveIn : public TComponent {
 public:
  explicit TMMWaveIn(TComponent* owner);

  std::int32_t GetNumDevs() const { return device_.GetNumDevs(); }
  TMMDeviceId GetDeviceID() const { return device_.GetDeviceID(); }
  // Refused with "Change to property while device was open" while the device is open.
  void SetDeviceID(TMMDeviceId id);
  const std::string& GetProductName() const { return device_.GetProductName(); }
  // Read-only: the value a layout gives is ignored.
  void SetProductName(const std::string&) {}
  std::uint32_t GetDriverVersion() const { return device_.GetDriverVersion(); }
  // Set of TMMDeviceStateFlag; a closed device holds exactly dsClosed.
  std::uint32_t DeviceState() const { return state_; }
  bool IsOpen() const { return (state_ & dsOpen) != 0; }

  // Fires OnError, then raises EMMWaveInError with the message.
  [[noreturn]] void RaiseError(const std::string& message);

  TNotifyEvent OnError;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  TMMWaveDeviceInfo device_{false};
  std::uint32_t state_ = dsClosed;
};
