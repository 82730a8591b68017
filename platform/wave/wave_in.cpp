#include "platform/wave/wave_in.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/wave/wave_device.h"
#include "platform/wave/wave_notifier.h"

namespace platform {
namespace {

class WaveInDevice {
 public:
  WaveInDevice(DWORD kind, DWORD_PTR target, DWORD_PTR instance)
      : notifier(kind, target, instance) {}

  HWAVEIN handle = nullptr;
  UINT device_id = 0;
  WAVEFORMATEX format{};
  std::shared_ptr<AudioBackend> backend;
  WaveNotifier notifier;

  // Serialises the calls that drive the stream (start, stop, reset, close).
  // The stream is never called with `mutex` held: its data callback takes it.
  std::mutex control;
  std::unique_ptr<CaptureStream> stream;  // under `control`

  std::mutex mutex;  // everything below
  std::deque<WAVEHDR*> queue;
  bool started = false;
  bool lost = false;
  bool closed = false;  // no call is accepted any more
  std::uint64_t position = 0;

  // With `mutex` held: the header leaves the queue as done.
  void ReturnHeader(WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notifier.Post(WIM_DATA, header);
  }
  // The back-end's data: fill the queued headers in order.
  void OnData(const std::uint8_t* data, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!started || lost || closed) return;
    position += bytes;
    while (bytes > 0 && !queue.empty()) {
      WAVEHDR* header = queue.front();
      std::size_t room = header->dwBufferLength - header->dwBytesRecorded;
      std::size_t take = std::min(room, bytes);
      std::copy(data, data + take, header->lpData + header->dwBytesRecorded);
      header->dwBytesRecorded += static_cast<DWORD>(take);
      data += take;
      bytes -= take;
      if (header->dwBytesRecorded == header->dwBufferLength) {
        queue.pop_front();
        ReturnHeader(header);
      }
    }
  }

  void OnLost() {
    std::lock_guard<std::mutex> lock(mutex);
    if (lost) return;
    lost = true;
    started = false;
    while (!queue.empty()) {
      ReturnHeader(queue.front());
      queue.pop_front();
    }
  }
};

WaveHandleTable<WaveInDevice>& Table() {
  static auto* table = new WaveHandleTable<WaveInDevice>;
  return *table;
}

std::shared_ptr<WaveInDevice> Find(HWAVEIN hwi) {
  return Table().Find(reinterpret_cast<std::uintptr_t>(hwi));
}

}  // namespace
}  // namespace platform

using platform::Find;
using platform::WaveInDevice;

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
  const DWORD callback_type = flags & CALLBACK_TYPEMASK;
  if ((flags & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC)) != 0) {
    return MMSYSERR_INVALFLAG;
  }
  if (callback_type != CALLBACK_NULL && callback_type != CALLBACK_FUNCTION &&
      callback_type != CALLBACK_WINDOW) {
    return MMSYSERR_NOTSUPPORTED;
  }
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  std::shared_ptr<platform::AudioBackend> backend = platform::CurrentAudioBackend();
  if (!backend) return MMSYSERR_BADDEVICEID;
  std::vector<platform::AudioEndpoint> endpoints =
      backend->Endpoints(platform::AudioDirection::kInput);
  const platform::AudioEndpoint* endpoint = platform::ChooseEndpoint(endpoints, deviceId);
  if (endpoint == nullptr) return MMSYSERR_BADDEVICEID;
  if (!platform::DevicePcmFormat(*format)) return WAVERR_BADFORMAT;
  if ((flags & WAVE_FORMAT_QUERY) != 0) return MMSYSERR_NOERROR;
  if (phwi == nullptr) return MMSYSERR_INVALPARAM;
  if (callback_type != CALLBACK_NULL && callback == 0) return MMSYSERR_INVALPARAM;

  auto device = std::make_shared<WaveInDevice>(callback_type, callback, instance);
  device->device_id = deviceId;
  device->format = *format;
  device->backend = backend;
  platform::PcmFormat pcm = platform::ToPcmFormat(*format);
  // About 10 ms per delivery, so that headers come back without delay.
  std::size_t chunk = std::max<std::size_t>(1, pcm.rate / 100) * pcm.FrameBytes();
  WaveInDevice* raw = device.get();
  platform::CaptureCallbacks callbacks;
  callbacks.data = [raw](const std::uint8_t* data, std::size_t bytes) { raw->OnData(data, bytes); };
  callbacks.lost = [raw] { raw->OnLost(); };
  device->stream = backend->OpenCapture(endpoint->id, pcm, chunk, std::move(callbacks), nullptr);
  if (!device->stream) return MMSYSERR_NODRIVER;

  device->handle = reinterpret_cast<HWAVEIN>(platform::NewWaveHandle());
  platform::Table().Add(reinterpret_cast<std::uintptr_t>(device->handle), device);
  *phwi = device->handle;
  device->notifier.Start(device->handle);
  device->notifier.Post(WIM_OPEN, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN hwi) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::unique_lock<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if (!device->queue.empty()) return WAVERR_STILLRECORDING;
    device->closed = true;
    device->started = false;
  }
  platform::Table().Remove(reinterpret_cast<std::uintptr_t>(hwi));
  // Once the stream is gone no data or loss can arrive.
  device->stream.reset();
  // Every other call is refused from now on. Waiting for the notifications
  // with `control` held would deadlock a callback that calls waveInStop.
  control.unlock();
  device->notifier.Finish(WIM_CLOSE);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if (device->lost) return MMSYSERR_NODRIVER;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  if (device->lost) return MMSYSERR_NODRIVER;
  if (header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  header->dwBytesRecorded = 0;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  device->queue.push_back(header);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN hwi) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if (device->lost) return MMSYSERR_NODRIVER;
    if (device->started) return MMSYSERR_NOERROR;
    device->started = true;
  }
  device->stream->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN hwi) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    device->started = false;
    if (!device->queue.empty() && device->queue.front()->dwBytesRecorded > 0) {
      WAVEHDR* header = device->queue.front();
      device->queue.pop_front();
      device->ReturnHeader(header);
    }
  }
  device->stream->Stop();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN hwi) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    device->started = false;
    device->position = 0;
    while (!device->queue.empty()) {
      device->ReturnHeader(device->queue.front());
      device->queue.pop_front();
    }
  }
  device->stream->Stop();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME time, UINT size) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (time == nullptr || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if (device->lost) return MMSYSERR_NODRIVER;
  const std::uint64_t bytes = device->position;
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

MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (deviceId == nullptr) return MMSYSERR_INVALPARAM;
  *deviceId = device->device_id;
  return MMSYSERR_NOERROR;
}
