#include "playback/custom_wave_out.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "devices/mm_strings.h"
#include "platform/acm/acm_formats.h"
#include "platform/framework/properties.h"
#include "platform/framework/wait_cursor.h"
#include "platform/sysinfo/platform_flags.h"
#include "platform/threads/thread_messages.h"

namespace {

constexpr unsigned kWaitStepMs = 10;
constexpr int kStopRounds = 500;
constexpr int kRequeueRounds = 100;
constexpr int kDoneSleeps = 65000;
constexpr auto kDoneSleep = std::chrono::milliseconds(2);
constexpr std::int64_t kHourGlassBytes = 100000;
// How long a flush request or a running handler is waited for.
constexpr auto kHandoffWait = std::chrono::seconds(5);
constexpr std::uint32_t kStartedOrPaused = dsStarted | dsPaused;

}  // namespace

// --- worker thread ----------------------------------------------------------

TMMOutputThread::TMMOutputThread(TMMCustomWaveOutComponent* output)
    : TMMDSPThread(output),
      output_(output),
      ready_(output->ready_event_),
      terminate_(output->terminate_event_),
      flush_(output->flush_event_) {}

void TMMOutputThread::Execute() {
  SetPriority(output_->WorkerPriority());
  MSG msg;
  PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE);  // creates this thread's queue
  TEvent* ready = ready_.get();
  TEvent* const events[2] = {terminate_.get(), flush_.get()};
  ready->SetEvent();
  try {
    while (!Terminated()) {
      if (flush_->WaitFor(0) == wrSignaled) {
        while (PeekMessage(&msg, 0, MM_WOM_DONE, MM_WOM_DONE, PM_REMOVE)) {
        }
        output_->pending_done_ = 0;
        flush_->ResetEvent();
        continue;
      }
      if (!PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
        if (MsgWaitForMultipleObjects(2, events, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) break;
        continue;
      }
      if (msg.message == MM_WOM_DONE && msg.wParam == output_->HandleParam()) {
        --output_->pending_done_;
        if (!output_->handshake_.stopping) output_->BufferDone();
      } else {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
    }
  } catch (const std::exception& e) {
    output_->WorkerFailed(e);
    return;
  }
  ready->SetEvent();
}

// --- construction -----------------------------------------------------------

TMMCustomWaveOutComponent::TMMCustomWaveOutComponent(TComponent* owner)
    : TMMCustomSoundComponent(owner), ring_(kMaxWaveOutBuffers, nullptr) {}

TMMCustomWaveOutComponent::~TMMCustomWaveOutComponent() {
  DeallocateHWnd(window_);
  window_ = 0;
}

void TMMCustomWaveOutComponent::FireEvent(const TNotifyEvent& event) {
  if (event) event(this);
}

void TMMCustomWaveOutComponent::FireError() {
  if (lock_owner_.load() == std::this_thread::get_id() && error_slot_) {
    *error_slot_ = true;
    return;
  }
  FireEvent(OnError);
}

void TMMCustomWaveOutComponent::CheckNotOpen() {
  if (IsOpen()) RaiseError(LoadMMString(kMMChangeWhileOpen));
}

std::string TMMCustomWaveOutComponent::Prefixed(TOutputCall call, int id) const {
  return std::string(CallName(call)) + "\n\r" + LoadMMString(id);
}

std::int64_t TMMCustomWaveOutComponent::Position() {
  std::int64_t samples = 0;
  Check(ocPosition, DevicePosition(samples));
  return samples;
}

const WAVEFORMATEX* TMMCustomWaveOutComponent::DeviceFormat() {
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM) return format;
  const std::uint32_t mask = ChannelMask();
  if (mask == 0) return format;
  device_format_ = platform::ExtensiblePcm(*format, mask);
  return &device_format_.Format;
}

void TMMCustomWaveOutComponent::SetLooping(bool value) {
  if (value == looping_) return;
  looping_ = value;
  loops_left_ = loop_count_.load();
}

void TMMCustomWaveOutComponent::SetLoopCount(std::uint16_t value) {
  if (value == loop_count_) return;
  loop_count_ = value;
  loops_left_ = value;
}

void TMMCustomWaveOutComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
  Close();
  TMMCustomSoundComponent::SetPWaveFormat(format);
}

// --- open and close ---------------------------------------------------------

void TMMCustomWaveOutComponent::Open() {
  CheckOpenable();
  if (IsOpen()) Close();
  if (IsOpen() || handshake_.closing) return;
  handshake_.ClearForOpen();
  Guarded(gcAsOpen, [&] {
    if (!CanPlayFormat()) RaiseError(Prefixed(ocOpen, kMMCannotPlayFormat));
    CreateWindow();
    handle_ = nullptr;
    handshake_.close_pending = false;
    TMMCustomSoundComponent::Opened();
    if (callback_mode_ == cmThread && !StartWorker(WorkerWaitMs()))
      RaiseError(Prefixed(ocThread, kMMCannotCreateThread));
    Check(ocOpen, DeviceOpen());
    if (!WaitForDeviceState(state_, dsOpen, StateWaitRounds(), PumpsWhileWaiting()))
      RaiseError(Prefixed(ocOpen, kMMCannotOpenDevice));
    FireEvent(OnOpen);
  });
}

void TMMCustomWaveOutComponent::Close() {
  if (!IsOpen() || !handshake_.MayClose()) return;
  try {
    handshake_.closing = true;
    if (state_.load() & kStartedOrPaused) {
      try {
        Stop();
      } catch (const std::exception&) {
        // Reported through OnError already. Nothing may stay queued at a
        // device that is being closed.
        DeviceReset();
        state_ &= ~kStartedOrPaused;
        handshake_.stop_deferred = false;
        // A handler on the worker thread may still be using the ring; no new
        // one starts once the device is no longer started.
        WaitForWorkerHandler();
        ReleaseRing();
      }
    }
    if (handshake_.LeaveCloseToStop()) return;
    bool closed_in_time = true;
    if (Handle()) {
      Check(ocClose, DeviceClose());
      closed_in_time = WaitForDeviceState(state_, dsClosed, StateWaitRounds(), PumpsWhileWaiting());
    } else {
      state_ = dsClosed;
      closed_in_time = !ClosedWithoutHandleFails();
    }
    TMMCustomSoundComponent::Closed();
    if (callback_mode_ == cmThread) StopWorker();
    handle_ = nullptr;
    handshake_.closing = false;
    // Notifications still queued for the old handle refer to released buffers.
    RemovePendingMessages(window_, MM_WOM_DONE);
    RemovePendingMessages(window_, WM_STOPDEVICE);
    pending_done_ = 0;
    if (!Destroying()) FireEvent(OnClose);
    if (!closed_in_time) RaiseError(Prefixed(ocClose, kMMCannotCloseDevice));
  } catch (const std::exception&) {
    handshake_.closing = false;
  }
}

// --- the ring ---------------------------------------------------------------

void TMMCustomWaveOutComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  lpWaveHdr->dwBufferLength = static_cast<DWORD>(GetBufferSize());
  lpWaveHdr->dwBytesRecorded = 0;
  const bool looping = looping_;
  lpWaveHdr->bLooping = looping ? -1 : 0;
  if (looping) {
    lpWaveHdr->dwLoopCount = loop_count_;
    lpWaveHdr->dwLoopsLeft = static_cast<DWORD>(loops_left_.load());
    lpWaveHdr->bLoopDone = 0;
  }
  TMMCustomSoundComponent::BufferLoad(lpWaveHdr, MoreBuffers);
}

std::int64_t TMMCustomWaveOutComponent::Pull(PWaveHdr h) {
  bool more = false;
  BufferLoad(h, more);
  // A source never gets to claim more than the buffer holds.
  h->dwBytesRecorded = std::min(h->dwBytesRecorded, static_cast<DWORD>(GetBufferSize()));
  h->dwBufferLength = h->dwBytesRecorded;
  if (looping_) loops_left_ = static_cast<std::int32_t>(h->dwLoopsLeft);
  const auto yield = static_cast<std::int64_t>(h->dwBytesRecorded);
  more_buffers_ = more && yield > 0;
  return yield;
}

void TMMCustomWaveOutComponent::Write(PWaveHdr h) {
  if (OnBufferFilled) OnBufferFilled(this, h);
  if (handshake_.stopping) return;
  // Counted before the write, so that its return never finds the count short.
  ++outstanding_;
  const std::uint32_t result = DeviceWrite(h);
  if (result != 0) --outstanding_;
  Check(ocWrite, result);
}

PWaveHdr TMMCustomWaveOutComponent::RingEntry(std::int32_t i) {
  if (!ring_[i]) {
    const std::int32_t size = GetBufferSize();
    PWaveHdr h = NewRingBlock(size);
    ring_[i] = h;
    ResetDeviceHeader(h, size);
    PrepareHeader(h);
  }
  return ring_[i];
}

std::int32_t TMMCustomWaveOutComponent::FillRing() {
  more_buffers_ = true;
  const std::int32_t ring = RingSize();
  std::int32_t i = 0;
  for (; i < ring && more_buffers_; ++i) {
    PWaveHdr h = RingEntry(i);
    if (Pull(h) < 1) break;
    Write(h);
  }
  return i;
}

std::uint32_t TMMCustomWaveOutComponent::ReleaseRing() {
  std::uint32_t failure = 0;
  for (PWaveHdr& h : ring_) {
    if (!h) continue;
    AwaitHeaderDone(h);
    const std::uint32_t result = UnprepareHeader(h);
    if (failure == 0) failure = result;
    FreeRingBlock(h);
  }
  return failure;
}

// --- start, pause, restart --------------------------------------------------

void TMMCustomWaveOutComponent::Start() {
  Guarded(gcAsStarted, [&] {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsStarted)) return;
    Locked([this] { ZeroPositions(); });
    depth_ = 0;
    ring_index_ = 0;
    outstanding_ = 0;
    pending_done_ = 0;
    loops_left_ = loop_count_.load();
    handshake_.ClearForStart();
    {
      std::optional<TWaitCursor> cursor;
      if (WaitCursorAtStart() &&
          static_cast<std::int64_t>(GetBufferSize()) * num_buffers_ > kHourGlassBytes)
        cursor.emplace();
      Check(ocPause, DevicePause());
      TMMCustomSoundComponent::Started();
      queued_ = FillRing();
      state_ |= dsStarted;
    }
    if (queued_ <= 0) {
      TMMCustomSoundComponent::Stopped();
      RaiseError(Prefixed(ocStart, kMMCannotStartDevice));
    }
    if (!(state_.load() & dsPaused)) Check(ocRestart, DeviceRestart());
    FireEvent(OnStart);
  });
}

void TMMCustomWaveOutComponent::Pause() {
  Guarded(gcAsIs, [&] {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsPaused)) return;
    if (state_.load() & dsStarted) {
      Locked([this] {
        Check(ocPause, DevicePause());
        state_ |= dsPaused;
        if (HasUpstreamDevice()) {
          accumulated_ += Position();
          handshake_.resetting = true;
        }
      });
      // The reset runs outside the lock: the done notifications it gives
      // take the lock on their way.
      if (HasUpstreamDevice()) {
        Check(ocReset, DeviceReset());
        ring_index_ = 0;
        outstanding_ = 0;
      }
    }
    state_ |= dsPaused;
    TMMCustomSoundComponent::Paused();
    FireEvent(OnPause);
  });
}

void TMMCustomWaveOutComponent::Restart() {
  const std::uint32_t s = state_.load();
  if (!((s & dsStarted) && (s & dsPaused))) return;
  handshake_.resetting = false;
  Guarded(gcAsIs, [&] {
    const bool chain_first = ChainRestartsFirst();
    if (chain_first) TMMCustomSoundComponent::Restarted();
    Check(ocRestart, DeviceRestart());
    state_ &= ~static_cast<std::uint32_t>(dsPaused);
    if (!chain_first) TMMCustomSoundComponent::Restarted();
    FireEvent(OnRestart);
  });
}

void TMMCustomWaveOutComponent::Requeue() {
  if (!(state_.load() & kStartedOrPaused) || handshake_.resetting) return;
  Locked([this] { handshake_.resetting = true; });
  Guarded(gcAsIs, [&] {
    if (RequeuePausesPausedDevice() || !(state_.load() & dsPaused)) Check(ocPause, DevicePause());
    DiscardPendingDone();
    WaitForWorkerHandler();
    Check(ocReset, DeviceReset());
    WaitWhile([this] { return handshake_.resetting && outstanding_ > 0; }, kRequeueRounds);
    if (RequeueRestartsAfterReset()) {
      Check(ocRestart, DeviceRestart());
      Check(ocPause, DevicePause());
    }
    Locked([this] {
      ring_index_ = 0;
      outstanding_ = 0;
      ZeroPositions();
      // Every buffer is back: the device has nothing left to return.
      handshake_.resetting = false;
    });
    TMMCustomSoundComponent::Reset();
    queued_ = FillRing();
    if (!(state_.load() & dsPaused)) Check(ocRestart, DeviceRestart());
    if (queued_ == 0) Stop();
  });
}

// --- stop -------------------------------------------------------------------

void TMMCustomWaveOutComponent::Stop() {
  if (!(state_.load() & kStartedOrPaused)) return;
  Locked([this] {
    handshake_.stopping = true;
    handshake_.resetting = true;
  });
  Guarded(gcAsIs, [&] {
    BeforeStopReset();
    // The reset runs outside the lock: the done notifications it gives take
    // the lock on their way.
    Check(ocReset, DeviceReset());
    FinishStop();
  });
}

void TMMCustomWaveOutComponent::FinishStop() {
  if (!(state_.load() & kStartedOrPaused)) return;
  {
    std::lock_guard<TCriticalSection> lock(lock_);
    if (depth_ > 0) {
      // Called while a buffer is handled: finished by WM_STOPDEVICE once the
      // handler has unwound.
      handshake_.stop_deferred = true;
      return;
    }
    state_ &= ~kStartedOrPaused;
  }
  AwaitOutstanding();
  DiscardPendingDone();
  TMMCustomSoundComponent::Stopped();
  const std::uint32_t unprepared = ReleaseRing();
  queued_ = 0;
  outstanding_ = 0;
  ring_index_ = 0;
  handshake_.stop_deferred = false;
  if (unprepared != 0) Check(ocUnprepare, unprepared);
  if (!Destroying()) FireEvent(OnStop);
  if (handshake_.close_pending) Close();
}

void TMMCustomWaveOutComponent::AwaitOutstanding() {
  WaitWhile([this] { return outstanding_ > 0; }, kStopRounds);
}

template <class F>
void TMMCustomWaveOutComponent::WaitWhile(F busy, int rounds) {
  const auto idle = [&] { return !busy(); };
  for (int i = 0; i < rounds && busy(); ++i)
    WaitAndPumpUntil(kWaitStepMs, PumpsWhileWaiting(), idle);
}

// --- the buffer-done handler ------------------------------------------------

void TMMCustomWaveOutComponent::BufferDone() {
  if (!EnterHandler()) return;
  std::exception_ptr error;
  try {
    PWaveHdr h = ring_[ring_index_];
    if (h && queued_ > 0) {
      // Hand the played record on; the ring order is the write order.
      if (++ring_index_ >= queued_) ring_index_ = 0;
      PWaveHdr next = ring_[ring_index_];
      PrepareHandOn(h, next);
      // The displays show the buffer now heard: the next one, while there is one.
      h->lpNextBuffer = outstanding_ > 0 ? next : nullptr;
      TMMCustomSoundComponent::BufferReady(h);

      // A loop mark counts whether or not the source has more to give: the
      // last pass may already be wholly at the device.
      const std::int64_t p = PositionAtReturn();
      if (looping_ && h->bLoopDone && !handshake_.stop_deferred) {
        Locked([&] {
          loop_start_ = LoopStartAt(p);
          h->bLoopDone = 0;
        });
        if (ChainHearsLoops()) TMMCustomSoundComponent::Looped();
        FireEvent(OnLooping);
      }

      // Refill and write it again while the source has more.
      if (more_buffers_ && !handshake_.stop_deferred) {
        AwaitDone(h);
        if (Pull(h) <= 0 && !handshake_.stop_deferred)
          RaiseError(LoadMMString(kMMErrorFillingBuffer));
        if (!handshake_.stop_deferred) Write(h);
      }
    }
  } catch (...) {
    FireEvent(OnError);
    error = std::current_exception();
  }
  LeaveHandler(error != nullptr);
  if (error) std::rethrow_exception(error);
}

void TMMCustomWaveOutComponent::AwaitDone(PWaveHdr h) {
  for (int i = 0; i < kDoneSleeps && !(h->dwFlags & WHDR_DONE); ++i)
    std::this_thread::sleep_for(kDoneSleep);
}

bool TMMCustomWaveOutComponent::EnterHandler() {
  std::lock_guard<TCriticalSection> lock(lock_);
  if (!(state_.load() & dsStarted) || handshake_.resetting || handshake_.stopping) return false;
  ++depth_;
  return true;
}

void TMMCustomWaveOutComponent::LeaveHandler(bool failed) {
  Locked([&] {
    const int depth = --depth_;
    // A failed handler is followed by a close where it failed (window
    // procedure or worker thread): no stop is posted to run beside it.
    if (failed) return;
    // Buffers returned but not handled yet still go down the chain first.
    const bool drained = outstanding_ == 0 && pending_done_ == 0;
    if (depth != 0 || !(handshake_.stop_deferred || drained) || !handshake_.TakeStopPost()) return;
    // Posted whatever the pause says: the stop releases the device.
    const std::uint32_t paused = DevicePause();
    PostMessage(window_, WM_STOPDEVICE, HandleParam(), 0);
    Check(ocPause, paused);
  });
}

void TMMCustomWaveOutComponent::DiscardPendingDone() {
  if (callback_mode_ == cmWindow) {
    RemovePendingMessages(window_, MM_WOM_DONE);
    pending_done_ = 0;
    return;
  }
  if (callback_mode_ != cmThread || !flush_event_ || thread_failed_) return;
  if (OnWorkerThread()) {
    MSG msg;
    while (PeekMessage(&msg, 0, MM_WOM_DONE, MM_WOM_DONE, PM_REMOVE)) {
    }
    pending_done_ = 0;
    return;
  }
  flush_event_->SetEvent();
  const auto deadline = std::chrono::steady_clock::now() + kHandoffWait;
  while (flush_event_->WaitFor(0) == wrSignaled && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
}

void TMMCustomWaveOutComponent::WaitForWorkerHandler() {
  if (callback_mode_ != cmThread || OnWorkerThread()) return;
  const auto deadline = std::chrono::steady_clock::now() + kHandoffWait;
  while (depth_ > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool TMMCustomWaveOutComponent::OnWorkerThread() const {
  const DWORD worker = thread_id_;
  return worker != 0 && GetCurrentThreadId() == worker;
}

void TMMCustomWaveOutComponent::CreateWindow() {
  if (!window_) window_ = AllocateHWnd([this](TMessage& m) { WindowProc(m); });
}

// --- notifications ----------------------------------------------------------

void TMMCustomWaveOutComponent::DriverCallback(void* hwave, UINT msg, DWORD_PTR instance,
                                               DWORD_PTR param1, DWORD_PTR) {
  auto* self = reinterpret_cast<TMMCustomWaveOutComponent*>(instance);
  if (!self) return;
  HandleDriverNotification(
      [&] {
        if (!NoteOpenOrClose(self->state_, msg, WOM_OPEN, WOM_CLOSE) && msg == WOM_DONE)
          self->DriverDone(hwave, param1);
      },
      [self] { self->Close(); });
}

void TMMCustomWaveOutComponent::DriverDone(void* hwave, DWORD_PTR header) {
  {
    // Under the lock, so that a reset or stop that has begun never sees a
    // done message posted after it.
    std::lock_guard<TCriticalSection> lock(lock_);
    const int left = --outstanding_;
    if (handshake_.resetting) {
      if (left <= 0) handshake_.resetting = false;
      return;
    }
    if (handshake_.stopping) return;
    switch (callback_mode_) {
      case cmWindow:
        ++pending_done_;
        PostMessage(window_, MM_WOM_DONE, reinterpret_cast<WPARAM>(hwave),
                    static_cast<LPARAM>(header));
        return;
      case cmThread:
        if (thread_id_) {
          ++pending_done_;
          PostThreadMessage(thread_id_, MM_WOM_DONE, reinterpret_cast<WPARAM>(hwave),
                            static_cast<LPARAM>(header));
        }
        return;
      case cmCallback:
        break;
    }
  }
  BufferDone();
}

void TMMCustomWaveOutComponent::WindowProc(TMessage& msg) {
  if (!Handle() || msg.WParam != HandleParam()) return;
  try {
    if (NoteOpenOrClose(state_, msg.Msg, MM_WOM_OPEN, MM_WOM_CLOSE)) return;
    switch (msg.Msg) {
      case MM_WOM_DONE:
        if (!FunctionCallbacks) {
          // The device posts to the window itself: count the return here.
          std::lock_guard<TCriticalSection> lock(lock_);
          const int left = --outstanding_;
          if (handshake_.resetting) {
            if (left <= 0) handshake_.resetting = false;
            break;
          }
        }
        if (FunctionCallbacks) --pending_done_;
        if (!handshake_.stopping) BufferDone();
        break;
      case WM_STOPDEVICE:
        Stop();
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    FireEvent(OnError);
    Close();
    platform::ShowException(e);
  }
}

// --- worker thread ----------------------------------------------------------

bool TMMCustomWaveOutComponent::StartWorker(DWORD wait_ms) {
  thread_failed_ = false;
  ready_event_ = std::make_shared<TEvent>(false, false);
  terminate_event_ = std::make_shared<TEvent>(false, false);
  flush_event_ = std::make_shared<TEvent>(true, false);
  thread_ = NewWorker();
  thread_id_ = thread_->ThreadID();
  thread_->SetFreeOnTerminate(true);
  thread_->Resume();
  return ready_event_->WaitFor(wait_ms) == wrSignaled;
}

void TMMCustomWaveOutComponent::StopWorker() {
  if (!terminate_event_) return;
  if (!thread_failed_ && !OnWorkerThread()) {
    terminate_event_->SetEvent();
    ready_event_->WaitFor(5000);
  }
  thread_ = nullptr;
  thread_id_ = 0;
  ready_event_.reset();
  terminate_event_.reset();
  flush_event_.reset();
}

void TMMCustomWaveOutComponent::ApplyWorkerPriority(TThreadPriority priority) {
  if (thread_ && !thread_failed_) thread_->SetPriority(priority);
}

void TMMCustomWaveOutComponent::WorkerFailed(const std::exception& e) {
  thread_failed_ = true;
  if (IsOpen()) Close();
  platform::ShowException(e);
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMCustomWaveOutComponent::StaticClassInfo() {
  using T = TMMCustomWaveOutComponent;
  static const TClassInfo info =
      TClassInfoBuilder<T>("TMMCustomWaveOutComponent", &TMMCustomSoundComponent::StaticClassInfo())
          .Event("OnError", &T::OnError)
          .Event("OnOpen", &T::OnOpen)
          .Event("OnStart", &T::OnStart)
          .Event("OnPause", &T::OnPause)
          .Event("OnRestart", &T::OnRestart)
          .Event("OnStop", &T::OnStop)
          .Event("OnClose", &T::OnClose)
          .Event("OnLooping", &T::OnLooping)
          .Event<void(TComponent*, PWaveHdr)>("OnBufferFilled", &T::OnBufferFilled)
          .Event<void(TComponent*, PWaveHdr)>("OnBufferReady", &T::OnBufferReady)
          .Event<void(TComponent*, PWaveHdr, bool&)>("OnBufferLoad", &T::OnBufferLoad)
          .Ref<TMMDSPComponent>("Input", &T::GetInput, &T::SetInput)
          .Ref<TMMDSPComponent>("Output", &T::GetOutput, &T::SetOutput)
          .Int<std::int32_t>("BufferSize", &T::GetBufferSize, &T::SetBufferSize)
          .Int<std::int32_t>("NumBuffers", &T::GetNumBuffers, &T::SetNumBuffers)
          .Int<TMMDeviceId>("DeviceID", &T::GetDeviceID, &T::SetDeviceID, "TMMDeviceId")
          .Str<const std::string&>("ProductName", &T::GetProductName, &T::SetProductName)
          .Enum<TMMCBMode>("CallBackMode", {"cmWindow", "cmCallback", "cmThread"},
                           &T::GetCallBackMode, &T::SetCallBackMode)
          .Enum("TimeFormat", {"tfMillisecond", "tfByte", "tfSample"}, &T::GetTimeFormat,
                &T::SetTimeFormat)
          .Bool("Looping", &T::GetLooping, &T::SetLooping)
          .Int("LoopCount", &T::GetLoopCount, &T::SetLoopCount)
          .Build();
  return info;
}
