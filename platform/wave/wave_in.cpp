#include "platform/wave/wave_in.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/messages/messages.h"

namespace platform {
namespace {

bool IsMapper(UINT id) {
  return id == WAVE_MAPPER;
}

// The formats both back-ends record.
bool RecordableFormat(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nChannels < 1 || f.nChannels > 8) return false;
  if (f.nSamplesPerSec < 4000 || f.nSamplesPerSec > 100000) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

struct Notice {
  UINT msg;
  WAVEHDR* header;
};

class WaveInDevice : public std::enable_shared_from_this<WaveInDevice> {
 public:
  HWAVEIN handle = nullptr;
  UINT device_id = 0;
  WAVEFORMATEX format{};
  DWORD callback_type = CALLBACK_NULL;
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  std::shared_ptr<AudioBackend> backend;

  // Serialises the calls that drive the stream (start, stop, reset, close).
  // The stream is never called with `mutex` held: its data callback takes it.
  std::mutex control;
  std::unique_ptr<CaptureStream> stream;  // under `control`

  std::mutex mutex;  // everything below
  std::deque<WAVEHDR*> queue;
  std::deque<Notice> notices;
  std::condition_variable notice_ready;
  bool started = false;
  bool lost = false;
  bool closed = false;    // no call is accepted any more
  bool finished = false;  // the notification thread may end once the notices are out
  std::uint64_t position = 0;
  std::thread notifier;
  std::thread::id notifier_id;

  // With `mutex` held: the header leaves the queue as done.
  void ReturnHeader(WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(WIM_DATA, header);
  }
  void Notify(UINT msg, WAVEHDR* header) {
    notices.push_back({msg, header});
    notice_ready.notify_one();
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

  void Deliver(const Notice& notice) {
    if (callback_type == CALLBACK_FUNCTION) {
      reinterpret_cast<WAVECALLBACK>(callback)(handle, notice.msg, instance,
                                               reinterpret_cast<DWORD_PTR>(notice.header), 0);
    } else if (callback_type == CALLBACK_WINDOW) {
      PostMessage(static_cast<HWND>(callback), notice.msg, reinterpret_cast<WPARAM>(handle),
                  reinterpret_cast<LPARAM>(notice.header));
    }
  }

  // Delivers notices until there are none and the device is finished.
  void RunNotifier() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      notice_ready.wait(lock, [this] { return !notices.empty() || finished; });
      if (notices.empty()) return;
      Notice notice = notices.front();
      notices.pop_front();
      lock.unlock();
      Deliver(notice);
      lock.lock();
    }
  }

  // With `mutex` held: the notices still waiting, delivered on this thread.
  void DrainHere(std::unique_lock<std::mutex>& lock) {
    while (!notices.empty()) {
      Notice notice = notices.front();
      notices.pop_front();
      lock.unlock();
      Deliver(notice);
      lock.lock();
    }
  }
};

std::mutex table_mutex;
std::map<std::uintptr_t, std::shared_ptr<WaveInDevice>>& Table() {
  static auto* table = new std::map<std::uintptr_t, std::shared_ptr<WaveInDevice>>;
  return *table;
}
// Handles are never reused, so a stale handle stays invalid.
std::uintptr_t next_handle = 0x1000;

std::shared_ptr<WaveInDevice> Find(HWAVEIN hwi) {
  std::lock_guard<std::mutex> lock(table_mutex);
  auto it = Table().find(reinterpret_cast<std::uintptr_t>(hwi));
  return it == Table().end() ? nullptr : it->second;
}

MMRESULT CheckHeader(LPWAVEHDR header, UINT size) {
  if (header == nullptr || size < sizeof(WAVEHDR) || header->lpData == nullptr) {
    return MMSYSERR_INVALPARAM;
  }
  return MMSYSERR_NOERROR;
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
  const platform::AudioEndpoint* endpoint = nullptr;
  if (platform::IsMapper(deviceId)) {
    for (const auto& e : endpoints) {
      if (e.is_default) {
        endpoint = &e;
        break;
      }
    }
    if (endpoint == nullptr && !endpoints.empty()) endpoint = &endpoints.front();
  } else if (deviceId < endpoints.size()) {
    endpoint = &endpoints[deviceId];
  }
  if (endpoint == nullptr) return MMSYSERR_BADDEVICEID;
  if (!platform::RecordableFormat(*format)) return WAVERR_BADFORMAT;
  if ((flags & WAVE_FORMAT_QUERY) != 0) return MMSYSERR_NOERROR;
  if (phwi == nullptr) return MMSYSERR_INVALPARAM;
  if (callback_type != CALLBACK_NULL && callback == 0) return MMSYSERR_INVALPARAM;

  auto device = std::make_shared<WaveInDevice>();
  device->device_id = deviceId;
  device->format = *format;
  device->callback_type = callback_type;
  device->callback = callback;
  device->instance = instance;
  device->backend = backend;
  platform::PcmFormat pcm;
  pcm.rate = format->nSamplesPerSec;
  pcm.bits = format->wBitsPerSample;
  pcm.channels = format->nChannels;
  // About 10 ms per delivery, so that headers come back without delay.
  std::size_t chunk = std::max<std::size_t>(1, pcm.rate / 100) * pcm.FrameBytes();
  WaveInDevice* raw = device.get();
  platform::CaptureCallbacks callbacks;
  callbacks.data = [raw](const std::uint8_t* data, std::size_t bytes) { raw->OnData(data, bytes); };
  callbacks.lost = [raw] { raw->OnLost(); };
  device->stream = backend->OpenCapture(endpoint->id, pcm, chunk, std::move(callbacks), nullptr);
  if (!device->stream) return MMSYSERR_NODRIVER;

  {
    std::lock_guard<std::mutex> lock(platform::table_mutex);
    device->handle = reinterpret_cast<HWAVEIN>(platform::next_handle++);
    platform::Table()[reinterpret_cast<std::uintptr_t>(device->handle)] = device;
  }
  *phwi = device->handle;
  // The notification thread keeps the device alive until it ends.
  std::lock_guard<std::mutex> lock(device->mutex);
  device->notifier = std::thread([device] { device->RunNotifier(); });
  device->notifier_id = device->notifier.get_id();
  device->Notify(WIM_OPEN, nullptr);
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
  {
    std::lock_guard<std::mutex> lock(platform::table_mutex);
    platform::Table().erase(reinterpret_cast<std::uintptr_t>(hwi));
  }
  // Once the stream is gone no data or loss can arrive.
  device->stream.reset();
  // Every other call is refused from now on. Waiting for the notifications
  // with `control` held would deadlock a callback that calls waveInStop.
  control.unlock();
  std::thread notifier;
  {
    std::unique_lock<std::mutex> lock(device->mutex);
    device->Notify(WIM_CLOSE, nullptr);
    if (std::this_thread::get_id() == device->notifier_id) {
      // Closed from inside a notification: deliver the rest here; the thread
      // ends when the notification in progress returns.
      device->DrainHere(lock);
      device->finished = true;
      device->notifier.detach();
      return MMSYSERR_NOERROR;
    }
    device->finished = true;
    device->notice_ready.notify_one();
    notifier = std::move(device->notifier);
  }
  notifier.join();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckHeader(header, size)) return r;
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
  if (MMRESULT r = platform::CheckHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveInDevice> device = Find(hwi);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckHeader(header, size)) return r;
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
