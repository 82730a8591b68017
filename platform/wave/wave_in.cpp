#include "platform/wave/wave_in.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/audio_backend.h"
#include "platform/wave/standin.h"
#include "platform/wave/wave_device.h"

namespace platform {
namespace {

class WaveInDevice : public WaveDevice {
 public:
  using WaveDevice::WaveDevice;

  std::unique_ptr<CaptureStream> stream;  // under `control`
  bool held_asked = false;                // under `control`
  // Under `mutex`:
  std::deque<WAVEHDR*> queue;
  bool started = false;
  std::uint64_t position = 0;  // bytes delivered
  std::uint64_t recorded = 0;  // bytes the device had recorded at its last report

  bool Queued() const override { return !queue.empty(); }
  // What the device has recorded, as far as known: the delivered bytes, or
  // more where the back-end told of bytes still on their way.
  std::uint64_t PositionBytes() const override { return std::max(position, recorded); }
  void CloseStream() override { stream.reset(); }

  // With `mutex` held: the header leaves the queue as done. A full one goes
  // to a window with its next frame tick; the rest (stop, reset, a lost
  // device) at once.
  void ReturnHeader(WAVEHDR* header, bool full = false) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (full)
      notifier.PostData(WIM_DATA, header);
    else
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
        ReturnHeader(header, true);
      }
    }
  }

  void OnHeld(std::uint64_t in_device) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!started || lost || closed) return;
    recorded = position + in_device;
  }

  // The position is asked for: from now on the back-end tells what the device
  // holds (the first answer may still count only what was delivered).
  void AskHeld() {
    std::lock_guard<std::mutex> lock(control);
    if (!stream || held_asked) return;
    held_asked = true;
    stream->ReportHeld();
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

std::shared_ptr<WaveInDevice> Find(HWAVEIN hwi) {
  return FindWaveDevice<WaveInDevice>(hwi);
}

}  // namespace
}  // namespace platform

namespace platform::standin {

using platform::Find;
using platform::WaveInDevice;

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
  std::shared_ptr<platform::AudioBackend> backend;
  std::string endpoint_id;
  MMRESULT checked =
      platform::CheckWaveOpen(platform::AudioDirection::kInput, deviceId, format, callback, flags,
                              0, false, phwi != nullptr, &backend, &endpoint_id);
  if (checked != MMSYSERR_NOERROR || (flags & WAVE_FORMAT_QUERY) != 0) return checked;

  auto device = std::make_shared<WaveInDevice>(flags & CALLBACK_TYPEMASK, callback, instance);
  device->device_id = deviceId;
  device->format = *format;
  device->backend = backend;
  platform::PcmFormat pcm = platform::ToPcmFormat(*format);
  // About 10 ms per delivery, so that headers come back without delay.
  std::size_t chunk = std::max<std::size_t>(1, pcm.rate / 100) * pcm.FrameBytes();
  WaveInDevice* raw = device.get();
  platform::CaptureCallbacks callbacks;
  callbacks.data = [raw](const std::uint8_t* data, std::size_t bytes) { raw->OnData(data, bytes); };
  callbacks.held = [raw](std::uint64_t in_device) { raw->OnHeld(in_device); };
  callbacks.lost = [raw] { raw->OnLost(); };
  device->stream = backend->OpenCapture(endpoint_id, pcm, chunk, std::move(callbacks), nullptr);
  if (!device->stream) return MMSYSERR_NODRIVER;
  *phwi = static_cast<HWAVEIN>(platform::AddWaveDevice(device, WIM_OPEN));
  return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN hwi) {
  return platform::WaveClose(Find(hwi), WAVERR_STILLRECORDING, WIM_CLOSE);
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::WavePrepareHeader(Find(hwi), header, size);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  return platform::WaveUnprepareHeader(Find(hwi), header, size);
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
    device->recorded = 0;
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
  if (device) device->AskHeld();
  return platform::WaveGetPosition(device, time, size);
}

MMRESULT waveInGetID(HWAVEIN hwi, UINT* deviceId) {
  return platform::WaveGetID(Find(hwi), deviceId);
}

}  // namespace platform::standin
