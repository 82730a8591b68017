#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/device_state.h"
#include "devices/mm_types.h"
#include "devices/wave_devices.h"
#include "platform/messages/messages.h"
#include "platform/threads/sync_objects.h"
#include "platform/threads/thread.h"
#include "platform/wave/wave_hdr.h"
#include "stream/allocator.h"
#include "stream/device_handshake.h"
#include "stream/sound_component.h"

class EMMWaveInError : public Exception {
 public:
  using Exception::Exception;
};

// Posted to the notification window to finish a stop that was requested
// while a buffer was being handled (wParam = device handle).
inline constexpr UINT WM_STOPCAPTURE = 0x8002;

// The most buffers a capture component keeps.
inline constexpr std::int32_t kMaxWaveInBuffers = 4096;

// The platform calls a capture component makes, filled by InitDriverCalls.
struct TWaveInDriverCalls {
  UINT (*GetNumDevs)();
  MMRESULT (*GetDevCaps)(UINT_PTR, WAVEINCAPSA*, UINT);
  MMRESULT (*GetErrorText)(MMRESULT, LPSTR, UINT);
  MMRESULT (*Open)(LPHWAVEIN, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
  MMRESULT (*Close)(HWAVEIN);
  MMRESULT (*PrepareHeader)(HWAVEIN, LPWAVEHDR, UINT);
  MMRESULT (*UnprepareHeader)(HWAVEIN, LPWAVEHDR, UINT);
  MMRESULT (*AddBuffer)(HWAVEIN, LPWAVEHDR, UINT);
  MMRESULT (*Start)(HWAVEIN);
  MMRESULT (*Stop)(HWAVEIN);
  MMRESULT (*Reset)(HWAVEIN);
  MMRESULT (*GetPosition)(HWAVEIN, LPMMTIME, UINT);
  MMRESULT (*GetID)(HWAVEIN, UINT*);
};

class TMMWaveInThread;

// Records continuously from one wave input device and pushes every filled
// buffer down its chain with BufferReady. A ring of buffers stays queued at
// the driver; each goes back as soon as the chain has seen it. It is the head
// of its chain: it publishes Output, no Input.
//
// Where a returned buffer is handled depends on CallBackMode: cmWindow on the
// GUI thread (the driver posts to the notification window), cmThread
// on the component's worker thread. Everything else runs on the GUI thread: a
// stop or close there waits for a worker inside buffer handling, and a worker
// that fails hands the shutdown to it.
class TMMCustomWaveIn : public TMMCustomSoundComponent {
 public:
  TMMCustomWaveIn(TComponent* owner, const TWaveInDriverCalls& calls);
  ~TMMCustomWaveIn() override;

  // Guarded operations: a failure fires OnError, closes the device and
  // raises EMMWaveInError. Close never raises.
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();

  // Fires OnError, then raises EMMWaveInError with the message.
  [[noreturn]] virtual void RaiseError(const std::string& message);

  // Whether the device can record format (device -1 is the mapper).
  bool QueryFormat(TMMDeviceId device, const WAVEFORMATEX* format);

  // Device fields.
  std::int32_t GetNumDevs() const { return device_.GetNumDevs(); }
  void SetDeviceID(TMMDeviceId value) override;
  TMMDeviceId GetDeviceID() const override { return device_.GetDeviceID(); }
  // Read-only: the value given is ignored.
  void SetProductName(const std::string&) override {}
  const std::string& GetProductName() const override { return device_.GetProductName(); }
  std::uint32_t GetDriverVersion() const { return device_.GetDriverVersion(); }
  void SetNumBuffers(std::int32_t value) override;
  std::int32_t GetNumBuffers() const override { return num_buffers_; }
  void SetCallBackMode(TMMCBMode value) override;
  TMMCBMode GetCallBackMode() const override { return callback_mode_; }

  void SetBufferSize(std::int32_t value) override;
  TMMMode GetMode() const;
  void SetMode(TMMMode value);
  std::int32_t GetChannels() const { return channels_; }
  void SetChannels(std::int32_t value);
  TMMBits GetBitLength() const { return bit_length_; }
  void SetBitLength(TMMBits value);
  std::int32_t GetSampleRate() const { return sample_rate_; }
  void SetSampleRate(std::int32_t value);
  TMMTimeFormats GetTimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value);
  std::int32_t GetMaxRecordTime() const { return max_record_time_; }
  void SetMaxRecordTime(std::int32_t value);
  TThreadPriority GetPriority() const { return priority_.load(); }
  void SetPriority(TThreadPriority value);

  // Set of TMMDeviceStateFlag; a closed device holds exactly dsClosed.
  std::uint32_t DeviceState() const { return state_.load(); }
  bool IsOpen() const { return (state_.load() & dsOpen) != 0; }
  // A close is under way (it may wait for the driver, handling messages).
  bool IsClosing() const { return handshake_.closing; }
  // The limit in bytes (2147483647 when there is none).
  std::int32_t MaxRecordBytes() const { return max_record_bytes_; }
  MMRESULT LastResult() const { return last_result_; }
  // Frames the device has recorded since it started, by the driver's own
  // count (its position, finer than the buffers handed on); -1 when the
  // device is closed or the driver cannot say. GUI thread.
  std::int64_t RecordedFrames() const;

  // A new link stops the driver as well as the component first.
  void SetInput(TMMDSPComponent* value) override;
  void SetOutput(TMMDSPComponent* value) override;
  // A failed stop of a removed link was reported through OnError already.
  void Notification(TComponent* component, TOperation operation) override;

  // A new format closes the device; a supported PCM format also sets
  // SampleRate, BitLength and Channels.
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  // Notifications reaching the device (from a link or format change) run its
  // own operations, as on the outputs.
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  friend class TMMWaveInThread;

  // Whether the driver notifies through the notification window (else
  // through the driver callback); fixed at Open.
  bool WindowDelivery() const;
  // The last steps of Start, Pause, Restart, Stop and Close: the device's
  // state, the chain's notification and the event.
  void FinishStart();
  void FinishPause();
  void FinishRestart();
  // Deferred while this thread handles a buffer (WM_STOPCAPTURE finishes it).
  void FinishStop();
  // Releases the buffers; fires OnClose unless being destroyed.
  void FinishClose();
  // A returned buffer; runs where CallBackMode says.
  void BufferDone(PWaveHdr header);
  // Whether the caller is the thread that is handling a returned buffer: a
  // stop from there is finished once that handling has unwound.
  bool InsideBufferDone() const;
  // Waits until the buffers given back by a stop are accounted for and no
  // other thread is handling one.
  void WaitForBuffers();
  // Stops the driver and the component before a link changes; the error of
  // a failed stop, which left the device closed.
  std::exception_ptr StopForRelink(bool relinking);
  void WindowProc(TMessage& msg);
  // A driver notification, on the driver's thread.
  void DriverNotified(void* hwave, UINT msg, DWORD_PTR header);
  static void DriverCallback(void* hwave, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2);

  // "<prefix>" LF CR "<platform text for result>".
  std::string ErrorText(const std::string& prefix, MMRESULT result);
  // Raises with ErrorText unless result is MMSYSERR_NOERROR.
  void Check(const std::string& prefix, MMRESULT result);
  void CheckNotOpen();
  void FireEvent(const TNotifyEvent& event);
  // Runs a guarded operation (see RunGuarded).
  template <class F>
  void Guarded(TMMGuardClose how, F op) {
    RunGuarded(
        state_, how, op, [this] { FireEvent(OnError); }, [this] { Close(); });
  }
  void RebuildFormat();
  void ComputeMaxRecordBytes();
  void PrepareBuffers();
  void UnprepareBuffers();
  void ReleaseBuffers();
  void StartThread();
  void StopThread();
  // Worker thread: hands its failure to the GUI thread, which closes the
  // device there and reports it.
  void WorkerFailed(std::exception_ptr error);
  // Worker thread, at its very end: the component lets go of it.
  void WorkerEnding(TMMWaveInThread* thread);
  // Runs f under the lock when the lock exists (modes other than cmWindow).
  template <class F>
  void Locked(F f);

  TWaveInDriverCalls calls_;
  TMMWaveDeviceInfo device_{false};
  HWAVEIN handle_ = nullptr;
  std::atomic<std::uint32_t> state_{dsClosed};
  std::atomic<bool> open_notified_{false};
  std::atomic<MMRESULT> last_result_{MMSYSERR_NOERROR};
  std::int32_t num_buffers_ = 10;
  std::int32_t channels_ = 1;
  TMMBits bit_length_ = b8Bit;
  std::int32_t sample_rate_ = 11025;
  TMMTimeFormats time_format_ = tfByte;
  TMMCBMode callback_mode_ = cmWindow;
  std::int32_t max_record_time_ = -1;
  std::int32_t max_record_bytes_ = 2147483647;
  std::atomic<TThreadPriority> priority_{tpHigher};
  WAVEFORMATEX own_format_{};
  TMMAllocator allocator_;
  std::vector<PWaveHdr> headers_;
  HWND window_ = 0;

  // Stop and close handshake; shared with the thread that handles buffers.
  std::atomic<int> queued_{0};
  std::atomic<int> depth_{0};
  TMMDeviceHandshake handshake_;
  std::atomic<std::int64_t> recorded_bytes_{0};
  // The thread of the buffer handling in progress (depth_ > 0).
  std::atomic<std::thread::id> handler_thread_{};

  TCriticalSection lock_;
  bool lock_initialized_ = false;
  // The worker thread frees itself: thread_lock_ guards the reference to it
  // and the failure it hands over.
  std::mutex thread_lock_;
  TMMWaveInThread* thread_ = nullptr;
  std::exception_ptr worker_error_;
  std::atomic<DWORD> thread_id_{0};
  std::shared_ptr<TEvent> ready_event_, terminate_event_;
  std::atomic<bool> thread_failed_{false};
};

// The wave input component over the platform's wave input calls.
class TMMWaveIn : public TMMCustomWaveIn {
 public:
  explicit TMMWaveIn(TComponent* owner);
  static const TWaveInDriverCalls& DriverCalls();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};
