#include "capture/wave_in.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <thread>
#include <utility>

#include "devices/mm_strings.h"
#include "devices/wave_format.h"
#include "platform/framework/properties.h"
#include "platform/sysinfo/platform_flags.h"
#include "platform/threads/thread_messages.h"
#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_in.h"
#include "stream/device_handshake.h"
#include "stream/dsp_thread.h"

namespace {

constexpr std::int32_t kNoLimit = 2147483647;
constexpr int kWaitRounds = 100;
constexpr unsigned kWaitStepMs = 10;
constexpr DWORD kThreadWaitMs = 5000;

// Posted by a failed worker thread to the notification window (wParam = the
// device handle): close the device and report the failure.
constexpr UINT WM_CAPTUREFAILED = WM_STOPCAPTURE + 1;

}  // namespace

// The worker thread of cmThread: it takes the driver's buffer messages from
// its queue and hands them to the component. A failure ends the thread; the
// component closes the device on the GUI thread.
class TMMWaveInThread : public TMMDSPThread {
 public:
  // The thread keeps the events alive until its very end.
  explicit TMMWaveInThread(TMMCustomWaveIn* wave_in)
      : TMMDSPThread(wave_in),
        wave_in_(wave_in),
        ready_(wave_in->ready_event_),
        terminate_(wave_in->terminate_event_) {}

 protected:
  void Execute() override {
    SetPriority(wave_in_->priority_.load());
    MSG msg;
    PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE);  // creates this thread's queue
    TEvent* ready = ready_.get();
    TEvent* terminate = terminate_.get();
    ready->SetEvent();
    try {
      while (!Terminated()) {
        if (!PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
          if (MsgWaitForMultipleObjects(1, &terminate, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
            break;
          continue;
        }
        if (msg.message == MM_WIM_DATA &&
            msg.wParam == reinterpret_cast<WPARAM>(wave_in_->handle_)) {
          wave_in_->BufferDone(reinterpret_cast<PWaveHdr>(msg.lParam));
        } else {
          TranslateMessage(&msg);
          DispatchMessage(&msg);
        }
      }
    } catch (const std::exception&) {
      wave_in_->WorkerFailed(std::current_exception());
    }
    // The component waits for this signal before it may go; nothing of it is
    // used afterwards.
    wave_in_->WorkerEnding(this);
    ready->SetEvent();
  }

 private:
  TMMCustomWaveIn* wave_in_;
  std::shared_ptr<TEvent> ready_, terminate_;
};

TMMCustomWaveIn::TMMCustomWaveIn(TComponent* owner, const TWaveInDriverCalls& calls)
    : TMMCustomSoundComponent(owner), calls_(calls), headers_(kMaxWaveInBuffers, nullptr) {
  RebuildFormat();
  SetPWaveFormat(&own_format_);
  device_.Select(0);
  if (!HasState(csDesigning)) window_ = AllocateHWnd([this](TMessage& m) { WindowProc(m); });
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  SetState(csDestroying, true);
  if (handle_) Close();
  DeallocateHWnd(window_);
  window_ = 0;
  allocator_.FreeAll();
}

// --- errors -----------------------------------------------------------------

void TMMCustomWaveIn::RaiseError(const std::string& message) {
  FireEvent(OnError);
  throw EMMWaveInError(message);
}

std::string TMMCustomWaveIn::ErrorText(const std::string& prefix, MMRESULT result) {
  char text[255] = {};
  std::string message = prefix + "\n\r";
  if (calls_.GetErrorText(result, text, sizeof(text)) == MMSYSERR_NOERROR) return message + text;
  return message + LoadMMString(kMMUnknownErrorNumber);
}

void TMMCustomWaveIn::Check(const std::string& prefix, MMRESULT result) {
  last_result_ = result;
  if (result != MMSYSERR_NOERROR) RaiseError(ErrorText(prefix, result));
}

void TMMCustomWaveIn::CheckNotOpen() {
  if (IsOpen()) RaiseError(LoadMMString(kMMChangeWhileOpen));
}

void TMMCustomWaveIn::FireEvent(const TNotifyEvent& event) {
  if (event) event(this);
}

template <class F>
void TMMCustomWaveIn::Locked(F f) {
  std::unique_lock<TCriticalSection> lock(lock_, std::defer_lock);
  if (lock_initialized_) lock.lock();
  f();
}

// --- properties -------------------------------------------------------------

std::int64_t TMMCustomWaveIn::RecordedFrames() const {
  if (!IsOpen()) return -1;
  MMTIME time{};
  time.wType = TIME_SAMPLES;
  if (calls_.GetPosition(handle_, &time, sizeof(time)) != MMSYSERR_NOERROR ||
      time.wType != TIME_SAMPLES)
    return -1;
  return time.u.sample;
}

void TMMCustomWaveIn::SetDeviceID(TMMDeviceId value) {
  CheckNotOpen();
  device_.Select(value);
}

void TMMCustomWaveIn::SetNumBuffers(std::int32_t value) {
  if (value == num_buffers_ || value < 2) return;
  CheckNotOpen();
  num_buffers_ = std::min(value, kMaxWaveInBuffers);
}

void TMMCustomWaveIn::SetCallBackMode(TMMCBMode value) {
  if (value == callback_mode_) return;
  CheckNotOpen();
  if (!TakesCallBackMode(value, "TMMWaveIn")) return;
  callback_mode_ = value;
}

void TMMCustomWaveIn::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  CheckNotOpen();
  allocator_.FreeAll();
  std::fill(headers_.begin(), headers_.end(), nullptr);
  TMMCustomSoundComponent::SetBufferSize(std::max(value, 32));
}

TMMMode TMMCustomWaveIn::GetMode() const {
  if (channels_ == 2) return mStereo;
  if (channels_ == 1) return mMono;
  return mMultiChannel;
}

void TMMCustomWaveIn::SetMode(TMMMode value) {
  if (value == mMono)
    SetChannels(1);
  else if (value == mStereo)
    SetChannels(2);
}

void TMMCustomWaveIn::SetChannels(std::int32_t value) {
  value = std::clamp(value, 1, 8);
  if (value == channels_) return;
  CheckNotOpen();
  channels_ = value;
  RebuildFormat();
  SetPWaveFormat(&own_format_);
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
  if (value == bit_length_) return;
  CheckNotOpen();
  bit_length_ = value;
  RebuildFormat();
  SetPWaveFormat(&own_format_);
}

void TMMCustomWaveIn::SetSampleRate(std::int32_t value) {
  value = std::clamp(value, 8000, 100000);
  if (value == sample_rate_) return;
  CheckNotOpen();
  sample_rate_ = value;
  RebuildFormat();
  SetPWaveFormat(&own_format_);
}

void TMMCustomWaveIn::RebuildFormat() {
  BuildPCMFormat(own_format_, MMBitsToBitCount(bit_length_), channels_, sample_rate_);
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value) {
  if (value == time_format_) return;
  time_format_ = value;
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (max_record_time_ < 0 || !format) return;
  switch (value) {
    case tfMillisecond:
      max_record_time_ = BytesToMs(format, max_record_bytes_);
      break;
    case tfByte:
      max_record_time_ = max_record_bytes_;
      break;
    case tfSample:
      max_record_time_ = BytesToSamples(format, max_record_bytes_);
      break;
  }
}

void TMMCustomWaveIn::SetMaxRecordTime(std::int32_t value) {
  max_record_time_ = value;
  ComputeMaxRecordBytes();
}

void TMMCustomWaveIn::ComputeMaxRecordBytes() {
  const WAVEFORMATEX* format = GetPWaveFormat();
  std::int64_t bytes = kNoLimit;
  if (max_record_time_ >= 0 && format) {
    switch (time_format_) {
      case tfMillisecond:
        bytes = MsToBytes(format, max_record_time_);
        break;
      case tfByte:
        bytes = max_record_time_;
        break;
      case tfSample:
        bytes = SamplesToBytes(format, max_record_time_);
        break;
    }
    if (bytes < 0) bytes = kNoLimit;
  }
  if (format && format->nBlockAlign > 0) bytes -= bytes % format->nBlockAlign;
  max_record_bytes_ = static_cast<std::int32_t>(bytes);
}

void TMMCustomWaveIn::SetPriority(TThreadPriority value) {
  priority_ = value;
  std::lock_guard<std::mutex> lock(thread_lock_);
  if (thread_) thread_->SetPriority(value);
}

std::exception_ptr TMMCustomWaveIn::StopForRelink(bool relinking) {
  if (!relinking) return nullptr;
  try {
    Stop();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void TMMCustomWaveIn::SetInput(TMMDSPComponent* value) {
  std::exception_ptr error =
      StopForRelink(value != GetInput() && (!value || CanConnectInput(value)));
  TMMCustomSoundComponent::SetInput(value);
  if (error) std::rethrow_exception(error);
}

void TMMCustomWaveIn::SetOutput(TMMDSPComponent* value) {
  std::exception_ptr error =
      StopForRelink(value != GetOutput() && (!value || CanConnectOutput(value)));
  TMMCustomSoundComponent::SetOutput(value);
  if (error) std::rethrow_exception(error);
}

void TMMCustomWaveIn::Notification(TComponent* component, TOperation operation) {
  try {
    TMMCustomSoundComponent::Notification(component, operation);
  } catch (const std::exception&) {
    // The link is gone and the device closed; OnError has told of it.
  }
}

void TMMCustomWaveIn::SetPWaveFormat(const WAVEFORMATEX* format) {
  Close();
  if (IsSupportedPCMFormat(format)) {
    SetSampleRate(static_cast<std::int32_t>(format->nSamplesPerSec));
    SetBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
    SetChannels(format->nChannels);
  }
  TMMCustomSoundComponent::SetPWaveFormat(format);
}

// --- format check -----------------------------------------------------------

bool TMMCustomWaveIn::QueryFormat(TMMDeviceId device, const WAVEFORMATEX* format) {
  if (device < -1 || device >= GetNumDevs() || !format) return false;
  const UINT id = static_cast<UINT>(device);
  if (calls_.Open(nullptr, id, format, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) return false;
  if (format->wFormatTag != WAVE_FORMAT_PCM) return true;
  WAVEINCAPSA caps{};
  if (calls_.GetDevCaps(static_cast<UINT_PTR>(id), &caps, sizeof(caps)) != MMSYSERR_NOERROR)
    return false;
  const DWORD rate = format->nSamplesPerSec;
  const bool mono = format->nChannels == 1, stereo = format->nChannels == 2;
  const bool b8 = format->wBitsPerSample == 8, b16 = format->wBitsPerSample == 16;
  if (!(mono || stereo) || !(b8 || b16)) return true;
  // The capability bits of the three rate families: mono 8, mono 16,
  // stereo 8, stereo 16.
  static constexpr DWORD kFamilies[3][4] = {
      {WAVE_FORMAT_1M08, WAVE_FORMAT_1M16, WAVE_FORMAT_1S08, WAVE_FORMAT_1S16},
      {WAVE_FORMAT_2M08, WAVE_FORMAT_2M16, WAVE_FORMAT_2S08, WAVE_FORMAT_2S16},
      {WAVE_FORMAT_4M08, WAVE_FORMAT_4M16, WAVE_FORMAT_4S08, WAVE_FORMAT_4S16}};
  int family;
  if (rate >= 8000 && rate <= 11025)
    family = 0;
  else if (rate >= 11026 && rate <= 22050)
    family = 1;
  else if (rate >= 22051 && rate <= 48000)
    family = 2;
  else
    return true;
  return (caps.dwFormats & kFamilies[family][(stereo ? 2 : 0) + (b16 ? 1 : 0)]) != 0;
}

// --- open and close ---------------------------------------------------------

// cmWindow handles every buffer on the GUI thread after a post: the driver
// posts to the notification window itself, so that no thread of its own
// stands between the recorded data and the GUI thread. The other modes take
// the driver's callback function where the platform has them.
bool TMMCustomWaveIn::WindowDelivery() const {
  return !FunctionCallbacks || callback_mode_ == cmWindow;
}

void TMMCustomWaveIn::Open() {
  if (GetNumDevs() == 0) RaiseError(LoadMMString(kMMNoWaveInDevice));
  if (GetDeviceID() == InvalidId) RaiseError(LoadMMString(kMMInvalidDeviceId));
  if (!GetPWaveFormat()) RaiseError(LoadMMString(kMMInvalidWaveFormat));
  if (IsOpen()) Close();
  if (IsOpen() || handshake_.closing) return;
  handshake_.ClearForOpen();
  Guarded(gcAsOpen, [&] {
    if (!QueryFormat(GetDeviceID(), GetPWaveFormat()))
      RaiseError("WaveInOpen:\n\r" + LoadMMString(kMMCannotRecordFormat));
    if (!window_) window_ = AllocateHWnd([this](TMessage& m) { WindowProc(m); });
    handle_ = nullptr;
    handshake_.close_pending = false;
    open_notified_ = false;
    if (callback_mode_ != cmWindow) lock_initialized_ = true;
    if (callback_mode_ == cmThread) StartThread();
    const UINT id = static_cast<UINT>(GetDeviceID());
    if (!WindowDelivery())
      Check("WaveInOpen:", calls_.Open(&handle_, id, GetPWaveFormat(),
                                       reinterpret_cast<DWORD_PTR>(&DriverCallback),
                                       reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION));
    else
      Check("WaveInOpen:",
            calls_.Open(&handle_, id, GetPWaveFormat(), window_, 0, CALLBACK_WINDOW));
    // The chain is opened while the state lacks dsOpen, so that setters of
    // this component called along the chain do not refuse.
    std::uint32_t saved = state_.exchange(dsClosed);
    TMMCustomSoundComponent::Opened();
    // The driver's open notification may have come meanwhile.
    state_ = open_notified_ ? static_cast<std::uint32_t>(dsOpen) : saved;
    if (!WaitForDeviceState(state_, dsOpen, kWaitRounds, WindowDelivery()))
      RaiseError("WaveInOpen:\n\r" + LoadMMString(kMMCannotOpenDevice));
    PrepareBuffers();
    FireEvent(OnOpen);
  });
}

void TMMCustomWaveIn::PrepareBuffers() {
  const std::int32_t size = GetBufferSize();
  for (std::int32_t i = 0; i < num_buffers_; ++i) {
    if (headers_[i]) continue;
    void* block = allocator_.AllocBlock(
        GMEM_ZEROINIT, static_cast<std::uint32_t>(size) + static_cast<std::uint32_t>(kWaveHdrSize));
    if (!block) RaiseError(LoadMMString(kMMCannotAllocateHeader));
    auto* h = static_cast<PWaveHdr>(block);
    ResetDeviceHeader(h, size);
    headers_[i] = h;
  }
  for (std::int32_t i = 0; i < num_buffers_; ++i)
    if (headers_[i])
      Check("WaveInPrepareHeader:", calls_.PrepareHeader(handle_, headers_[i], sizeof(WAVEHDR)));
}

void TMMCustomWaveIn::UnprepareBuffers() {
  for (PWaveHdr h : headers_) {
    if (!h) continue;
    AwaitHeaderDone(h);
    Check("WaveInUnprepareHeader:", calls_.UnprepareHeader(handle_, h, sizeof(WAVEHDR)));
  }
}

void TMMCustomWaveIn::ReleaseBuffers() {
  for (PWaveHdr& h : headers_)
    if (h) allocator_.ReleaseBlock(h);
}

void TMMCustomWaveIn::Close() {
  if (!IsOpen() || !handshake_.MayClose()) return;
  try {
    handshake_.closing = true;
    if (state_.load() & (dsStarted | dsPaused)) Stop();
    if (handshake_.LeaveCloseToStop()) return;
    bool closed_in_time = true;
    // Unlike the outputs, which give their buffers back at each stop, the
    // capture buffers stay prepared from open to close: the driver is
    // stopped and reset once more and they are unprepared here.
    if (handle_) {
      calls_.Stop(handle_);
      calls_.Reset(handle_);
      UnprepareBuffers();
      Check("WaveInClose:", calls_.Close(handle_));
      closed_in_time = WaitForDeviceState(state_, dsClosed, kWaitRounds, WindowDelivery());
    }
    // Closed, also when the driver's notice is late: once the handle is
    // dropped a late notice is not heeded.
    state_ = dsClosed;
    TMMCustomSoundComponent::Closed();
    if (callback_mode_ == cmThread)
      StopThread();
    else
      lock_initialized_ = false;
    FinishClose();
    if (!closed_in_time) RaiseError(LoadMMString(kMMCannotCloseDevice));
  } catch (const std::exception&) {
    handshake_.closing = false;
  }
}

void TMMCustomWaveIn::FinishClose() {
  handle_ = nullptr;
  // Notifications still queued for the old handle refer to released buffers.
  RemovePendingMessages(window_, MM_WIM_DATA);
  RemovePendingMessages(window_, WM_STOPCAPTURE);
  ReleaseBuffers();
  handshake_.closing = false;
  if (!HasState(csDestroying)) FireEvent(OnClose);
}

// --- start, pause, restart, stop --------------------------------------------

void TMMCustomWaveIn::Opened() {
  Open();
}

void TMMCustomWaveIn::Closed() {
  Close();
}

void TMMCustomWaveIn::Started() {
  Start();
}

void TMMCustomWaveIn::Paused() {
  Pause();
}

void TMMCustomWaveIn::Restarted() {
  Restart();
}

void TMMCustomWaveIn::Stopped() {
  Stop();
}

void TMMCustomWaveIn::Start() {
  Guarded(gcAsStarted, [&] {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsStarted)) return;
    recorded_bytes_ = 0;
    depth_ = 0;
    handshake_.ClearForStart();
    queued_ = 0;
    ComputeMaxRecordBytes();
    for (std::int32_t i = 0; i < num_buffers_; ++i) {
      PWaveHdr h = headers_[i];
      if (!h) continue;
      h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
      Check("WaveInAddBuffer:", calls_.AddBuffer(handle_, h, sizeof(WAVEHDR)));
      ++queued_;
    }
    FinishStart();
  });
}

void TMMCustomWaveIn::FinishStart() {
  const std::uint32_t before = state_.fetch_or(dsStarted);
  if (!(before & dsPaused)) Check("WaveInStart:", calls_.Start(handle_));
  TMMCustomSoundComponent::Started();
  FireEvent(OnStart);
}

void TMMCustomWaveIn::Pause() {
  Guarded(gcAsIs, [&] {
    if (!IsOpen()) Open();
    if (!IsOpen() || (state_.load() & dsPaused)) return;
    if (state_.load() & dsStarted) Check("WaveInPause:", calls_.Stop(handle_));
    FinishPause();
  });
}

void TMMCustomWaveIn::FinishPause() {
  state_ |= dsPaused;
  TMMCustomSoundComponent::Paused();
  FireEvent(OnPause);
}

void TMMCustomWaveIn::Restart() {
  Guarded(gcAsIs, [&] {
    const std::uint32_t s = state_.load();
    if (!((s & dsStarted) && (s & dsPaused))) return;
    Check("WaveInRestart:", calls_.Start(handle_));
    FinishRestart();
  });
}

void TMMCustomWaveIn::FinishRestart() {
  state_ &= ~static_cast<std::uint32_t>(dsPaused);
  TMMCustomSoundComponent::Restarted();
  FireEvent(OnRestart);
}

void TMMCustomWaveIn::Stop() {
  Guarded(gcAsIs, [&] {
    if (!(state_.load() & (dsStarted | dsPaused))) return;
    Locked([this] {
      handshake_.stopping = true;
      Check("WaveInStop:", calls_.Stop(handle_));
      handshake_.resetting = true;
      Check("WaveInReset:", calls_.Reset(handle_));
    });
    if (!InsideBufferDone()) WaitForBuffers();
    FinishStop();
  });
}

void TMMCustomWaveIn::WaitForBuffers() {
  // A failed worker thread accounts for nothing any more.
  if (thread_failed_) return;
  const bool gui = platform::IsGuiThread();
  const auto returned = [this] { return queued_ == 0 && depth_ == 0; };
  for (int i = 0; i < kWaitRounds && !returned(); ++i) {
    // A worker thread may be waiting for the GUI thread to run a method.
    if (gui) platform::CheckSynchronize();
    WaitAndPumpUntil(kWaitStepMs, callback_mode_ == cmWindow, returned);
  }
}

void TMMCustomWaveIn::FinishStop() {
  if (!(state_.load() & (dsStarted | dsPaused))) return;
  // Deferred only on the thread handling a buffer: unlike the outputs, a
  // stop from another thread waits for that handling (WaitForBuffers).
  if (InsideBufferDone()) {
    // Called from inside the chain's buffer handling: finished once that
    // handling has unwound (WM_STOPCAPTURE).
    handshake_.stop_deferred = true;
    return;
  }
  state_ &= ~static_cast<std::uint32_t>(dsStarted | dsPaused);
  queued_ = 0;
  handshake_.stop_deferred = false;
  TMMCustomSoundComponent::Stopped();
  if (!HasState(csDestroying)) FireEvent(OnStop);
  if (handshake_.close_pending) Close();
}

// --- buffers ----------------------------------------------------------------

void TMMCustomWaveIn::BufferDone(PWaveHdr header) {
  if (!(state_.load() & dsStarted)) return;
  if (handshake_.resetting || handshake_.stopping) {
    // A buffer the driver gives back because of a stop: it is accounted for
    // here, whether or not the stop is deferred. What it holds was recorded
    // and goes on, also when it arrives after the reset began (a driver
    // that returns the part-filled buffer through its callback, later).
    // Handled as inside the buffer handling, so that a stop or close asked
    // for by its handler is left to the stop under way.
    if (handshake_.stopping && header->dwBytesRecorded > 0) {
      if (depth_++ == 0) handler_thread_ = std::this_thread::get_id();
      try {
        BufferReady(header);
      } catch (...) {
        --depth_;
        throw;
      }
      --depth_;
    }
    Locked([this] {
      if (--queued_ <= 0) handshake_.resetting = false;
    });
    return;
  }
  if (depth_++ == 0) handler_thread_ = std::this_thread::get_id();
  Locked([this] { --queued_; });
  std::exception_ptr error;
  try {
    BufferReady(header);
    // A stop that began meanwhile on another thread has reset the driver:
    // the buffer stays out.
    Locked([&] {
      if (handshake_.stop_deferred || handshake_.stopping) return;
      header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
      Check("WaveInAddBuffer:", calls_.AddBuffer(handle_, header, sizeof(WAVEHDR)));
      ++queued_;
    });
  } catch (...) {
    FireEvent(OnError);
    error = std::current_exception();
  }
  if (depth_ == 1 && handshake_.stop_deferred && handshake_.TakeStopPost())
    PostMessage(window_, WM_STOPCAPTURE, reinterpret_cast<WPARAM>(handle_), 0);
  // Last: a stop on another thread waits for this.
  --depth_;
  if (error) std::rethrow_exception(error);
}

bool TMMCustomWaveIn::InsideBufferDone() const {
  return depth_ > 0 && handler_thread_.load() == std::this_thread::get_id();
}

void TMMCustomWaveIn::BufferReady(PWaveHdr lpWaveHdr) {
  recorded_bytes_ += lpWaveHdr->dwBytesRecorded;
  bool limit_hit = false;
  if (max_record_time_ > 0 && recorded_bytes_ >= max_record_bytes_) {
    const std::int64_t excess = recorded_bytes_ - max_record_bytes_;
    lpWaveHdr->dwBytesRecorded -= static_cast<DWORD>(excess);
    recorded_bytes_ = max_record_bytes_;
    limit_hit = true;
  }
  TMMCustomSoundComponent::BufferReady(lpWaveHdr);
  if (limit_hit && !handshake_.stopping) Stop();
}

// --- notifications ----------------------------------------------------------

void TMMCustomWaveIn::WindowProc(TMessage& msg) {
  if (msg.WParam != reinterpret_cast<WPARAM>(handle_) || !handle_) return;
  try {
    if (NoteOpenOrClose(state_, msg.Msg, MM_WIM_OPEN, MM_WIM_CLOSE)) return;
    switch (msg.Msg) {
      case MM_WIM_DATA:
        BufferDone(reinterpret_cast<PWaveHdr>(msg.LParam));
        break;
      case WM_STOPCAPTURE:
        Stop();
        break;
      case WM_CAPTUREFAILED: {
        std::exception_ptr error;
        {
          std::lock_guard<std::mutex> lock(thread_lock_);
          error = std::exchange(worker_error_, nullptr);
        }
        if (error) std::rethrow_exception(error);
        break;
      }
      default:
        break;
    }
  } catch (const std::exception& e) {
    // The chain stops showing the stream at once: closing may wait for the
    // driver while other devices' failures are being reported.
    if (state_.load() & (dsStarted | dsPaused)) TMMCustomSoundComponent::Stopped();
    Close();
    platform::ShowException(e);
  }
}

void TMMCustomWaveIn::DriverCallback(void* hwave, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                                     DWORD_PTR) {
  auto* self = reinterpret_cast<TMMCustomWaveIn*>(instance);
  if (!self) return;
  HandleDriverNotification([&] { self->DriverNotified(hwave, msg, param1); },
                           [self] { self->Close(); });
}

void TMMCustomWaveIn::DriverNotified(void* hwave, UINT msg, DWORD_PTR header) {
  if (msg == WIM_OPEN) open_notified_ = true;
  if (NoteOpenOrClose(state_, msg, WIM_OPEN, WIM_CLOSE) || msg != WIM_DATA) return;
  const auto w = reinterpret_cast<WPARAM>(hwave);
  const auto l = static_cast<LPARAM>(header);
  if (callback_mode_ == cmWindow)
    PostMessage(window_, MM_WIM_DATA, w, l);
  else if (callback_mode_ == cmCallback)
    BufferDone(reinterpret_cast<PWaveHdr>(header));
  else if (thread_id_)
    PostThreadMessage(thread_id_, MM_WIM_DATA, w, l);
}

// --- worker thread ----------------------------------------------------------

void TMMCustomWaveIn::StartThread() {
  Locked([this] { thread_failed_ = false; });
  ready_event_ = std::make_shared<TEvent>(false, false);
  terminate_event_ = std::make_shared<TEvent>(false, false);
  {
    std::lock_guard<std::mutex> lock(thread_lock_);
    worker_error_ = nullptr;
    thread_ = new TMMWaveInThread(this);
    thread_id_ = thread_->ThreadID();
    thread_->SetFreeOnTerminate(true);
    thread_->Resume();
  }
  if (ready_event_->WaitFor(kThreadWaitMs) != wrSignaled)
    RaiseError("WaveIn:\n\r" + LoadMMString(kMMCannotCreateThread));
}

void TMMCustomWaveIn::StopThread() {
  // A failed thread has ended, or is about to: its last signal is waited for
  // all the same, so that it is gone before the component is.
  if (callback_mode_ == cmThread && terminate_event_) {
    terminate_event_->SetEvent();
    ready_event_->WaitFor(kThreadWaitMs);
  }
  {
    std::lock_guard<std::mutex> lock(thread_lock_);
    thread_ = nullptr;
  }
  thread_id_ = 0;
  ready_event_.reset();
  terminate_event_.reset();
  lock_initialized_ = false;
}

void TMMCustomWaveIn::WorkerFailed(std::exception_ptr error) {
  thread_failed_ = true;
  // The driver's buffers are no longer posted to this thread.
  thread_id_ = 0;
  {
    std::lock_guard<std::mutex> lock(thread_lock_);
    worker_error_ = error;
  }
  PostMessage(window_, WM_CAPTUREFAILED, reinterpret_cast<WPARAM>(handle_), 0);
}

void TMMCustomWaveIn::WorkerEnding(TMMWaveInThread* thread) {
  std::lock_guard<std::mutex> lock(thread_lock_);
  if (thread_ == thread) thread_ = nullptr;
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMCustomWaveIn::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMCustomWaveIn>("TMMCustomWaveIn",
                                         &TMMCustomSoundComponent::StaticClassInfo())
          .Event("OnError", &TMMCustomWaveIn::OnError)
          .Event("OnOpen", &TMMCustomWaveIn::OnOpen)
          .Event("OnStart", &TMMCustomWaveIn::OnStart)
          .Event("OnPause", &TMMCustomWaveIn::OnPause)
          .Event("OnRestart", &TMMCustomWaveIn::OnRestart)
          .Event("OnStop", &TMMCustomWaveIn::OnStop)
          .Event("OnClose", &TMMCustomWaveIn::OnClose)
          .Event<void(TComponent*, PWaveHdr)>("OnBufferReady", &TMMCustomWaveIn::OnBufferReady)
          .Ref<TMMDSPComponent>("Output", &TMMCustomWaveIn::GetOutput, &TMMCustomWaveIn::SetOutput)
          .Int<std::int32_t>("BufferSize", &TMMCustomWaveIn::GetBufferSize,
                             &TMMCustomWaveIn::SetBufferSize)
          .Enum("CallBackMode", {"cmWindow", "cmCallback", "cmThread"},
                &TMMCustomWaveIn::GetCallBackMode, &TMMCustomWaveIn::SetCallBackMode)
          .Int("DeviceID", &TMMCustomWaveIn::GetDeviceID, &TMMCustomWaveIn::SetDeviceID,
               "TMMDeviceId")
          .Int("NumBuffers", &TMMCustomWaveIn::GetNumBuffers, &TMMCustomWaveIn::SetNumBuffers)
          .Str("ProductName", &TMMCustomWaveIn::GetProductName, &TMMCustomWaveIn::SetProductName)
          .Enum("Mode", {"mMono", "mStereo", "mMultiChannel"}, &TMMCustomWaveIn::GetMode,
                &TMMCustomWaveIn::SetMode)
          .Int("Channels", &TMMCustomWaveIn::GetChannels, &TMMCustomWaveIn::SetChannels)
          .Enum("BitLength", {"b8Bit", "b16Bit"}, &TMMCustomWaveIn::GetBitLength,
                &TMMCustomWaveIn::SetBitLength)
          .Int("SampleRate", &TMMCustomWaveIn::GetSampleRate, &TMMCustomWaveIn::SetSampleRate)
          .Enum("TimeFormat", {"tfMillisecond", "tfByte", "tfSample"},
                &TMMCustomWaveIn::GetTimeFormat, &TMMCustomWaveIn::SetTimeFormat)
          .Int("MaxRecordTime", &TMMCustomWaveIn::GetMaxRecordTime,
               &TMMCustomWaveIn::SetMaxRecordTime)
          .Enum("Priority",
                {"tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest",
                 "tpTimeCritical"},
                &TMMCustomWaveIn::GetPriority, &TMMCustomWaveIn::SetPriority)
          .Build();
  return info;
}

TMMWaveIn::TMMWaveIn(TComponent* owner) : TMMCustomWaveIn(owner, DriverCalls()) {}

const TWaveInDriverCalls& TMMWaveIn::DriverCalls() {
  static const TWaveInDriverCalls calls = {
      waveInGetNumDevs,    waveInGetDevCapsA,     waveInGetErrorTextA, waveInOpen,  waveInClose,
      waveInPrepareHeader, waveInUnprepareHeader, waveInAddBuffer,     waveInStart, waveInStop,
      waveInReset,         waveInGetPosition,     waveInGetID};
  return calls;
}

const TClassInfo& TMMWaveIn::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMWaveIn>("TMMWaveIn", &TMMCustomWaveIn::StaticClassInfo())
          .Creatable()
          .Build();
  return info;
}
