#pragma once

#include <cstdint>
#include <string>

#include "devices/device_id.h"
#include "devices/mm_types.h"
#include "stream/dsp_component.h"

// A device component: it drives the part of its chain that has no other
// device in it. Each of its notifications walks the chain (see NotifyChain)
// and ends with the base notification on the device itself.
class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  explicit TMMCustomSoundComponent(TComponent* owner) : TMMDSPComponent(owner) {}

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reset() override;
  void Looped() override;

  // What every device supplies.
  virtual void SetNumBuffers(std::int32_t value) = 0;
  virtual std::int32_t GetNumBuffers() const = 0;
  virtual void SetDeviceID(TMMDeviceId value) = 0;
  virtual TMMDeviceId GetDeviceID() const = 0;
  virtual void SetProductName(const std::string& value) = 0;
  virtual const std::string& GetProductName() const = 0;
  virtual void SetCallBackMode(TMMCBMode value) = 0;
  virtual TMMCBMode GetCallBackMode() const = 0;

  // Set by the Opened walk when another device sits upstream of this one.
  bool HasUpstreamDevice() const { return has_upstream_device_; }

 protected:
  enum TChainNotification : std::uint8_t {
    cnOpened,
    cnClosed,
    cnStarted,
    cnPaused,
    cnRestarted,
    cnStopped,
    cnReset,
    cnLooped
  };

  // The walk of one notification, then the base notification on this device:
  // - upstream search from here along Input: another device upstream makes
  //   this device the walk start (and, for Opened, sets HasUpstreamDevice),
  //   else the head of the chain is;
  // - from the walk start along Output every non-device component receives
  //   it, this device is skipped, and the first other device met receives it
  //   and ends the walk. Opened first gives each of them this device's
  //   requested BufferSize.
  // - Closed and Stopped first go to the first other device downstream of
  //   this one; the walk then stops before any other device.
  void NotifyChain(TChainNotification notification);

  // Whether a device takes CallBackMode `value`: callbacks at interrupt time
  // (cmCallback) only where the system runs them (Windows 95); otherwise the
  // user is told so in a message box captioned `caption`.
  static bool TakesCallBackMode(TMMCBMode value, const char* caption);

 private:
  static void Send(TMMDSPComponent* c, TChainNotification notification);

  bool has_upstream_device_ = false;
};

// Whether c is a device component.
inline bool IsSoundDevice(const TMMDSPComponent* c) {
  return dynamic_cast<const TMMCustomSoundComponent*>(c) != nullptr;
}
