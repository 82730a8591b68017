#pragma once

// What the wave input and output calls share: the formats the devices take,
// the checks of an open, the open devices by handle, and the calls that work
// the same in both directions.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/wave/wave_format_record.h"
#include "platform/wave/wave_hdr.h"
#include "platform/wave/wave_notifier.h"
#include "platform/wave/wave_types.h"

namespace platform {

// The highest rate the wave devices take, as the sound-buffer devices do.
inline constexpr DWORD kMaxDeviceRate = 200000;

// The formats both back-ends record and play: PCM, 8 or 16 bit, 1 ... 8
// channels, 4000 ... 200000 Hz, with consistent nBlockAlign and
// nAvgBytesPerSec.
// PCM as a device takes it: the plain tag, or an extensible header around
// integer PCM whose samples fill their containers. The reference reads an
// extensible header's further fields.
bool IntegerPcmTag(const WAVEFORMATEX& format);
// Where a device format's channels are heard: the speakers of an extensible
// header's channel mask, else the wave layout for the channel count.
std::vector<ChannelPosition> DeviceChannelMap(const WAVEFORMATEX& format);
bool DevicePcmFormat(const WAVEFORMATEX& format);
PcmFormat ToPcmFormat(const WAVEFORMATEX& format);

// The endpoint device number `id` names: 0 ... count-1, or WAVE_MAPPER for
// the default one (the first when none is marked). nullptr when there is none.
const AudioEndpoint* ChooseEndpoint(const std::vector<AudioEndpoint>& endpoints, UINT id);

// MMSYSERR_INVALPARAM for a null header, a size below the header's or no data.
MMRESULT CheckWaveHeader(const WAVEHDR* header, UINT size);

// The checks an open makes, in order: the flags (the callback kind,
// WAVE_FORMAT_QUERY, WAVE_ALLOWSYNC and `more_flags`), the callback kind
// (CALLBACK_NULL, CALLBACK_FUNCTION, CALLBACK_WINDOW, and CALLBACK_THREAD
// when `threads`), the format's presence, the device, the format. A query
// ends after them; an open goes on to want a handle to fill and a callback
// for its kind. On success *backend and *endpoint_id name the device.
MMRESULT CheckWaveOpen(AudioDirection direction, UINT id, const WAVEFORMATEX* format,
                       DWORD_PTR callback, DWORD flags, DWORD more_flags, bool threads,
                       bool has_handle, std::shared_ptr<AudioBackend>* backend,
                       std::string* endpoint_id);

// An open wave device of either direction.
class WaveDevice {
 public:
  WaveDevice(DWORD kind, DWORD_PTR target, DWORD_PTR instance) : notifier(kind, target, instance) {}
  virtual ~WaveDevice() = default;
  WaveDevice(const WaveDevice&) = delete;
  WaveDevice& operator=(const WaveDevice&) = delete;

  void* handle = nullptr;
  UINT device_id = 0;
  WAVEFORMATEX format{};
  std::shared_ptr<AudioBackend> backend;
  WaveNotifier notifier;

  // Serialises the calls that drive the device's stream. The stream is never
  // called with `mutex` held: its callbacks take it.
  std::mutex control;
  std::mutex mutex;  // the derived device's queue and state, and these:
  bool lost = false;
  bool closed = false;  // no call is accepted any more

  // With `mutex` held: whether headers are queued.
  virtual bool Queued() const = 0;
  // With `mutex` held: bytes recorded or played, for the position.
  virtual std::uint64_t PositionBytes() const = 0;
  // With `control` held: closes the stream; no callback runs once it returns.
  virtual void CloseStream() = 0;
};

// Gives the device a handle, lists it and notifies `open_msg`; returns the handle.
void* AddWaveDevice(const std::shared_ptr<WaveDevice>& device, UINT open_msg);
// The open device with this handle, when it is one of type Device.
std::shared_ptr<WaveDevice> FindWaveDevice(const void* handle);
template <typename Device>
std::shared_ptr<Device> FindWaveDevice(const void* handle) {
  return std::dynamic_pointer_cast<Device>(FindWaveDevice(handle));
}

// The calls that both directions make alike; a null device is an invalid
// handle. Close gives `still_queued` while headers are queued, and returns
// once every notification, `close_msg` the last, is delivered.
MMRESULT WaveClose(const std::shared_ptr<WaveDevice>& device, MMRESULT still_queued,
                   UINT close_msg);
MMRESULT WavePrepareHeader(const std::shared_ptr<WaveDevice>& device, LPWAVEHDR header, UINT size);
MMRESULT WaveUnprepareHeader(const std::shared_ptr<WaveDevice>& device, LPWAVEHDR header,
                             UINT size);
MMRESULT WaveGetPosition(const std::shared_ptr<WaveDevice>& device, LPMMTIME time, UINT size);
MMRESULT WaveGetID(const std::shared_ptr<WaveDevice>& device, UINT* id);

}  // namespace platform
