#include "playback/custom_wave_out.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "devices/mm_strings.h"
#include "platform/framework/properties.h"
#include "platform/sysinfo/platform_flags.h"
#include "platform/threads/thread_messages.h"

namespace {

constexpr unsigned kWaitStepMs = 10;
// How long a flush request or a running handler is waited for.
constexpr auto kHandoffWait = std::chrono::seconds(5);

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
        if (!output_->stopping_) output_->BufferDone();
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

// --- pulling ----------------------------------------------------------------

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

// --- the buffer-done handler's frame ----------------------------------------

bool TMMCustomWaveOutComponent::EnterHandler() {
  std::lock_guard<TCriticalSection> lock(lock_);
  if (!(state_.load() & dsStarted) || resetting_ || stopping_) return false;
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
    if (depth != 0 || !(stop_deferred_ || drained) || stop_posted_) return;
    stop_posted_ = true;
    stopping_ = true;
    std::exception_ptr pause_error;
    try {
      PauseForEnd();
    } catch (...) {
      pause_error = std::current_exception();
    }
    // Posted whatever the pause said: the stop releases the device.
    PostMessage(window_, WM_STOPDEVICE, HandleParam(), 0);
    if (pause_error) std::rethrow_exception(pause_error);
  });
}

void TMMCustomWaveOutComponent::DiscardPendingDone() {
  if (callback_mode_ == cmWindow) {
    RemovePendingMessages(window_, MM_WOM_DONE);
    pending_done_ = 0;
    return;
  }
  if (callback_mode_ != cmThread || !flush_event_ || thread_failed_) return;
  if (thread_ && thread_->IsCurrentThread()) {
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
  if (callback_mode_ != cmThread || (thread_ && thread_->IsCurrentThread())) return;
  const auto deadline = std::chrono::steady_clock::now() + kHandoffWait;
  while (depth_ > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool TMMCustomWaveOutComponent::WaitForState(TMMDeviceStateFlag flag, int rounds, bool pump) {
  for (int i = 0; i < rounds; ++i) {
    if (state_.load() & flag) return true;
    WaitAndPump(kWaitStepMs, pump);
  }
  return (state_.load() & flag) != 0;
}

void TMMCustomWaveOutComponent::CreateWindow() {
  if (!window_) window_ = AllocateHWnd([this](TMessage& m) { WindowProc(m); });
}

// --- notifications ----------------------------------------------------------

void TMMCustomWaveOutComponent::DriverCallback(void* hwave, UINT msg, DWORD_PTR instance,
                                               DWORD_PTR param1, DWORD_PTR) {
  auto* self = reinterpret_cast<TMMCustomWaveOutComponent*>(instance);
  if (!self) return;
  try {
    switch (msg) {
      case WOM_OPEN:
        self->state_ = dsOpen;
        break;
      case WOM_CLOSE:
        self->state_ = dsClosed;
        break;
      case WOM_DONE:
        self->DriverDone(hwave, param1);
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    self->Close();
    platform::ShowException(e);
  }
}

void TMMCustomWaveOutComponent::DriverDone(void* hwave, DWORD_PTR header) {
  {
    // Under the lock, so that a reset or stop that has begun never sees a
    // done message posted after it.
    std::lock_guard<TCriticalSection> lock(lock_);
    const int left = --outstanding_;
    if (resetting_) {
      if (left <= 0) resetting_ = false;
      return;
    }
    if (stopping_) return;
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
    switch (msg.Msg) {
      case MM_WOM_OPEN:
        state_ = dsOpen;
        break;
      case MM_WOM_CLOSE:
        state_ = dsClosed;
        break;
      case MM_WOM_DONE:
        if (!FunctionCallbacks) {
          // The device posts to the window itself: count the return here.
          std::lock_guard<TCriticalSection> lock(lock_);
          const int left = --outstanding_;
          if (resetting_) {
            if (left <= 0) resetting_ = false;
            break;
          }
        }
        if (FunctionCallbacks) --pending_done_;
        if (!stopping_) BufferDone();
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
  if (!thread_failed_ && !(thread_ && thread_->IsCurrentThread())) {
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
