#include "platform/wave/wave_out.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/audio_backend.h"
#include "platform/wave/standin.h"
#include "platform/wave/wave_device.h"

namespace platform {
namespace {

class WaveOutDevice : public WaveDevice {
 public:
  using WaveDevice::WaveDevice;

  std::unique_ptr<PlaybackStream> stream;  // under `control`

  // Under `mutex`:
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

  bool Queued() const override { return !waiting.empty() || !playing.empty(); }
  std::uint64_t PositionBytes() const override { return consumed > origin ? consumed - origin : 0; }
  void CloseStream() override { stream.reset(); }

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

std::shared_ptr<WaveOutDevice> Find(HWAVEOUT hwo) {
  return FindWaveDevice<WaveOutDevice>(hwo);
}

}  // namespace
}  // namespace platform

namespace platform::standin {

using platform::Find;
using platform::WaveOutDevice;

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  std::shared_ptr<platform::AudioBackend> backend;
  std::string endpoint_id;
  MMRESULT checked =
      platform::CheckWaveOpen(platform::AudioDirection::kOutput, deviceId, format, callback, flags,
                              WAVE_MAPPED, true, phwo != nullptr, &backend, &endpoint_id);
  if (checked != MMSYSERR_NOERROR || (flags & WAVE_FORMAT_QUERY) != 0) return checked;

  auto device = std::make_shared<WaveOutDevice>(flags & CALLBACK_TYPEMASK, callback, instance);
  device->device_id = deviceId;
  device->format = *format;
  device->backend = backend;
  platform::PcmFormat pcm = platform::ToPcmFormat(*format);
  platform::PlaybackOptions options;
  options.channel_map = platform::DeviceChannelMap(*format);
  options.latency_bytes =
      std::max<std::size_t>(pcm.FrameBytes(), std::size_t{pcm.rate} * platform::kWaveOutLatencyMs /
                                                  1000 * pcm.FrameBytes());
  WaveOutDevice* raw = device.get();
  platform::PlaybackCallbacks callbacks;
  callbacks.pull = [raw](std::uint8_t* data, std::size_t bytes) {
    return raw->OnPull(data, bytes);
  };
  callbacks.consumed = [raw](std::uint64_t total, std::uint64_t) { raw->OnConsumed(total); };
  callbacks.lost = [raw] { raw->OnLost(); };
  device->stream = backend->OpenPlayback(endpoint_id, pcm, options, std::move(callbacks), nullptr);
  if (!device->stream) return MMSYSERR_NODRIVER;
  *phwo = static_cast<HWAVEOUT>(platform::AddWaveDevice(device, WOM_OPEN));
  // The device opens playing.
  std::lock_guard<std::mutex> control(device->control);
  device->stream->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  return platform::WaveClose(Find(hwo), WAVERR_STILLPLAYING, WOM_CLOSE);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::WavePrepareHeader(Find(hwo), header, size);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return platform::WaveUnprepareHeader(Find(hwo), header, size);
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
  return platform::WaveGetPosition(Find(hwo), time, size);
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* deviceId) {
  return platform::WaveGetID(Find(hwo), deviceId);
}

}  // namespace platform::standin
