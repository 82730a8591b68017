#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/device_id.h"
#include "platform/wave/wave_caps.h"

// Product name of wave input device `index` (0 ... count-1, or -1 for the
// mapper), from a fresh query; empty for any other index or a failed query.
std::string WaveInDeviceName(std::int32_t index);
// The same for wave output devices.
std::string WaveOutDeviceName(std::int32_t index);
// Indexes (0 ... count-1) of the wave output devices whose product name is
// exactly `name`, in the catalogue's order; the mapper is not among them.
std::vector<std::int32_t> WaveOutDevicesNamed(const std::string& name);
// The same for wave input devices.
std::vector<std::int32_t> WaveInDevicesNamed(const std::string& name);

// The device fields of a wave input or wave output component: the device count
// taken once at construction, the selected device, its product name, driver
// version and capability record, and the last platform result. The component
// embedding it refuses a change while its device is open and then calls Select.
class TMMWaveDeviceInfo {
 public:
  // Reads the device count of the direction and selects device 0.
  explicit TMMWaveDeviceInfo(bool output);

  // Records `value` as the selected device: ProductName becomes the device's
  // name (or the no-device text when there is no such device or its query
  // fails), DriverVersion its driver version (or 0). A value below MapperId or
  // at or above NumDevs is stored as InvalidId; MapperId is kept even when
  // there are no devices.
  void Select(TMMDeviceId value);

  // Reads the device count again (a device component that must reach
  // devices that came after it was made).
  void Recount();

  bool IsOutput() const { return output_; }
  std::int32_t GetNumDevs() const { return num_devs_; }
  TMMDeviceId GetDeviceID() const { return device_id_; }
  const std::string& GetProductName() const { return product_name_; }
  std::uint32_t GetDriverVersion() const { return driver_version_; }
  MMRESULT GetLastResult() const { return last_result_; }
  // The last capability record read (zero until a query succeeded).
  const WAVEINCAPSA& InCaps() const { return in_caps_; }
  const WAVEOUTCAPSA& OutCaps() const { return out_caps_; }

 private:
  bool output_;
  std::int32_t num_devs_ = 0;
  TMMDeviceId device_id_ = 0;
  std::string product_name_;
  std::uint32_t driver_version_ = 0;
  MMRESULT last_result_ = MMSYSERR_NOERROR;
  WAVEINCAPSA in_caps_{};
  WAVEOUTCAPSA out_caps_{};
};
