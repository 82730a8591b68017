#include "platform/wave/wave_device.h"

#include <cstring>
#include <map>

#include "platform/acm/acm_formats.h"
#include "platform/acm/msacm.h"

namespace platform {
namespace {

std::mutex table_mutex;
std::map<std::uintptr_t, std::shared_ptr<WaveDevice>>& Table() {
  static auto* table = new std::map<std::uintptr_t, std::shared_ptr<WaveDevice>>;
  return *table;
}
// Handles are never reused, so a stale handle stays invalid.
std::uintptr_t next_handle = 0x1000;

}  // namespace

bool IntegerPcmTag(const WAVEFORMATEX& f) {
  if (f.wFormatTag == WAVE_FORMAT_PCM) return true;
  if (SubFormatTag(f) != WAVE_FORMAT_PCM) return false;
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, &f, sizeof x);
  return x.wValidBitsPerSample == 0 || x.wValidBitsPerSample == f.wBitsPerSample;
}

std::vector<ChannelPosition> DeviceChannelMap(const WAVEFORMATEX& f) {
  return WaveChannelMap(f.nChannels, ExtensibleChannelMask(f));
}

bool DevicePcmFormat(const WAVEFORMATEX& f) {
  if (!IntegerPcmTag(f)) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nChannels < 1 || f.nChannels > 8) return false;
  if (f.nSamplesPerSec < 4000 || f.nSamplesPerSec > kMaxDeviceRate) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

PcmFormat ToPcmFormat(const WAVEFORMATEX& format) {
  PcmFormat pcm;
  pcm.rate = format.nSamplesPerSec;
  pcm.bits = format.wBitsPerSample;
  pcm.channels = format.nChannels;
  return pcm;
}

const AudioEndpoint* ChooseEndpoint(const std::vector<AudioEndpoint>& endpoints, UINT id) {
  if (id == WAVE_MAPPER) {
    for (const AudioEndpoint& endpoint : endpoints) {
      if (endpoint.is_default) return &endpoint;
    }
    return endpoints.empty() ? nullptr : &endpoints.front();
  }
  return id < endpoints.size() ? &endpoints[id] : nullptr;
}

MMRESULT CheckWaveHeader(const WAVEHDR* header, UINT size) {
  if (header == nullptr || size < sizeof(WAVEHDR) || header->lpData == nullptr) {
    return MMSYSERR_INVALPARAM;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT CheckWaveOpen(AudioDirection direction, UINT id, const WAVEFORMATEX* format,
                       DWORD_PTR callback, DWORD flags, DWORD more_flags, bool threads,
                       bool has_handle, std::shared_ptr<AudioBackend>* backend,
                       std::string* endpoint_id) {
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  if ((flags & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC | more_flags)) != 0) {
    return MMSYSERR_INVALFLAG;
  }
  if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION && kind != CALLBACK_WINDOW &&
      !(threads && kind == CALLBACK_THREAD)) {
    return MMSYSERR_NOTSUPPORTED;
  }
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  *backend = CurrentAudioBackend();
  if (!*backend) return MMSYSERR_BADDEVICEID;
  std::vector<AudioEndpoint> endpoints = (*backend)->Endpoints(direction);
  const AudioEndpoint* endpoint = ChooseEndpoint(endpoints, id);
  if (endpoint == nullptr) return MMSYSERR_BADDEVICEID;
  if (!DevicePcmFormat(*format)) return WAVERR_BADFORMAT;
  *endpoint_id = endpoint->id;
  if ((flags & WAVE_FORMAT_QUERY) != 0) return MMSYSERR_NOERROR;
  if (!has_handle) return MMSYSERR_INVALPARAM;
  if (kind != CALLBACK_NULL && callback == 0) return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

void* AddWaveDevice(const std::shared_ptr<WaveDevice>& device, UINT open_msg) {
  {
    std::lock_guard<std::mutex> lock(table_mutex);
    device->handle = reinterpret_cast<void*>(next_handle++);
    Table()[reinterpret_cast<std::uintptr_t>(device->handle)] = device;
  }
  device->notifier.Start(device->handle);
  device->notifier.Post(open_msg, nullptr);
  return device->handle;
}

std::shared_ptr<WaveDevice> FindWaveDevice(const void* handle) {
  std::lock_guard<std::mutex> lock(table_mutex);
  auto it = Table().find(reinterpret_cast<std::uintptr_t>(handle));
  return it == Table().end() ? nullptr : it->second;
}

MMRESULT WaveClose(const std::shared_ptr<WaveDevice>& device, MMRESULT still_queued,
                   UINT close_msg) {
  if (!device) return MMSYSERR_INVALHANDLE;
  std::unique_lock<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if (device->Queued()) return still_queued;
    device->closed = true;
  }
  {
    std::lock_guard<std::mutex> lock(table_mutex);
    Table().erase(reinterpret_cast<std::uintptr_t>(device->handle));
  }
  device->CloseStream();
  // Every other call is refused from now on. Waiting for the notifications
  // with `control` held would deadlock a callback that calls into the device.
  control.unlock();
  device->notifier.Finish(close_msg);
  return MMSYSERR_NOERROR;
}

MMRESULT WavePrepareHeader(const std::shared_ptr<WaveDevice>& device, LPWAVEHDR header, UINT size) {
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if (device->lost) return MMSYSERR_NODRIVER;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveUnprepareHeader(const std::shared_ptr<WaveDevice>& device, LPWAVEHDR header,
                             UINT size) {
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveGetPosition(const std::shared_ptr<WaveDevice>& device, LPMMTIME time, UINT size) {
  if (!device) return MMSYSERR_INVALHANDLE;
  if (time == nullptr || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if (device->lost) return MMSYSERR_NODRIVER;
  const std::uint64_t bytes = device->PositionBytes();
  switch (time->wType) {
    case TIME_SAMPLES:
      time->u.sample = static_cast<DWORD>(bytes / device->format.nBlockAlign);
      break;
    case TIME_MS:
      time->u.ms = static_cast<DWORD>(bytes * 1000 / device->format.nAvgBytesPerSec);
      break;
    default:
      time->wType = TIME_BYTES;
      time->u.cb = static_cast<DWORD>(bytes);
      break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT WaveGetID(const std::shared_ptr<WaveDevice>& device, UINT* id) {
  if (!device) return MMSYSERR_INVALHANDLE;
  if (id == nullptr) return MMSYSERR_INVALPARAM;
  *id = device->device_id;
  return MMSYSERR_NOERROR;
}

}  // namespace platform
