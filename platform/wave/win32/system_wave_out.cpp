#include "platform/wave/win32/system_wave_out.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/messages/messages.h"
#include "platform/threads/system_thread.h"
#include "platform/threads/thread_messages.h"
#include "platform/wave/win32/system_wave_calls.h"

namespace platform::win32 {

using Clock = std::chrono::steady_clock;

namespace {

// The system's copy of a caller's header: what the system queues and returns.
struct Shadow {
  WAVEHDR system{};  // dwUser is this shadow
  std::unique_ptr<char[]> data;
  DWORD capacity = 0;  // bytes of data, as prepared with the system
  WAVEHDR* caller = nullptr;
  bool queued = false;       // the caller's header is queued
  bool with_system = false;  // written, not yet come back from the system
};

}  // namespace

struct SystemWaveOut::Device {
  Device(const WaveOutCalls& c, WaveOutTimings t, DWORD k, DWORD_PTR cb, DWORD_PTR inst)
      : calls(c), timings(t), kind(k), callback(cb), instance(inst) {}

  // The system's notifications; called on the system's thread.
  static void Callback(void* hwave, UINT msg, DWORD_PTR self, DWORD_PTR param1, DWORD_PTR);
  // Passes a notification on the caller's way; holds delivery.
  void Notify(UINT msg, DWORD_PTR param1) const;
  // Waits until the tail of a device that ran out by itself has been heard.
  void WaitForTail();
  // The shadow of a caller's header, made on first use; holds state.
  Shadow* ShadowOf(WAVEHDR* header);
  // Prepares the shadow with the system for `length` bytes at least.
  MMRESULT PrepareShadow(Shadow* s, DWORD length);
  void StartWatching();
  void StopWatching();
  // The watching thread's body: finds a lost device and returns its headers.
  void Watch();

  const WaveOutCalls& calls;
  const WaveOutTimings timings;
  const DWORD kind;
  const DWORD_PTR callback;
  const DWORD_PTR instance;
  HWAVEOUT handle = nullptr;  // set under delivery

  // Held while notifying, so that notifications keep their order; taken
  // before state. Never held while calling the system.
  std::mutex delivery;
  std::mutex state;
  std::map<WAVEHDR*, std::unique_ptr<Shadow>> shadows;
  // Shadows the caller let go of while the system still holds them.
  std::vector<std::unique_ptr<Shadow>> orphans;
  std::deque<Shadow*> queue;  // in the order written
  bool paused = false;
  bool lost = false;
  bool resetting = false;
  bool ran_out = false;  // every written header came back by itself at ran_out_at
  Clock::time_point ran_out_at;
  bool watching = false;  // playing with headers queued, last_position seen at moved_at
  DWORD last_position = 0;
  Clock::time_point moved_at;
  bool ending = false;
  std::condition_variable wake;
  SystemThread watcher;
};

void SystemWaveOut::Device::Callback(void* hwave, UINT msg, DWORD_PTR self, DWORD_PTR param1,
                                     DWORD_PTR) {
  auto* d = reinterpret_cast<Device*>(self);
  std::lock_guard<std::mutex> notifying(d->delivery);
  if (msg != WOM_DONE) {
    if (!d->handle) d->handle = static_cast<HWAVEOUT>(hwave);
    d->Notify(msg, 0);
    return;
  }
  auto* s = reinterpret_cast<Shadow*>(reinterpret_cast<WAVEHDR*>(param1)->dwUser);
  WAVEHDR* caller = nullptr;
  {
    std::lock_guard<std::mutex> lock(d->state);
    s->with_system = false;
    // A lost device's headers came back to the caller already.
    if (!s->queued) return;
    s->queued = false;
    d->queue.erase(std::find(d->queue.begin(), d->queue.end(), s));
    caller = s->caller;
    caller->dwFlags = (caller->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (d->queue.empty() && !d->resetting) {
      d->ran_out = true;
      d->ran_out_at = Clock::now();
    }
  }
  d->Notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(caller));
}

void SystemWaveOut::Device::Notify(UINT msg, DWORD_PTR param1) const {
  switch (kind) {
    case CALLBACK_FUNCTION:
      if (callback) reinterpret_cast<WAVECALLBACK>(callback)(handle, msg, instance, param1, 0);
      break;
    case CALLBACK_WINDOW:
      PostMessage(static_cast<HWND>(callback), msg, reinterpret_cast<WPARAM>(handle),
                  static_cast<LPARAM>(param1));
      break;
    case CALLBACK_THREAD:
      PostThreadMessage(static_cast<DWORD>(callback), msg, reinterpret_cast<WPARAM>(handle),
                        static_cast<LPARAM>(param1));
      break;
    default:
      break;
  }
}

void SystemWaveOut::Device::WaitForTail() {
  Clock::time_point heard;
  {
    std::lock_guard<std::mutex> lock(state);
    if (!ran_out || lost || paused || !queue.empty()) return;
    ran_out = false;
    heard = ran_out_at + timings.held;
  }
  std::this_thread::sleep_until(heard);
}

Shadow* SystemWaveOut::Device::ShadowOf(WAVEHDR* header) {
  std::unique_ptr<Shadow>& s = shadows[header];
  if (!s) {
    s = std::make_unique<Shadow>();
    s->caller = header;
    s->system.dwUser = reinterpret_cast<DWORD_PTR>(s.get());
  }
  return s.get();
}

MMRESULT SystemWaveOut::Device::PrepareShadow(Shadow* s, DWORD length) {
  if (s->data && s->capacity >= length) return MMSYSERR_NOERROR;
  if (s->data) {
    const MMRESULT r = calls.unprepare(handle, &s->system, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) return r;
  }
  s->capacity = std::max<DWORD>(length, 1);
  s->data = std::make_unique<char[]>(s->capacity);
  const DWORD_PTR user = s->system.dwUser;
  s->system = WAVEHDR{};
  s->system.lpData = s->data.get();
  s->system.dwBufferLength = s->capacity;
  s->system.dwUser = user;
  const MMRESULT r = calls.prepare(handle, &s->system, sizeof(WAVEHDR));
  if (r != MMSYSERR_NOERROR) s->data.reset();
  return r;
}

void SystemWaveOut::Device::StartWatching() {
  watcher.Start([this] { Watch(); }, "wave watch");
}

void SystemWaveOut::Device::StopWatching() {
  {
    std::lock_guard<std::mutex> lock(state);
    ending = true;
  }
  wake.notify_all();
  if (watcher.Joinable()) watcher.Join();
}

void SystemWaveOut::Device::Watch() {
  const auto idle = [this] { return lost || paused || resetting || queue.empty(); };
  std::unique_lock<std::mutex> lock(state);
  while (!ending) {
    wake.wait_for(lock, timings.watch_every);
    if (ending) break;
    if (idle()) {
      watching = false;
      continue;
    }
    lock.unlock();
    MMTIME time;
    time.wType = TIME_BYTES;
    const MMRESULT r = calls.position(handle, &time, sizeof(time));
    std::unique_lock<std::mutex> notifying(delivery);
    lock.lock();
    if (r != MMSYSERR_NOERROR || ending || idle()) {
      watching = false;
      continue;
    }
    const auto now = Clock::now();
    if (!watching || time.u.cb != last_position) {
      watching = true;
      last_position = time.u.cb;
      moved_at = now;
      continue;
    }
    if (now - moved_at < timings.stalled_after) continue;
    lost = true;
    std::vector<WAVEHDR*> returned;
    for (Shadow* s : queue) {
      s->queued = false;
      s->caller->dwFlags = (s->caller->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      returned.push_back(s->caller);
    }
    queue.clear();
    lock.unlock();
    for (WAVEHDR* h : returned) Notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(h));
    notifying.unlock();
    lock.lock();
  }
}

// ---------------------------------------------------------------------------

SystemWaveOut::SystemWaveOut(const WaveOutCalls& calls, WaveOutTimings timings)
    : calls_(calls), timings_(timings) {}

SystemWaveOut::~SystemWaveOut() {
  for (auto& [handle, device] : devices_) device->StopWatching();
}

SystemWaveOut::Device* SystemWaveOut::Find(HWAVEOUT hwo) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = devices_.find(hwo);
  return it == devices_.end() ? nullptr : it->second.get();
}

MMRESULT SystemWaveOut::Open(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format,
                             DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  const bool held = kind == CALLBACK_NULL || kind == CALLBACK_FUNCTION || kind == CALLBACK_WINDOW ||
                    kind == CALLBACK_THREAD;
  if ((flags & WAVE_FORMAT_QUERY) || !held || !phwo)
    return calls_.open(phwo, deviceId, format, callback, instance, flags);
  auto device = std::make_unique<Device>(calls_, timings_, kind, callback, instance);
  HWAVEOUT h = nullptr;
  const MMRESULT r = calls_.open(
      &h, deviceId, format, reinterpret_cast<DWORD_PTR>(&Device::Callback),
      reinterpret_cast<DWORD_PTR>(device.get()), (flags & ~CALLBACK_TYPEMASK) | CALLBACK_FUNCTION);
  if (r != MMSYSERR_NOERROR) return r;
  {
    std::lock_guard<std::mutex> notifying(device->delivery);
    device->handle = h;
  }
  try {
    device->StartWatching();
  } catch (const std::system_error&) {
    calls_.close(h);
    return MMSYSERR_NOMEM;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[h] = std::move(device);
  }
  *phwo = h;
  return r;
}

MMRESULT SystemWaveOut::Close(HWAVEOUT hwo) {
  Device* d = Find(hwo);
  if (!d) return calls_.close(hwo);
  d->WaitForTail();
  bool lost = false;
  std::vector<Shadow*> unqueued;
  {
    std::lock_guard<std::mutex> lock(d->state);
    if (!d->lost && !d->queue.empty()) return WAVERR_STILLPLAYING;
    lost = d->lost;
    for (auto& [header, s] : d->shadows)
      if (!s->with_system && s->data) unqueued.push_back(s.get());
  }
  // A lost device's system may let go of what it still holds on a reset.
  if (lost) calls_.reset(hwo);
  for (Shadow* s : unqueued) calls_.unprepare(hwo, &s->system, sizeof(WAVEHDR));
  const MMRESULT r = calls_.close(hwo);
  if (r != MMSYSERR_NOERROR && !lost) return r;
  d->StopWatching();
  std::unique_ptr<Device> closed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = devices_.find(hwo);
    closed = std::move(it->second);
    devices_.erase(it);
  }
  if (r != MMSYSERR_NOERROR) {
    // The system keeps the lost device with the shadows it holds, and may
    // still call back with them: all of it stays while this object lives.
    std::lock_guard<std::mutex> notifying(closed->delivery);
    closed->Notify(WOM_CLOSE, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.push_back(std::move(closed));
  }
  return MMSYSERR_NOERROR;
}

MMRESULT SystemWaveOut::Prepare(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  Device* d = Find(hwo);
  if (!d) return calls_.prepare(hwo, header, size);
  if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  Shadow* s = nullptr;
  {
    std::lock_guard<std::mutex> lock(d->state);
    if (d->lost) return MMSYSERR_NODRIVER;
    s = d->ShadowOf(header);
    if (s->queued) return MMSYSERR_NOERROR;
  }
  const MMRESULT r = d->PrepareShadow(s, header->dwBufferLength);
  if (r == MMSYSERR_NOERROR) header->dwFlags |= WHDR_PREPARED;
  return r;
}

MMRESULT SystemWaveOut::Unprepare(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  Device* d = Find(hwo);
  if (!d) return calls_.unprepare(hwo, header, size);
  if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  std::unique_ptr<Shadow> s;
  {
    std::lock_guard<std::mutex> lock(d->state);
    const auto it = d->shadows.find(header);
    if (it != d->shadows.end()) {
      if (it->second->queued) return WAVERR_STILLPLAYING;
      if (it->second->with_system)
        d->orphans.push_back(std::move(it->second));
      else
        s = std::move(it->second);
      d->shadows.erase(it);
    }
  }
  if (s && s->data) {
    const MMRESULT r = d->calls.unprepare(hwo, &s->system, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) {
      std::lock_guard<std::mutex> lock(d->state);
      d->orphans.push_back(std::move(s));
    }
  }
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT SystemWaveOut::Write(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  Device* d = Find(hwo);
  if (!d) return calls_.write(hwo, header, size);
  if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  Shadow* s = nullptr;
  {
    std::lock_guard<std::mutex> lock(d->state);
    if (d->lost) return MMSYSERR_NODRIVER;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    s = d->ShadowOf(header);
    if (s->queued) return WAVERR_STILLPLAYING;
  }
  const DWORD length = header->dwBufferLength;
  MMRESULT r = d->PrepareShadow(s, length);
  if (r != MMSYSERR_NOERROR) return r;
  if (length > 0) std::memcpy(s->data.get(), header->lpData, length);
  s->system.dwBufferLength = length;
  s->system.dwFlags &= ~(WHDR_DONE | WHDR_BEGINLOOP | WHDR_ENDLOOP);
  s->system.dwLoops = 0;
  {
    std::lock_guard<std::mutex> lock(d->state);
    if (d->lost) return MMSYSERR_NODRIVER;
    s->queued = s->with_system = true;
    d->queue.push_back(s);
    d->ran_out = false;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  }
  r = d->calls.write(hwo, &s->system, sizeof(WAVEHDR));
  if (r != MMSYSERR_NOERROR) {
    std::lock_guard<std::mutex> lock(d->state);
    s->with_system = false;
    if (s->queued) {
      s->queued = false;
      d->queue.erase(std::find(d->queue.begin(), d->queue.end(), s));
      header->dwFlags &= ~WHDR_INQUEUE;
    }
  }
  return r;
}

MMRESULT SystemWaveOut::Pause(HWAVEOUT hwo) {
  Device* d = Find(hwo);
  if (!d) return calls_.pause(hwo);
  d->WaitForTail();
  {
    std::lock_guard<std::mutex> lock(d->state);
    if (d->lost) {
      d->paused = true;
      return MMSYSERR_NOERROR;
    }
  }
  const MMRESULT r = calls_.pause(hwo);
  if (r == MMSYSERR_NOERROR) {
    std::lock_guard<std::mutex> lock(d->state);
    d->paused = true;
  }
  return r;
}

MMRESULT SystemWaveOut::Restart(HWAVEOUT hwo) {
  Device* d = Find(hwo);
  if (!d) return calls_.restart(hwo);
  {
    std::lock_guard<std::mutex> lock(d->state);
    if (d->lost) return MMSYSERR_NODRIVER;
  }
  const MMRESULT r = calls_.restart(hwo);
  if (r == MMSYSERR_NOERROR) {
    std::lock_guard<std::mutex> lock(d->state);
    d->paused = false;
    d->watching = false;
  }
  return r;
}

MMRESULT SystemWaveOut::Reset(HWAVEOUT hwo) {
  Device* d = Find(hwo);
  if (!d) return calls_.reset(hwo);
  d->WaitForTail();
  {
    std::lock_guard<std::mutex> lock(d->state);
    // A lost device returned its headers already; its system is left alone
    // until it is closed.
    if (d->lost) return MMSYSERR_NOERROR;
    d->resetting = true;
  }
  const MMRESULT r = calls_.reset(hwo);
  std::lock_guard<std::mutex> lock(d->state);
  d->resetting = false;
  d->ran_out = false;
  d->watching = false;
  return r;
}

MMRESULT SystemWaveOut::GetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size) {
  Device* d = Find(hwo);
  if (d) {
    std::lock_guard<std::mutex> lock(d->state);
    if (d->lost) return MMSYSERR_NODRIVER;
  }
  return calls_.position(hwo, time, size);
}

SystemWaveOut& SystemWaveOutput() {
  // Never destroyed: devices still open at exit stay with the system.
  static SystemWaveOut* output = new SystemWaveOut(
      WaveOutCalls{&winmm::waveOutOpen, &winmm::waveOutClose, &winmm::waveOutPrepareHeader,
                   &winmm::waveOutUnprepareHeader, &winmm::waveOutWrite, &winmm::waveOutPause,
                   &winmm::waveOutRestart, &winmm::waveOutReset, &winmm::waveOutGetPosition},
      kSystemWaveOutTimings);
  return *output;
}

}  // namespace platform::win32

// ---------------------------------------------------------------------------

namespace platform::system_wave {

using win32::SystemWaveOutput;

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  return SystemWaveOutput().Open(phwo, deviceId, format, callback, instance, flags);
}
MMRESULT waveOutClose(HWAVEOUT hwo) {
  return SystemWaveOutput().Close(hwo);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return SystemWaveOutput().Prepare(hwo, header, size);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return SystemWaveOutput().Unprepare(hwo, header, size);
}
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
  return SystemWaveOutput().Write(hwo, header, size);
}
MMRESULT waveOutPause(HWAVEOUT hwo) {
  return SystemWaveOutput().Pause(hwo);
}
MMRESULT waveOutRestart(HWAVEOUT hwo) {
  return SystemWaveOutput().Restart(hwo);
}
MMRESULT waveOutReset(HWAVEOUT hwo) {
  return SystemWaveOutput().Reset(hwo);
}
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size) {
  return SystemWaveOutput().GetPosition(hwo, time, size);
}

}  // namespace platform::system_wave
