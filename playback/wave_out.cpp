#include "playback/wave_out.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "devices/mm_strings.h"
#include "devices/wave_format.h"
#include "platform/framework/properties.h"
#include "platform/framework/wait_cursor.h"
#include "platform/sysinfo/platform_flags.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_out.h"

namespace {

constexpr int kOpenRounds = 500;
constexpr int kStopRounds = 500;
constexpr int kRequeueRounds = 100;
constexpr unsigned kWaitStepMs = 10;
constexpr int kDonePolls = 65000;
constexpr auto kDoneSleep = std::chrono::milliseconds(2);
constexpr DWORD kThreadWaitMs = 5000;
constexpr std::int64_t kHourGlassBytes = 100000;
constexpr std::int64_t kWrapDistance = 65534;

// With the prefix and a line break before the fixed text.
std::string Prefixed(const std::string& prefix, int id) {
  return prefix + "\n\r" + LoadMMString(id);
}

}  // namespace

TMMWaveOut::TMMWaveOut(TComponent* owner) : TMMCustomWaveOutComponent(owner) {
  device_.Select(0);
}

TMMWaveOut::~TMMWaveOut() {
  SetState(csDestroying, true);
  if (Handle()) Close();
}

// --- errors -----------------------------------------------------------------

void TMMWaveOut::RaiseError(const std::string& message) {
  FireError();
  throw EMMWaveOutError(message);
}

std::string TMMWaveOut::ErrorText(const std::string& prefix, MMRESULT result) {
  char text[255] = {};
  if (waveOutGetErrorTextA(result, text, sizeof(text)) == MMSYSERR_NOERROR)
    return prefix + "\n\r" + text;
  return Prefixed(prefix, kMMUnknownErrorNumber);
}

void TMMWaveOut::Check(const std::string& prefix, MMRESULT result) {
  last_result_ = result;
  if (result != MMSYSERR_NOERROR) RaiseError(ErrorText(prefix, result));
}

void TMMWaveOut::CheckReset(MMRESULT result) {
  Check("WaveOutReset:", result);
}

// --- properties -------------------------------------------------------------

void TMMWaveOut::SetDeviceID(TMMDeviceId value) {
  CheckNotOpen();
  // Counted again, so that a number reaches a device added since.
  device_.Recount();
  device_.Select(value);
}

void TMMWaveOut::SetNumBuffers(std::int32_t value) {
  if (value == num_buffers_ || value <= 1) return;
  CheckNotOpen();
  num_buffers_ = std::min(value, kMaxWaveOutBuffers);
}

void TMMWaveOut::SetCallBackMode(TMMCBMode value) {
  if (value == callback_mode_) return;
  CheckNotOpen();
  if (value == cmCallback && !IsWin95) {
    MessageBox(
        "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
        "Windows 95",
        "TMMWaveOut", MB_OK);
    return;
  }
  callback_mode_ = value;
}

void TMMWaveOut::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  CheckNotOpen();
  allocator_.FreeAll();
  std::fill(ring_.begin(), ring_.end(), nullptr);
  TMMCustomWaveOutComponent::SetBufferSize(std::max(value, 32));
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
  priority_ = value;
  ApplyWorkerPriority(value);
}

bool TMMWaveOut::QueryFormat(TMMDeviceId device, const WAVEFORMATEX* format) {
  if (device < MapperId || device >= GetNumDevs() || !format) return false;
  return waveOutOpen(nullptr, static_cast<UINT>(device), format, 0, 0, WAVE_FORMAT_QUERY) ==
         MMSYSERR_NOERROR;
}

// --- positions --------------------------------------------------------------

bool TMMWaveOut::ReadDevicePosition(std::int64_t& samples, MMRESULT& result) {
  samples = 0;
  result = MMSYSERR_NOERROR;
  HWAVEOUT d = Device();
  if (!IsOpen() || !d) return true;
  MMTIME t;
  t.wType = TIME_SAMPLES;
  result = waveOutGetPosition(d, &t, sizeof(t));
  if (result == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
    samples = t.u.sample;
    return true;
  }
  t.wType = TIME_BYTES;
  result = waveOutGetPosition(d, &t, sizeof(t));
  if (result != MMSYSERR_NOERROR) return false;
  samples = BytesToSamples(GetPWaveFormat(), static_cast<std::int32_t>(t.u.cb));
  return true;
}

std::int64_t TMMWaveOut::DevicePosition() {
  std::int64_t samples = 0;
  MMRESULT result = MMSYSERR_NOERROR;
  if (!ReadDevicePosition(samples, result)) Check("WaveOutGetPosition:", result);
  return samples;
}

std::int64_t TMMWaveOut::InTimeFormat(std::int64_t samples) const {
  switch (time_format_.load()) {
    case tfMillisecond:
      return SamplesToMs64(GetPWaveFormat(), samples);
    case tfByte:
      return SamplesToBytes64(GetPWaveFormat(), samples);
    case tfSample:
      break;
  }
  return samples;
}

std::int64_t TMMWaveOut::GetPosition() {
  if (!IsOpen() || !GetPWaveFormat() || close_pending_) return 0;
  return Locked([this] {
    return InTimeFormat(DevicePosition() + accumulated_ + wrap_count_ * wrap_size_ - loop_start_);
  });
}

// --- open and close ---------------------------------------------------------

void TMMWaveOut::Open() {
  if (GetNumDevs() == 0) RaiseError(LoadMMString(kMMNoWaveOutDevice));
  if (GetDeviceID() == InvalidId) RaiseError(LoadMMString(kMMInvalidDeviceId));
  if (!GetPWaveFormat()) RaiseError(Prefixed("WaveOutOpen:", kMMInvalidWaveFormat));
  if (IsOpen()) Close();
  if (IsOpen() || closing_) return;
  closing_ = resetting_ = stopping_ = stop_posted_ = false;
  try {
    if (!QueryFormat(GetDeviceID(), GetPWaveFormat()))
      RaiseError(Prefixed("WaveOutOpen:", kMMCannotPlayFormat));
    CreateWindow();
    handle_ = nullptr;
    close_pending_ = false;
    TMMCustomSoundComponent::Opened();
    if (callback_mode_ == cmThread && !StartWorker(kThreadWaitMs))
      RaiseError(Prefixed("WaveOut:", kMMCannotCreateThread));
    const DWORD flags = mapped_ && GetDeviceID() >= 0 ? WAVE_MAPPED : 0;
    const auto id = static_cast<UINT>(GetDeviceID());
    HWAVEOUT d = nullptr;
    MMRESULT r;
    if (FunctionCallbacks)
      r = waveOutOpen(&d, id, GetPWaveFormat(), DriverCallbackParam(),
                      reinterpret_cast<DWORD_PTR>(static_cast<TMMCustomWaveOutComponent*>(this)),
                      flags | CALLBACK_FUNCTION);
    else
      r = waveOutOpen(&d, id, GetPWaveFormat(), window_, 0, flags | CALLBACK_WINDOW);
    handle_ = d;
    Check("WaveOutOpen:", r);
    if (!WaitForState(dsOpen, kOpenRounds, !FunctionCallbacks))
      RaiseError(Prefixed("WaveOutOpen:", kMMCannotOpenDevice));
    FireEvent(OnOpen);
  } catch (...) {
    FireEvent(OnError);
    state_ = dsOpen;
    Close();
    state_ = dsClosed;
    throw;
  }
}

void TMMWaveOut::Close() {
  if (!IsOpen() || (closing_ && !close_pending_)) return;
  try {
    closing_ = true;
    if (state_.load() & (dsStarted | dsPaused)) {
      try {
        Stop();
      } catch (const std::exception&) {
        // Reported through OnError already. Nothing may stay queued at a
        // device that is being closed.
        waveOutReset(Device());
        state_ &= ~static_cast<std::uint32_t>(dsStarted | dsPaused);
        stop_deferred_ = false;
        UnprepareRing();
      }
    }
    if (stop_deferred_) {
      close_pending_ = true;
      return;
    }
    close_pending_ = false;
    bool closed_in_time = true;
    if (HWAVEOUT d = Device()) {
      Check("WaveOutClose:", waveOutClose(d));
      closed_in_time = WaitForState(dsClosed, kStopRounds, !FunctionCallbacks);
      stop_position_ = 0;
      Locked([this] { wrap_count_ = wrap_size_ = 0; });
    } else {
      state_ = dsClosed;
    }
    TMMCustomSoundComponent::Closed();
    if (callback_mode_ == cmThread) StopWorker();
    handle_ = nullptr;
    closing_ = false;
    // Notifications still queued for the old handle refer to released buffers.
    RemovePendingMessages(window_, MM_WOM_DONE);
    RemovePendingMessages(window_, WM_STOPDEVICE);
    pending_done_ = 0;
    if (!Destroying()) FireEvent(OnClose);
    if (!closed_in_time) RaiseError(Prefixed("WaveOutClose:", kMMCannotCloseDevice));
  } catch (const std::exception&) {
    closing_ = false;
  }
}

// --- start, pause, restart --------------------------------------------------

PWaveHdr TMMWaveOut::PrepareRingEntry(std::int32_t i) {
  const std::int32_t size = GetBufferSize();
  if (!ring_[i]) {
    void* block = allocator_.AllocBlock(
        GMEM_ZEROINIT, static_cast<std::uint32_t>(kWaveHdrSize) + static_cast<std::uint32_t>(size));
    if (!block) RaiseError(LoadMMString(kMMCannotAllocateHeader));
    ring_[i] = static_cast<PWaveHdr>(block);
    ring_[i]->lpData = WaveHdrData(ring_[i]);
    ring_[i]->dwBufferLength = static_cast<DWORD>(size);
    ring_[i]->dwBytesRecorded = 0;
    ring_[i]->dwUser = 0;
    ring_[i]->dwFlags = 0;
    ring_[i]->dwLoops = 0;
    ring_[i]->lpNext = nullptr;
    waveOutPrepareHeader(Device(), ring_[i], sizeof(WAVEHDR));
  }
  return ring_[i];
}

void TMMWaveOut::Write(PWaveHdr h) {
  if (OnBufferFilled) OnBufferFilled(this, h);
  if (stopping_) return;
  h->dwFlags = (h->dwFlags | WHDR_PREPARED) & ~WHDR_DONE;
  h->dwSavedLength = h->dwBytesRecorded;
  // Counted before the write, so that its return never finds the count short.
  ++outstanding_;
  const MMRESULT r = waveOutWrite(Device(), h, sizeof(WAVEHDR));
  if (r != MMSYSERR_NOERROR) --outstanding_;
  Check("WaveOutWrite:", r);
  h->dwBytesRecorded = h->dwSavedLength;
}

std::int32_t TMMWaveOut::FillRing() {
  more_buffers_ = true;
  std::int32_t i = 0;
  for (; i < num_buffers_ && more_buffers_; ++i) {
    PWaveHdr h = PrepareRingEntry(i);
    if (Pull(h) < 1) break;
    Write(h);
  }
  return i;
}

void TMMWaveOut::Start() {
  try {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsStarted)) return;
    Locked([this] {
      loop_start_ = accumulated_ = 0;
      last_position_ = 0;
      wrap_count_ = wrap_size_ = 0;
    });
    depth_ = 0;
    ring_index_ = 0;
    outstanding_ = 0;
    pending_done_ = 0;
    loops_left_ = loop_count_.load();
    stop_deferred_ = resetting_ = stopping_ = stop_posted_ = false;
    {
      std::optional<TWaitCursor> cursor;
      if (show_hourglass_ &&
          static_cast<std::int64_t>(GetBufferSize()) * num_buffers_ > kHourGlassBytes)
        cursor.emplace();
      Check("WaveOutPause:", waveOutPause(Device()));
      TMMCustomSoundComponent::Started();
      queued_ = FillRing();
      state_ |= dsStarted;
    }
    if (queued_ <= 0) {
      TMMCustomSoundComponent::Stopped();
      RaiseError(Prefixed("WaveOutStart:", kMMCannotStartDevice));
    }
    if (!(state_.load() & dsPaused)) Check("WaveOutRestart:", waveOutRestart(Device()));
    FireEvent(OnStart);
  } catch (...) {
    FireEvent(OnError);
    state_ |= dsStarted;
    Close();
    state_ = dsClosed;
    throw;
  }
}

void TMMWaveOut::Pause() {
  try {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsPaused)) return;
    if (state_.load() & dsStarted) {
      Locked([this] {
        Check("WaveOutPause:", waveOutPause(Device()));
        state_ |= dsPaused;
        if (HasUpstreamDevice()) {
          accumulated_ += DevicePosition();
          resetting_ = true;
          CheckReset(waveOutReset(Device()));
          ring_index_ = 0;
          outstanding_ = 0;
        }
      });
    }
    state_ |= dsPaused;
    TMMCustomSoundComponent::Paused();
    FireEvent(OnPause);
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

void TMMWaveOut::Restart() {
  const std::uint32_t s = state_.load();
  if (!((s & dsStarted) && (s & dsPaused))) return;
  resetting_ = false;
  try {
    TMMCustomSoundComponent::Restarted();
    Check("WaveOutRestart:", waveOutRestart(Device()));
    state_ &= ~static_cast<std::uint32_t>(dsPaused);
    FireEvent(OnRestart);
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

void TMMWaveOut::Requeue() {
  if (!(state_.load() & (dsStarted | dsPaused)) || resetting_) return;
  Locked([this] { resetting_ = true; });
  try {
    Check("WaveOutPause:", waveOutPause(Device()));
    DiscardPendingDone();
    WaitForWorkerHandler();
    CheckReset(waveOutReset(Device()));
    for (int i = 0; i < kRequeueRounds && resetting_ && outstanding_ > 0; ++i)
      WaitAndPump(kWaitStepMs, !FunctionCallbacks);
    Check("WaveOutRestart:", waveOutRestart(Device()));
    Check("WaveOutPause:", waveOutPause(Device()));
    Locked([this] {
      ring_index_ = 0;
      outstanding_ = 0;
      accumulated_ = loop_start_ = 0;
      last_position_ = 0;
      wrap_count_ = wrap_size_ = 0;
      // Every buffer is back: the device has nothing left to return.
      resetting_ = false;
    });
    TMMCustomSoundComponent::Reset();
    queued_ = FillRing();
    if (!(state_.load() & dsPaused)) Check("WaveOutRestart:", waveOutRestart(Device()));
    if (queued_ == 0) Stop();
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

// --- stop -------------------------------------------------------------------

void TMMWaveOut::Stop() {
  if (!(state_.load() & (dsStarted | dsPaused))) return;
  Locked([this] {
    stopping_ = true;
    resetting_ = true;
  });
  try {
    {
      std::lock_guard<TCriticalSection> lock(lock_);
      std::int64_t samples = 0;
      MMRESULT result = MMSYSERR_NOERROR;
      // A device that went away has no position: the last one read stands.
      if (!ReadDevicePosition(samples, result)) samples = last_position_;
      stop_position_ =
          InTimeFormat(samples + accumulated_ + wrap_count_ * wrap_size_ - loop_start_);
      wrap_count_ = wrap_size_ = 0;
    }
    CheckReset(waveOutReset(Device()));
    FinishStop();
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

void TMMWaveOut::FinishStop() {
  if (!(state_.load() & (dsStarted | dsPaused))) return;
  {
    std::lock_guard<TCriticalSection> lock(lock_);
    if (depth_ > 0) {
      // Called while a buffer is handled: finished by WM_STOPDEVICE once the
      // handler has unwound.
      stop_deferred_ = true;
      return;
    }
    state_ &= ~static_cast<std::uint32_t>(dsStarted | dsPaused);
  }
  for (int i = 0; i < kStopRounds && outstanding_ > 0; ++i)
    WaitAndPump(kWaitStepMs, !FunctionCallbacks);
  DiscardPendingDone();
  TMMCustomSoundComponent::Stopped();
  UnprepareRing();
  queued_ = 0;
  outstanding_ = 0;
  ring_index_ = 0;
  stop_deferred_ = false;
  if (!Destroying()) FireEvent(OnStop);
  if (close_pending_) Close();
}

void TMMWaveOut::UnprepareRing() {
  for (PWaveHdr& h : ring_) {
    if (!h) continue;
    int polls = 0;
    while (!(h->dwFlags & WHDR_DONE) && polls < kDonePolls) ++polls;
    if (!(h->dwFlags & WHDR_DONE)) h->dwFlags = WHDR_DONE;
    waveOutUnprepareHeader(Device(), h, sizeof(WAVEHDR));
    allocator_.ReleaseBlock(h);
  }
}

// --- returned buffers -------------------------------------------------------

void TMMWaveOut::PauseForEnd() {
  Check("WaveOutPause:", waveOutPause(Device()));
}

void TMMWaveOut::BufferDone() {
  if (!EnterHandler()) return;
  std::exception_ptr error;
  try {
    PWaveHdr h = ring_[ring_index_];
    if (h && queued_ > 0) {
      if (++ring_index_ >= queued_) ring_index_ = 0;
      h->dwBytesRecorded = h->dwSavedLength;
      PWaveHdr next = ring_[ring_index_];
      // The displays show the buffer now heard: the next one, while there is one.
      h->lpNextBuffer = outstanding_ > 0 ? next : nullptr;
      next->dwBytesRecorded = next->dwSavedLength;
      TMMCustomSoundComponent::BufferReady(h);

      const std::int64_t p = DevicePosition();
      Locked([&] {
        const auto now = static_cast<std::uint32_t>(p);
        if (now < last_position_ && last_position_ - now > kWrapDistance) {
          wrap_size_ = last_position_ | 0xFFFFFu;
          ++wrap_count_;
        }
        last_position_ = now;
      });

      // A loop mark counts whether or not the source has more to give: the
      // last pass may already be wholly at the device.
      if (looping_ && h->bLoopDone && !stop_deferred_) {
        Locked([&] {
          loop_start_ = p;
          h->bLoopDone = 0;
        });
        TMMCustomSoundComponent::Looped();
        FireEvent(OnLooping);
      }
      if (more_buffers_ && !stop_deferred_) {
        for (int i = 0; i < kDonePolls && !(h->dwFlags & WHDR_DONE); ++i)
          std::this_thread::sleep_for(kDoneSleep);
        if (Pull(h) <= 0 && !stop_deferred_) RaiseError(LoadMMString(kMMErrorFillingBuffer));
        if (!stop_deferred_) Write(h);
      }
    }
  } catch (...) {
    FireEvent(OnError);
    error = std::current_exception();
  }
  LeaveHandler(error != nullptr);
  if (error) std::rethrow_exception(error);
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMWaveOut::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMWaveOut>("TMMWaveOut", &TMMCustomWaveOutComponent::StaticClassInfo())
          .Creatable()
          .Bool("ShowHourGlass", &TMMWaveOut::GetShowHourGlass, &TMMWaveOut::SetShowHourGlass)
          .Bool("Mapped", &TMMWaveOut::GetMapped, &TMMWaveOut::SetMapped)
          .Enum("Priority",
                {"tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest",
                 "tpTimeCritical"},
                &TMMWaveOut::GetPriority, &TMMWaveOut::SetPriority)
          .Build();
  return info;
}
