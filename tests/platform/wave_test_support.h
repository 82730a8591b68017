#pragma once

// What the wave input and output tests share: PCM formats and a recorder of
// a device's driver notifications.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/acm/msacm.h"
#include "platform/wave/wave_format_record.h"
#include "platform/wave/wave_hdr.h"
#include "tests/support/sub_format.h"

namespace wavetest {

inline WAVEFORMATEX Pcm(DWORD rate, WORD bits, WORD channels) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

// PCM in an extensible header with this channel mask and these valid bits
// (0: all of them); `sub_tag` is the subformat's tag.
inline WAVEFORMATEXTENSIBLE Extensible(DWORD rate, WORD bits, WORD channels, std::uint32_t mask,
                                       WORD valid_bits = 0, WORD sub_tag = WAVE_FORMAT_PCM) {
  WAVEFORMATEXTENSIBLE x{};
  x.Format = Pcm(rate, bits, channels);
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  x.wValidBitsPerSample = valid_bits == 0 ? bits : valid_bits;
  x.dwChannelMask = mask;
  SetSubFormat(x, sub_tag);
  return x;
}

// Records the driver's notifications (CALLBACK_FUNCTION) of a device whose
// handle is of type Handle.
template <typename Handle>
struct Recorder {
  struct Event {
    Handle handle;
    UINT msg;
    WAVEHDR* header;
    std::thread::id thread;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Event> events;
  // Run inside the callback, after the event is recorded.
  std::function<void(const Event&)> react;

  static void Callback(void* hwave, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<Recorder*>(instance);
    Event event{static_cast<Handle>(hwave), msg, reinterpret_cast<WAVEHDR*>(param1),
                std::this_thread::get_id()};
    std::function<void(const Event&)> react;
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      self->events.push_back(event);
      react = self->react;
    }
    self->changed.notify_all();
    if (react) react(event);
  }
  void SetReact(std::function<void(const Event&)> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    react = std::move(fn);
  }
  DWORD_PTR Function() const { return reinterpret_cast<DWORD_PTR>(&Callback); }
  DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }

  std::size_t Count(UINT msg) {
    std::lock_guard<std::mutex> lock(mutex);
    return CountLocked(msg);
  }
  // Waits (generously) until `count` notifications of kind msg have come.
  bool WaitFor(UINT msg, std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20),
                            [&] { return CountLocked(msg) >= count; });
  }
  std::vector<Event> Snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
  // The headers of the notifications of kind msg, in order.
  std::vector<WAVEHDR*> Headers(UINT msg) {
    std::vector<WAVEHDR*> headers;
    for (const Event& e : Snapshot())
      if (e.msg == msg) headers.push_back(e.header);
    return headers;
  }

 private:
  std::size_t CountLocked(UINT msg) const {
    std::size_t n = 0;
    for (const Event& e : events) n += e.msg == msg;
    return n;
  }
};

}  // namespace wavetest
