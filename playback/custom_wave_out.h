#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/device_state.h"
#include "devices/mm_types.h"
#include "platform/messages/messages.h"
#include "platform/threads/sync_objects.h"
#include "platform/threads/thread.h"
#include "platform/wave/wave_hdr.h"
#include "stream/dsp_thread.h"
#include "stream/sound_component.h"

// Posted to an output's notification window to stop the output once its last
// buffer has played (wParam = the device handle).
inline constexpr UINT WM_STOPDEVICE = 0x8001;

// The most buffers an output keeps in its ring.
inline constexpr std::int32_t kMaxWaveOutBuffers = 500;

class TMMCustomWaveOutComponent;

// The worker thread of an output in cmThread mode: it takes the done
// messages of the output's device from its queue and runs the output's
// buffer-done handler for each; a flush request drops the pending ones.
class TMMOutputThread : public TMMDSPThread {
 public:
  explicit TMMOutputThread(TMMCustomWaveOutComponent* output);
  ~TMMOutputThread() override { EndThread(); }

 protected:
  void Execute() override;

 private:
  TMMCustomWaveOutComponent* output_;
  // The thread keeps its events alive until its very end.
  std::shared_ptr<TEvent> ready_, terminate_, flush_;
};

// The last active member of a playback chain, on some output device: it pulls
// buffers from its Input with BufferLoad, keeps a ring of them queued at the
// device, refills each one as the device gives it back played, and pushes
// every played buffer on to its Output with BufferReady. It stops itself when
// the source runs dry.
//
// This class holds what the wave output and the DirectSound output share:
// the state set, the events, looping, the ring and its counters, the stop and
// close handshake, the driver's notification function, the notification
// window and the worker thread. Where a returned buffer is handled depends on
// CallBackMode: cmWindow on the GUI thread (the notification function posts
// to the notification window), cmThread on the worker thread. Everything else
// runs on the GUI thread.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  explicit TMMCustomWaveOutComponent(TComponent* owner);
  ~TMMCustomWaveOutComponent() override;

  // Position of what is heard, in TimeFormat units.
  virtual std::int64_t GetPosition() = 0;
  // Guarded operations: a failure fires OnError, closes the device and
  // raises. Close never raises.
  virtual void Open() = 0;
  virtual void Close() = 0;
  // Drops what is queued and refills from the source's current position.
  virtual void Requeue() = 0;
  virtual void Start() = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  virtual void Stop() = 0;
  // Fires OnError, then raises the output's exception with the message.
  [[noreturn]] virtual void RaiseError(const std::string& message) = 0;

  std::int32_t GetNumBuffers() const override { return num_buffers_; }
  TMMCBMode GetCallBackMode() const override { return callback_mode_; }
  // Read-only: the value given is ignored.
  void SetProductName(const std::string&) override {}
  TMMTimeFormats GetTimeFormat() const { return time_format_.load(); }
  void SetTimeFormat(TMMTimeFormats value) { time_format_ = value; }
  bool GetLooping() const { return looping_.load(); }
  // A change sets the loops left to LoopCount.
  void SetLooping(bool value);
  std::uint16_t GetLoopCount() const { return loop_count_.load(); }
  // 0 loops without end. A change sets the loops left to the new value.
  void SetLoopCount(std::uint16_t value);

  // Set of TMMDeviceStateFlag; a closed device holds exactly dsClosed.
  std::uint32_t DeviceState() const { return state_.load(); }
  bool IsOpen() const { return (state_.load() & dsOpen) != 0; }

  // A new format closes the device first.
  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  // Notifications from another device of the chain run the own operations.
  void Opened() override { Open(); }
  void Closed() override { Close(); }
  void Started() override { Start(); }
  void Paused() override { Pause(); }
  void Restarted() override { Restart(); }
  void Stopped() override { Stop(); }
  // The output only pulls: a buffer pushed into it is ignored.
  void BufferReady(PWaveHdr) override {}
  // Sets the buffer's length and loop fields, then pulls from upstream.
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;
  // Fired before each buffer goes to the device.
  TMMBufferEvent OnBufferFilled;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  friend class TMMOutputThread;

  // A returned buffer: the ring entry at the ring index is handled.
  virtual void BufferDone() = 0;
  // The pause of the end detection.
  virtual void PauseForEnd() = 0;
  // Priority of the worker thread, and a new one (created suspended).
  virtual TThreadPriority WorkerPriority() const = 0;
  virtual TMMOutputThread* NewWorker() = 0;
  // An exception ended the worker thread: shut the device down from there
  // and report it.
  virtual void WorkerFailed(const std::exception& e);

  void FireEvent(const TNotifyEvent& event);
  void CheckNotOpen();
  bool Destroying() const { return HasState(csDestroying); }
  // Runs f under the critical section and returns what it returns. An error
  // raised inside fires OnError only once the lock is released (by the
  // outermost Locked where they nest), so that no handler runs under it.
  template <class F>
  auto Locked(F f) -> decltype(f()) {
    bool error_raised = false;
    try {
      std::lock_guard<TCriticalSection> lock(lock_);
      const THeldLock held(*this, error_raised);
      return f();
    } catch (...) {
      if (error_raised) FireError();
      throw;
    }
  }
  // RaiseError's OnError: fired now, or, on the thread holding the critical
  // section through Locked, once it lets go of it.
  void FireError();

  // One pull into record h: the bytes the source gave (more_buffers_ takes
  // its MoreBuffers answer); dwBufferLength becomes that count.
  std::int64_t Pull(PWaveHdr h);
  // Start of the buffer-done handler: false when the buffer is not to be
  // handled (not started, resetting or stopping); else the depth grows.
  bool EnterHandler();
  // End of the handler: the depth falls, and at 0, once a stop was deferred
  // or nothing is left at the device nor waiting to be handled, the output
  // pauses and posts WM_STOPDEVICE. A failed handler is followed by a close
  // instead.
  void LeaveHandler(bool failed);
  // Drops the done notifications still waiting to be handled.
  void DiscardPendingDone();
  // cmThread, off the worker thread: lets a handler running there finish
  // with the buffer it has.
  void WaitForWorkerHandler();
  // Waits until the driver's notification put `flag` in the state.
  bool WaitForState(TMMDeviceStateFlag flag, int rounds, bool pump);
  void CreateWindow();
  // cmThread: creates the worker thread and waits for it; false when it
  // does not come up in time.
  bool StartWorker(DWORD wait_ms);
  // Ends the worker thread (unless it failed) and releases its events.
  void StopWorker();
  void ApplyWorkerPriority(TThreadPriority priority);

  // The device handle the notifications carry (null when closed).
  void* Handle() const { return handle_.load(); }
  WPARAM HandleParam() const { return reinterpret_cast<WPARAM>(handle_.load()); }

  std::atomic<void*> handle_{nullptr};
  std::atomic<std::uint32_t> state_{dsClosed};
  std::int32_t num_buffers_ = 10;
  TMMCBMode callback_mode_ = cmWindow;
  std::atomic<TMMTimeFormats> time_format_{tfByte};
  std::atomic<bool> looping_{false};
  std::atomic<std::uint16_t> loop_count_{0};
  std::atomic<std::int32_t> loops_left_{0};
  HWND window_ = 0;

  // The ring in write order, and the entry the device gives back next.
  std::vector<PWaveHdr> ring_;
  std::int32_t ring_index_ = 0;
  std::int32_t queued_ = 0;           // buffers written at the start
  std::atomic<int> outstanding_{0};   // buffers at the device now
  std::atomic<int> pending_done_{0};  // returned, posted and not yet taken
  std::atomic<int> depth_{0};         // buffer-done handlers running
  bool more_buffers_ = false;         // the MoreBuffers answer of the last pull

  // Stop and close handshake.
  std::atomic<bool> stop_deferred_{false}, close_pending_{false}, stopping_{false}, closing_{false},
      resetting_{false}, stop_posted_{false};

  // Positions, in samples; under the critical section.
  std::int64_t loop_start_ = 0;
  std::int64_t accumulated_ = 0;

  TCriticalSection lock_;
  // Which thread holds the critical section through Locked, and where it
  // notes an OnError held back until it lets go.
  class THeldLock {
   public:
    THeldLock(TMMCustomWaveOutComponent& c, bool& error_raised)
        : c_(c), owner_(c.lock_owner_.load()), slot_(c.error_slot_) {
      c.lock_owner_ = std::this_thread::get_id();
      c.error_slot_ = &error_raised;
    }
    ~THeldLock() {
      c_.error_slot_ = slot_;
      c_.lock_owner_ = owner_;
    }
    THeldLock(const THeldLock&) = delete;
    THeldLock& operator=(const THeldLock&) = delete;

   private:
    TMMCustomWaveOutComponent& c_;
    std::thread::id owner_;
    bool* slot_;
  };
  std::atomic<std::thread::id> lock_owner_{};
  bool* error_slot_ = nullptr;  // only touched by the lock's owner
  TMMOutputThread* thread_ = nullptr;
  std::atomic<DWORD> thread_id_{0};
  std::shared_ptr<TEvent> ready_event_, terminate_event_, flush_event_;
  std::atomic<bool> thread_failed_{false};

 private:
  // The driver's notification function (CALLBACK_FUNCTION); instance data is
  // the output. Runs on the device's notification thread: it only counts,
  // sets the state and posts, so it never waits on the GUI thread.
  static void DriverCallback(void* hwave, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2);
  void DriverDone(void* hwave, DWORD_PTR header);
  // Procedure of the notification window, on the GUI thread.
  void WindowProc(TMessage& msg);

 protected:
  // The notification function as the open calls take it.
  static DWORD_PTR DriverCallbackParam() { return reinterpret_cast<DWORD_PTR>(&DriverCallback); }
};
