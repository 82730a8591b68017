#include "playback/ds_wave_out.h"

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

namespace {

constexpr char kNoDevices[] = "No DirectSound playing devices found";
constexpr int kWaitRounds = 100;
constexpr unsigned kWaitStepMs = 10;
constexpr int kDonePolls = 65000;
constexpr DWORD kThreadWaitMs = 1000;
constexpr auto kStopWait = std::chrono::milliseconds(500);
constexpr std::int64_t kHourGlassBytes = 100000;

BOOL CollectDevice(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context) {
  auto* devices = static_cast<std::vector<TMMDSDevice>*>(context);
  TMMDSDevice device;
  if (guid) device.guid = *guid;
  device.description = description ? description : "";
  device.module = module ? module : "";
  devices->push_back(std::move(device));
  return TRUE;
}

}  // namespace

TMMDSWaveOut::TMMDSWaveOut(TComponent* owner) : TMMCustomWaveOutComponent(owner) {
  if (IsNT3)
    throw EMMDSWaveOutError("Directsound is currently only supported under Windows 95 and NT 4.0");
  if (!DSLoad()) throw EMMDSWaveOutError("Unable to load");
  SetDeviceID(0);
}

TMMDSWaveOut::~TMMDSWaveOut() {
  SetState(csDestroying, true);
  if (Handle()) Close();
  FreeRing();
}

// --- errors -----------------------------------------------------------------

void TMMDSWaveOut::RaiseError(const std::string& message) {
  FireError();
  throw EMMDSWaveOutError(message);
}

void TMMDSWaveOut::Check(DWORD result, const std::string& prefix, const std::string& text) {
  if (result != kDSOk) RaiseError(prefix + "\n\r" + text);
}

// --- properties -------------------------------------------------------------

void TMMDSWaveOut::SetDeviceID(TMMDeviceId value) {
  CheckNotOpen();
  // The list is read again at each choice: a number names the device now at
  // that place, also after devices came or went.
  devices_.clear();
  DirectSoundEnumerateA(CollectDevice, &devices_);
  const bool listed = value >= 0 && value < static_cast<TMMDeviceId>(devices_.size());
  device_id_ = listed ? value : InvalidId;
  product_name_ = listed ? devices_[static_cast<std::size_t>(value)].description : kNoDevices;
}

LPCGUID TMMDSWaveOut::Key() const {
  const auto& guid = devices_[static_cast<std::size_t>(device_id_)].guid;
  return guid ? &*guid : nullptr;
}

void TMMDSWaveOut::SetNumBuffers(std::int32_t value) {
  if (value == num_buffers_ || value < 2 || value > kMaxWaveOutBuffers) return;
  CheckNotOpen();
  num_buffers_ = value;
}

void TMMDSWaveOut::SetCallBackMode(TMMCBMode value) {
  if (value == callback_mode_) return;
  CheckNotOpen();
  if (value == cmCallback) {
    MessageBox("\"CallBacks\" are not supported with DirectSound", "TMMDSWaveOut", MB_OK);
    return;
  }
  callback_mode_ = value;
}

void TMMDSWaveOut::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  CheckNotOpen();
  TMMCustomWaveOutComponent::SetBufferSize(std::max(value, 256));
}

void TMMDSWaveOut::SetVolume(std::int32_t value) {
  value = std::clamp(value, -10000, 0);
  if (value == volume_) return;
  volume_ = value;
  if (IsOpen() && Context()) DSWaveOutSetVolume(Context(), value);
}

void TMMDSWaveOut::SetPan(std::int32_t value) {
  value = std::clamp(value, -10000, 10000);
  if (value == pan_) return;
  pan_ = value;
  if (IsOpen() && Context()) DSWaveOutSetPan(Context(), value);
}

void TMMDSWaveOut::SetFrequency(std::int32_t value) {
  value = std::clamp(value, 0, 100000);
  if (value == frequency_) return;
  frequency_ = value;
  if (IsOpen() && Context()) DSWaveOutSetPlayBackRate(Context(), static_cast<DWORD>(value));
}

// --- positions --------------------------------------------------------------

std::uint32_t TMMDSWaveOut::LayerPosition() {
  MMTIME time;
  time.wType = TIME_SAMPLES;
  Check(DSWaveOutGetPosition(Context(), time),
        "DSWaveOutGetPosition:", "Unable to get device position");
  return time.u.sample;
}

std::int64_t TMMDSWaveOut::GetPosition() {
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (!IsOpen() || !format || closing_) return 0;
  const auto samples = Locked([this] {
    return static_cast<std::int32_t>(LayerPosition() + static_cast<std::uint32_t>(accumulated_) -
                                     static_cast<std::uint32_t>(loop_start_));
  });
  switch (time_format_.load()) {
    case tfMillisecond:
      return SamplesToMs(format, samples);
    case tfByte:
      return SamplesToBytes(format, samples);
    case tfSample:
      break;
  }
  return samples;
}

// --- open and close ---------------------------------------------------------

void TMMDSWaveOut::Open() {
  if (devices_.empty()) RaiseError(kNoDevices);
  if (device_id_ == InvalidId) RaiseError(LoadMMString(kMMInvalidDeviceId));
  if (!GetPWaveFormat()) RaiseError(LoadMMString(kMMInvalidWaveFormat));
  if (IsOpen()) Close();
  if (IsOpen() || closing_) return;
  closing_ = resetting_ = stopping_ = stop_posted_ = false;
  try {
    PDSWaveOut probe = nullptr;
    Check(DSWaveOutOpen(probe, Key(), GetPWaveFormat(), 0, 0, WAVE_FORMAT_QUERY),
          "DSWaveOutOpen:", LoadMMString(kMMCannotPlayFormat));
    CreateWindow();
    handle_ = nullptr;
    close_pending_ = false;
    TMMCustomSoundComponent::Opened();
    // Forms carry no window handle here: the cooperative level is set without
    // one, which the sound-buffer service only keeps for the record.
    if (callback_mode_ == cmThread && !StartWorker(kThreadWaitMs))
      RaiseError("DSWaveOut:\n\r" + LoadMMString(kMMCannotCreateThread));
    PDSWaveOut context = nullptr;
    Check(DSWaveOutOpen(
              context, Key(), GetPWaveFormat(), DriverCallbackParam(),
              reinterpret_cast<DWORD_PTR>(static_cast<TMMCustomWaveOutComponent*>(this)),
              CALLBACK_FUNCTION | DSWAVE_CTRLVOLUME | DSWAVE_CTRLPAN | DSWAVE_CTRLFREQUENCY),
          "DSWaveOutOpen:", LoadMMString(kMMCannotOpenDevice));
    handle_ = context;
    Check(DSCreatePrimary(context, GetPWaveFormat()),
          "DSWaveOutOpen:", "Unable to create primary buffer");
    Check(DSWaveOutSetVolume(context, volume_), "DSWaveOutSetVolume:", "Unable to set volume");
    Check(DSWaveOutSetPan(context, pan_), "DSWaveOutSetPan:", "Unable to set pan");
    Check(DSWaveOutSetPlayBackRate(context, static_cast<DWORD>(frequency_)),
          "DSWaveOutSetPlayBackRate:", "Unable to set playbackrate");
    if (!WaitForState(dsOpen, kWaitRounds, false))
      RaiseError("DSWaveOutOpen:\n\r" + LoadMMString(kMMCannotOpenDevice));
    FireEvent(OnOpen);
  } catch (...) {
    FireEvent(OnError);
    state_ = dsOpen;
    Close();
    state_ = dsClosed;
    throw;
  }
}

void TMMDSWaveOut::Close() {
  if (!IsOpen() || (closing_ && !close_pending_)) return;
  try {
    closing_ = true;
    if (state_.load() & (dsStarted | dsPaused)) {
      try {
        Stop();
      } catch (const std::exception&) {
        // Reported through OnError already; the device is closed in any case.
        DSWaveOutReset(Context());
        state_ &= ~static_cast<std::uint32_t>(dsStarted | dsPaused);
        stop_deferred_ = false;
        FreeRing();
      }
    }
    if (stop_deferred_) {
      close_pending_ = true;
      return;
    }
    close_pending_ = false;
    bool closed = true;
    if (PDSWaveOut context = Context()) {
      Check(DSWaveOutClose(context), "DSWaveOutClose:", LoadMMString(kMMCannotCloseDevice));
      closed = WaitForState(dsClosed, kWaitRounds, false);
    } else {
      state_ = dsClosed;
      closed = false;
    }
    TMMCustomSoundComponent::Closed();
    if (callback_mode_ == cmThread) StopWorker();
    handle_ = nullptr;
    closing_ = false;
    RemovePendingMessages(window_, MM_WOM_DONE);
    RemovePendingMessages(window_, WM_STOPDEVICE);
    pending_done_ = 0;
    if (!Destroying()) FireEvent(OnClose);
    if (!closed) RaiseError("DSWaveOutClose:\n\r" + LoadMMString(kMMCannotCloseDevice));
  } catch (const std::exception&) {
    closing_ = false;
  }
}

// --- start, pause, restart --------------------------------------------------

PWaveHdr TMMDSWaveOut::PrepareRingEntry(std::int32_t i) {
  if (!ring_[i]) {
    const auto size = static_cast<std::size_t>(GetBufferSize());
    void* block = nullptr;
    try {
      block = AllocZeroedBlock(kWaveHdrSize + size);
    } catch (const EOutOfMemory&) {
      RaiseError(LoadMMString(kMMCannotAllocateHeader));
    }
    ring_[i] = static_cast<PWaveHdr>(block);
    ring_[i]->lpData = WaveHdrData(ring_[i]);
    ring_[i]->dwBufferLength = static_cast<DWORD>(size);
    Check(DSWaveOutPrepareHeader(Context(), ring_[i]),
          "DSWaveOutPrepareHeader:", "Unable to prepare waveheader");
  }
  return ring_[i];
}

void TMMDSWaveOut::Write(PWaveHdr h) {
  if (OnBufferFilled) OnBufferFilled(this, h);
  if (stopping_) return;
  h->dwFlags = WHDR_PREPARED;
  // Counted before the write, so that its return never finds the count short.
  ++outstanding_;
  if (DSWaveOutWrite(Context(), h) != kDSOk) {
    --outstanding_;
    RaiseError("DSWaveOutWrite:\n\rUnable to write to device");
  }
}

std::int32_t TMMDSWaveOut::RingSize() const {
  const PDSWaveOut context = Context();
  const std::int64_t size = GetBufferSize();
  if (!context || size <= 0) return num_buffers_;
  // The layer's whole buffer and the chunk it writes ahead: with less, a
  // format of many bytes a second would find the queue dry and play silence
  // in the middle of the sound.
  const std::int64_t needed =
      (std::int64_t{context->buffer_size} + context->chunk_size + size - 1) / size;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(needed, num_buffers_, kMaxWaveOutBuffers));
}

std::int32_t TMMDSWaveOut::FillRing() {
  more_buffers_ = true;
  const std::int32_t ring = RingSize();
  std::int32_t i = 0;
  for (; i < ring && more_buffers_; ++i) {
    PWaveHdr h = PrepareRingEntry(i);
    if (Pull(h) < 1) break;
    Write(h);
  }
  return i;
}

void TMMDSWaveOut::Start() {
  try {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsStarted)) return;
    Locked([this] { loop_start_ = accumulated_ = 0; });
    depth_ = 0;
    ring_index_ = 0;
    outstanding_ = 0;
    pending_done_ = 0;
    loops_left_ = loop_count_.load();
    stop_deferred_ = resetting_ = stopping_ = stop_posted_ = false;
    {
      std::optional<TWaitCursor> cursor;
      if (static_cast<std::int64_t>(GetBufferSize()) * num_buffers_ > kHourGlassBytes)
        cursor.emplace();
      Check(DSWaveOutPause(Context()), "DSWaveOutPause:", "Unable to pause device");
      TMMCustomSoundComponent::Started();
      queued_ = FillRing();
      state_ |= dsStarted;
    }
    if (queued_ <= 0) {
      TMMCustomSoundComponent::Stopped();
      RaiseError("DSWaveOutStarted:\n\r" + LoadMMString(kMMCannotStartDevice));
    }
    if (!(state_.load() & dsPaused))
      Check(DSWaveOutRestart(Context()), "DSWaveOutRestart:", "Unabele to restart device");
    FireEvent(OnStart);
  } catch (...) {
    FireEvent(OnError);
    state_ |= dsStarted;
    Close();
    state_ = dsClosed;
    throw;
  }
}

void TMMDSWaveOut::Pause() {
  try {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsPaused)) return;
    if (state_.load() & dsStarted) {
      Locked([this] {
        Check(DSWaveOutPause(Context()), "DSWaveOutPause:", "Unable to pause device");
        state_ |= dsPaused;
        if (HasUpstreamDevice()) {
          accumulated_ += LayerPosition();
          resetting_ = true;
        }
      });
      if (HasUpstreamDevice()) {
        Check(DSWaveOutReset(Context()), "DSWaveOutReset:", "Unable to reset device");
        ring_index_ = 0;
      }
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

void TMMDSWaveOut::Restart() {
  const std::uint32_t s = state_.load();
  if (!((s & dsStarted) && (s & dsPaused))) return;
  resetting_ = false;
  try {
    Check(DSWaveOutRestart(Context()), "DSWaveOutRestart:", "Unabele to restart device");
    state_ &= ~static_cast<std::uint32_t>(dsPaused);
    TMMCustomSoundComponent::Restarted();
    FireEvent(OnRestart);
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

void TMMDSWaveOut::Requeue() {
  if (!(state_.load() & (dsStarted | dsPaused)) || resetting_) return;
  Locked([this] { resetting_ = true; });
  try {
    if (!(state_.load() & dsPaused))
      Check(DSWaveOutPause(Context()), "DSWaveOutPause:", "Unable to pause device");
    DiscardPendingDone();
    WaitForWorkerHandler();
    Check(DSWaveOutReset(Context()), "DSWaveOutReset:", "Unable to reset device");
    for (int i = 0; i < kWaitRounds && resetting_ && outstanding_ > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    Locked([this] {
      ring_index_ = 0;
      outstanding_ = 0;
      accumulated_ = loop_start_ = 0;
      // Every buffer is back: the layer has nothing left to return.
      resetting_ = false;
    });
    TMMCustomSoundComponent::Reset();
    queued_ = FillRing();
    if (!(state_.load() & dsPaused))
      Check(DSWaveOutRestart(Context()), "DSWaveOutRestart:", "Unabele to restart device");
    if (queued_ == 0) Stop();
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

// --- stop -------------------------------------------------------------------

void TMMDSWaveOut::Stop() {
  if (!(state_.load() & (dsStarted | dsPaused))) return;
  Locked([this] {
    stopping_ = true;
    resetting_ = true;
  });
  try {
    // The reset runs outside the lock: the done notifications it gives take
    // the lock on their way.
    Check(DSWaveOutReset(Context()), "DSWaveOutReset:", "Unable to reset device");
    FinishStop();
  } catch (...) {
    FireEvent(OnError);
    Close();
    throw;
  }
}

void TMMDSWaveOut::FinishStop() {
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
  const auto deadline = std::chrono::steady_clock::now() + kStopWait;
  while (outstanding_ > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  DiscardPendingDone();
  TMMCustomSoundComponent::Stopped();
  const bool unprepared = FreeRing();
  queued_ = 0;
  outstanding_ = 0;
  ring_index_ = 0;
  stop_deferred_ = false;
  if (!unprepared) RaiseError("DSWaveOutUnprepareHeader:\n\rUnable to unprepare waveheaders");
  if (!Destroying()) FireEvent(OnStop);
  if (close_pending_) Close();
}

bool TMMDSWaveOut::FreeRing() {
  bool unprepared = true;
  for (PWaveHdr& h : ring_) {
    if (!h) continue;
    int polls = 0;
    while (!(h->dwFlags & WHDR_DONE) && polls < kDonePolls) ++polls;
    if (!(h->dwFlags & WHDR_DONE)) h->dwFlags = WHDR_DONE;
    if (Context() && DSWaveOutUnprepareHeader(Context(), h) != kDSOk) unprepared = false;
    FreeBlock(h);
  }
  return unprepared;
}

// --- returned buffers -------------------------------------------------------

void TMMDSWaveOut::PauseForEnd() {
  Check(DSWaveOutPause(Context()), "DSWaveOutPause:", "Unable to pause device");
}

void TMMDSWaveOut::BufferDone() {
  if (!EnterHandler()) return;
  std::exception_ptr error;
  try {
    PWaveHdr h = ring_[ring_index_];
    if (h && queued_ > 0) {
      if (++ring_index_ >= queued_) ring_index_ = 0;
      h->lpNext = ring_[ring_index_];
      // The displays show the buffer now heard: the next one, while there is one.
      h->lpNextBuffer = outstanding_ > 0 ? ring_[ring_index_] : nullptr;
      TMMCustomSoundComponent::BufferReady(h);
      // A loop mark counts whether or not the source has more to give.
      if (looping_ && h->bLoopDone && !stop_deferred_) {
        Locked([&] {
          loop_start_ = LayerPosition();
          h->bLoopDone = 0;
        });
        FireEvent(OnLooping);
      }
      if (more_buffers_ && !stop_deferred_) {
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

void TMMDSWaveOut::WorkerFailed(const std::exception& e) {
  thread_failed_ = true;
  platform::ShowException(e);
  if (IsOpen()) Close();
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMDSWaveOut::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMDSWaveOut>("TMMDSWaveOut", &TMMCustomWaveOutComponent::StaticClassInfo())
          .Creatable()
          .Build();
  return info;
}
