#pragma once

// What the wave input and output calls share: the formats the devices take,
// the choice of an endpoint for a device number, and the table of open
// device handles.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/wave/wave_format_record.h"
#include "platform/wave/wave_hdr.h"
#include "platform/wave/wave_types.h"

namespace platform {

// The formats both back-ends record and play: PCM, 8 or 16 bit, 1 ... 8
// channels, 4000 ... 100000 Hz, with consistent nBlockAlign and
// nAvgBytesPerSec.
bool DevicePcmFormat(const WAVEFORMATEX& format);
PcmFormat ToPcmFormat(const WAVEFORMATEX& format);

// The endpoint device number `id` names: 0 ... count-1, or WAVE_MAPPER for
// the default one (the first when none is marked). nullptr when there is none.
const AudioEndpoint* ChooseEndpoint(const std::vector<AudioEndpoint>& endpoints, UINT id);

// MMSYSERR_INVALPARAM for a null header, a size below the header's or no data.
MMRESULT CheckWaveHeader(const WAVEHDR* header, UINT size);

// A fresh handle value; handles are never reused, so a stale one stays invalid.
std::uintptr_t NewWaveHandle();

// The open devices of one kind, by handle. Thread-safe.
template <typename Device>
class WaveHandleTable {
 public:
  void Add(std::uintptr_t handle, std::shared_ptr<Device> device) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[handle] = std::move(device);
  }
  std::shared_ptr<Device> Find(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : it->second;
  }
  void Remove(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.erase(handle);
  }

 private:
  std::mutex mutex_;
  std::map<std::uintptr_t, std::shared_ptr<Device>> devices_;
};

}  // namespace platform
