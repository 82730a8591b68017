#include "devices/wave_devices.h"

#include <cstring>

#include "devices/mm_strings.h"

namespace {

// A device number as the wave calls take it: -1 becomes the mapper.
UINT_PTR WaveId(std::int32_t index) {
  return index == MapperId ? static_cast<UINT_PTR>(WAVE_MAPPER) : static_cast<UINT_PTR>(index);
}

// The zero-terminated product name of a record; a field without terminator is
// read to its end.
std::string NameOf(const CHAR (&field)[MAXPNAMELEN]) {
  return std::string(field, strnlen(field, MAXPNAMELEN));
}

template <typename Caps, typename GetNumDevs, typename GetDevCaps>
std::string DeviceName(std::int32_t index, GetNumDevs get_num_devs, GetDevCaps get_dev_caps) {
  std::int64_t count = get_num_devs();
  if (index < MapperId || index >= count) return std::string();
  Caps caps{};
  if (get_dev_caps(WaveId(index), &caps, sizeof(caps)) != MMSYSERR_NOERROR) return std::string();
  return NameOf(caps.szPname);
}

}  // namespace

std::string WaveInDeviceName(std::int32_t index) {
  return DeviceName<WAVEINCAPSA>(index, waveInGetNumDevs, waveInGetDevCapsA);
}

std::string WaveOutDeviceName(std::int32_t index) {
  return DeviceName<WAVEOUTCAPSA>(index, waveOutGetNumDevs, waveOutGetDevCapsA);
}

namespace {

std::vector<std::int32_t> DevicesNamed(const std::string& name, UINT count,
                                       std::string (*device_name)(std::int32_t)) {
  std::vector<std::int32_t> found;
  for (UINT i = 0; i < count && i <= INT32_MAX; ++i) {
    const auto index = static_cast<std::int32_t>(i);
    if (device_name(index) == name) found.push_back(index);
  }
  return found;
}

}  // namespace

std::vector<std::int32_t> WaveOutDevicesNamed(const std::string& name) {
  return DevicesNamed(name, waveOutGetNumDevs(), WaveOutDeviceName);
}

std::vector<std::int32_t> WaveInDevicesNamed(const std::string& name) {
  return DevicesNamed(name, waveInGetNumDevs(), WaveInDeviceName);
}

TMMWaveDeviceInfo::TMMWaveDeviceInfo(bool output) : output_(output) {
  Recount();
  Select(0);
}

void TMMWaveDeviceInfo::Recount() {
  UINT count = output_ ? waveOutGetNumDevs() : waveInGetNumDevs();
  num_devs_ = count > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(count);
}

void TMMWaveDeviceInfo::Select(TMMDeviceId value) {
  product_name_ = LoadMMString(output_ ? kMMNoWaveOutDevice : kMMNoWaveInDevice);
  driver_version_ = 0;
  if (num_devs_ > 0 && value >= MapperId && value < num_devs_) {
    if (output_) {
      last_result_ = waveOutGetDevCapsA(WaveId(value), &out_caps_, sizeof(out_caps_));
      if (last_result_ == MMSYSERR_NOERROR) {
        product_name_ = NameOf(out_caps_.szPname);
        driver_version_ = out_caps_.vDriverVersion;
      }
    } else {
      last_result_ = waveInGetDevCapsA(WaveId(value), &in_caps_, sizeof(in_caps_));
      if (last_result_ == MMSYSERR_NOERROR) {
        product_name_ = NameOf(in_caps_.szPname);
        driver_version_ = in_caps_.vDriverVersion;
      }
    }
  }
  device_id_ = (value < MapperId || value >= num_devs_) ? InvalidId : value;
}
