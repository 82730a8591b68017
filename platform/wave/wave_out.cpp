#include "platform/wave/wave_out.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/wave/wave_device.h"
#include "platform/wave/wave_notifier.h"

namespace platform {
namespace {

class WaveOutDevice {
 public:
  WaveOutDevice(DWORD kind, DWORD_PTR target, DWORD_PTR instance)
      : notifier(kind, target, instance) {}

  HWAVEOUT handle = nullptr;
  UINT device_id = 0;
  WAVEFORMATEX format{};
  std::shared_ptr<AudioBackend> backend;
  WaveNotifier notifier;

  // Serialises the calls that drive the stream. The stream is never called
  // with `mutex` held: its callbacks take it.
  std::mutex control;
  std::unique_ptr<PlaybackStream> stream;  // under `control`

  std::mutex mutex;  // everything below
  // Written and not yet wholly pulled, in order; `copied` bytes of the first
  // are with the back-end already.
  std::deque<WAVEHDR*> waiting;
  std::size_t copied = 0;
  // Wholly pulled, in order, with the stream total at which the last byte of
  // each has been consumed.
  struct Pulled {
    WAVEHDR* header;
    std::uint64_t end;
  };
  std::deque<Pulled> playing;
  std::uint64_t pulled = 0;    // bytes handed to the stream since the device opened
  std::uint64_t consumed = 0;  // of those, bytes the device has played (or a reset dropped)
  std::uint64_t origin = 0;    // `pulled` at the last reset: position 0
  bool paused = false;
  bool holding = false;  // a reset is under way: nothing is handed out
  bool lost = false;
  bool closed = false;  // no call is accepted any more

  bool Queued() const { return !waiting.empty() || !playing.empty(); }

  // With `mutex` held: the header leaves the queue as done.
  void ReturnHeader(WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notifier.Post(WOM_DONE, header);
  }

  // With `mutex` held: every queued header comes back, in order.
  void ReturnAll() {
    for (const Pulled& p : playing) ReturnHeader(p.header);
    playing.clear();
    for (WAVEHDR* header : waiting) ReturnHeader(header);
    waiting.clear();
    copied = 0;
  }

  // With `mutex` held: returns the headers that have been played.
  void ReturnPlayed() {
    while (!playing.empty() && playing.front().end <= consumed) {
      ReturnHeader(playing.front().header);
      playing.pop_front();
    }
  }

  // The back-end wants the next bytes: copied from the written headers in order.
  std::size_t OnPull(std::uint8_t* data, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed || lost || holding) return 0;
    const std::size_t frame = format.nBlockAlign;
    const std::size_t want = bytes / frame * frame;
    std::size_t got = 0;
    while (!waiting.empty()) {
      WAVEHDR* header = waiting.front();
      std::size_t take = std::min<std::size_t>(header->dwBufferLength - copied, want - got);
      std::memcpy(data + got, header->lpData + copied, take);
      got += take;
      copied += take;
      if (copied < header->dwBufferLength) break;
      waiting.pop_front();
      copied = 0;
      playing.push_back({header, pulled + got});
    }
    if (got % frame != 0) {
      // The data ends inside a frame: the rest of it is silence.
      std::size_t pad = frame - got % frame;
      std::memset(data + got, format.wBitsPerSample == 8 ? 0x80 : 0, pad);
      got += pad;
    }
    pulled += got;
    ReturnPlayed();
    return got;
  }

  void OnConsumed(std::uint64_t total) {
    std::lock_guard<std::mutex> lock(mutex);
    consumed = std::max(consumed, total);
    ReturnPlayed();
  }

  void OnLost() {
    std::lock_guard<std::mutex> lock(mutex);
    if (lost) return;
    lost = true;
    ReturnAll();
  }
};

WaveHandleTable<WaveOutDevice>& Table() {
  static auto* table = new WaveHandleTable<WaveOutDevice>;
  return *table;
}

std::shared_ptr<WaveOutDevice> Find(HWAVEOUT hwo) {
  return Table().Find(reinterpret_cast<std::uintptr_t>(hwo));
}

}  // namespace
}  // namespace platform

using platform::Find;
using platform::WaveOutDevice;

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  const DWORD callback_type = flags & CALLBACK_TYPEMASK;
  if ((flags & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC | WAVE_MAPPED)) != 0) {
    return MMSYSERR_INVALFLAG;
  }
  if (callback_type != CALLBACK_NULL && callback_type != CALLBACK_FUNCTION &&
      callback_type != CALLBACK_WINDOW && callback_type != CALLBACK_THREAD) {
    return MMSYSERR_NOTSUPPORTED;
  }
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  std::shared_ptr<platform::AudioBackend> backend = platform::CurrentAudioBackend();
  if (!backend) return MMSYSERR_BADDEVICEID;
  std::vector<platform::AudioEndpoint> endpoints =
      backend->Endpoints(platform::AudioDirection::kOutput);
  const platform::AudioEndpoint* endpoint = platform::ChooseEndpoint(endpoints, deviceId);
  if (endpoint == nullptr) return MMSYSERR_BADDEVICEID;
  if (!platform::DevicePcmFormat(*format)) return WAVERR_BADFORMAT;
  if ((flags & WAVE_FORMAT_QUERY) != 0) return MMSYSERR_NOERROR;
  if (phwo == nullptr) return MMSYSERR_INVALPARAM;
  if (callback_type != CALLBACK_NULL && callback == 0) return MMSYSERR_INVALPARAM;

  auto device = std::make_shared<WaveOutDevice>(callback_type, callback, instance);
  device->device_id = deviceId;
  device->format = *format;
  device->backend = backend;
  platform::PcmFormat pcm = platform::ToPcmFormat(*format);
  platform::PlaybackOptions options;
  options.latency_bytes =
      std::max<std::size_t>(pcm.FrameBytes(), std::size_t{pcm.rate} * platform::kWaveOutLatencyMs /
                                                  1000 * pcm.FrameBytes());
  WaveOutDevice* raw = device.get();
  platform::PlaybackCallbacks callbacks;
  callbacks.pull = [raw](std::uint8_t* data, std::size_t bytes) {
    return raw->OnPull(data, bytes);
  };
  callbacks.consumed = [raw](std::uint64_t total) { raw->OnConsumed(total); };
  callbacks.lost = [raw] { raw->OnLost(); };
  device->stream = backend->OpenPlayback(endpoint->id, pcm, options, std::move(callbacks), nullptr);
  if (!device->stream) return MMSYSERR_NODRIVER;

  device->handle = reinterpret_cast<HWAVEOUT>(platform::NewWaveHandle());
  platform::Table().Add(reinterpret_cast<std::uintptr_t>(device->handle), device);
  *phwo = device->handle;
  device->notifier.Start(device->handle);
  device->notifier.Post(WOM_OPEN, nullptr);
  std::lock_guard<std::mutex> control(device->control);
  device->stream->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::unique_lock<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if (device->Queued()) return WAVERR_STILLPLAYING;
    device->closed = true;
  }
  platform::Table().Remove(reinterpret_cast<std::uintptr_t>(hwo));
  // Once the stream is gone no callback can arrive.
  device->stream.reset();
  // Every other call is refused from now on. Waiting for the notifications
  // with `control` held would deadlock a callback that calls waveOutReset.
  control.unlock();
  device->notifier.Finish(WOM_CLOSE);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if (device->lost) return MMSYSERR_NODRIVER;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = platform::CheckWaveHeader(header, size)) return r;
  std::lock_guard<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    if (device->lost) return MMSYSERR_NODRIVER;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    device->waiting.push_back(header);
  }
  device->stream->Wake();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if (device->paused) return MMSYSERR_NOERROR;
    device->paused = true;
  }
  device->stream->Stop();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> control(device->control);
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    if (device->lost) return MMSYSERR_NODRIVER;
    if (!device->paused) return MMSYSERR_NOERROR;
    device->paused = false;
  }
  device->stream->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> control(device->control);
  bool play_on = false;
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->closed) return MMSYSERR_INVALHANDLE;
    device->holding = true;
    device->ReturnAll();
  }
  device->stream->Stop();
  device->stream->Flush();
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    // The flush counts what was dropped as consumed.
    device->consumed = std::max(device->consumed, device->pulled);
    device->origin = device->pulled;
    device->holding = false;
    play_on = !device->paused && !device->lost;
  }
  if (play_on) device->stream->Start();
  device->stream->Wake();  // headers written during the reset
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (time == nullptr || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (device->closed) return MMSYSERR_INVALHANDLE;
  if (device->lost) return MMSYSERR_NODRIVER;
  const std::uint64_t bytes =
      device->consumed > device->origin ? device->consumed - device->origin : 0;
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

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId) {
  std::shared_ptr<WaveOutDevice> device = Find(hwo);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (deviceId == nullptr) return MMSYSERR_INVALPARAM;
  *deviceId = device->device_id;
  return MMSYSERR_NOERROR;
}
