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
#include "platform/acm/msacm.h"
#include "platform/messages/messages.h"
#include "platform/threads/sync_objects.h"
#include "platform/threads/thread.h"
#include "platform/wave/wave_hdr.h"
#include "stream/device_handshake.h"
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
// This class holds the whole state machine of the wave output and the
// DirectSound output: the operations, the buffer-done handler, the stop and
// close handshake, the notification function and window and the worker
// thread. Each output supplies the device primitives (open, prepare, write,
// pause, restart, reset, position, unprepare, close, how it waits) and
// overrides the few steps in which it differs. Where a returned buffer is
// handled depends on CallBackMode: cmWindow on the GUI thread (the
// notification function posts to the notification window), cmThread on the
// worker thread. Everything else runs on the GUI thread.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  explicit TMMCustomWaveOutComponent(TComponent* owner);
  ~TMMCustomWaveOutComponent() override;

  // Position of what is heard, in TimeFormat units.
  virtual std::int64_t GetPosition() = 0;
  // Guarded operations: a failure fires OnError, closes the device and
  // raises. Close never raises.
  virtual void Open();
  virtual void Close();
  // Drops what is queued and refills from the source's current position.
  virtual void Requeue();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();
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

  // The device calls whose failures the output reports.
  enum TOutputCall : std::uint8_t {
    ocThread,
    ocOpen,
    ocClose,
    ocStart,
    ocPause,
    ocRestart,
    ocReset,
    ocWrite,
    ocPosition,
    ocUnprepare
  };

  // --- device primitives: results are 0 for success ---
  // The name a message about `call` begins with, colon included.
  virtual const char* CallName(TOutputCall call) const = 0;
  // Raises this output's message for a failed call (result not 0).
  virtual void Check(TOutputCall call, std::uint32_t result) = 0;
  // The checks before opening: devices, DeviceID and format.
  virtual void CheckOpenable() = 0;
  virtual bool CanPlayFormat() = 0;
  // Opens the device with the notification function; sets handle_.
  virtual std::uint32_t DeviceOpen() = 0;
  virtual std::uint32_t DeviceClose() = 0;
  virtual std::uint32_t DevicePause() = 0;
  virtual std::uint32_t DeviceRestart() = 0;
  // Gives back every queued buffer as done.
  virtual std::uint32_t DeviceReset() = 0;
  // Marks h prepared and not done and queues it at the device.
  virtual std::uint32_t DeviceWrite(PWaveHdr h) = 0;
  // The device's position in samples (0 when it is not open).
  virtual std::uint32_t DevicePosition(std::int64_t& samples) = 0;
  // A ring block of kWaveHdrSize + size bytes (raises when there is none),
  // prepared for the device, and back again.
  virtual PWaveHdr NewRingBlock(std::int32_t size) = 0;
  virtual void PrepareHeader(PWaveHdr h) = 0;
  virtual std::uint32_t UnprepareHeader(PWaveHdr h) = 0;
  virtual void FreeRingBlock(PWaveHdr& h) = 0;
  // The waiting style: whether waits pump the GUI thread's messages.
  virtual bool PumpsWhileWaiting() const = 0;
  // What the displays need of a played record h before it goes on; next is
  // the record heard now.
  virtual void PrepareHandOn(PWaveHdr h, PWaveHdr next) = 0;

  // --- steps in which the outputs differ; the defaults are the wave output's ---
  // Rounds of 10 ms for the open and close notifications.
  virtual int StateWaitRounds() const { return 500; }
  // How long Open waits for the worker thread.
  virtual DWORD WorkerWaitMs() const { return 5000; }
  // Whether Start shows the wait cursor over a large queue.
  virtual bool WaitCursorAtStart() const { return true; }
  // How many buffers Start and Requeue queue at the most.
  virtual std::int32_t RingSize() const { return num_buffers_; }
  // Whether Restart tells the chain before it restarts the device.
  virtual bool ChainRestartsFirst() const { return true; }
  // Whether Requeue pauses a device that is paused already.
  virtual bool RequeuePausesPausedDevice() const { return true; }
  // Whether Requeue restarts and pauses the device again after its reset.
  virtual bool RequeueRestartsAfterReset() const { return true; }
  // Zeroes the position counters; under the lock.
  virtual void ZeroPositions() { loop_start_ = accumulated_ = 0; }
  // Stop, before the device's reset.
  virtual void BeforeStopReset() {}
  // Stop's finish: waits until the device has given back every buffer.
  virtual void AwaitOutstanding();
  // Close without a device handle counts as a failed close.
  virtual bool ClosedWithoutHandleFails() const { return false; }
  // The position read when a buffer comes back (samples).
  virtual std::int64_t PositionAtReturn() { return Position(); }
  // The loop start for a loop mark met at position p; under the lock.
  virtual std::int64_t LoopStartAt(std::int64_t p) { return p; }
  // Whether a loop mark is told to the chain as Looped.
  virtual bool ChainHearsLoops() const { return true; }
  // Waits until the device has marked h done before it is refilled.
  virtual void AwaitDone(PWaveHdr h);
  // An exception ended the worker thread: shut the device down from there
  // and report it.
  virtual void WorkerFailed(const std::exception& e);

  // A returned buffer: the ring entry at the ring index is handled.
  void BufferDone();
  // Priority of the worker thread, and a new one (created suspended).
  virtual TThreadPriority WorkerPriority() const = 0;
  virtual TMMOutputThread* NewWorker() = 0;

  void FireEvent(const TNotifyEvent& event);
  // Runs a guarded operation (see RunGuarded).
  template <class F>
  void Guarded(TMMGuardClose how, F op) {
    RunGuarded(
        state_, how, op, [this] { FireEvent(OnError); }, [this] { Close(); });
  }
  void CheckNotOpen();
  bool Destroying() const { return HasState(csDestroying); }
  // "<call name>" LF CR "<text id>".
  std::string Prefixed(TOutputCall call, int id) const;
  // The device's position in samples, raising on failure.
  std::int64_t Position();
  // The format the device opens with: the chain's format, or for plain PCM whose source
  // names its speakers (ChannelMask), the same PCM in the extensible header with that mask,
  // so that each channel is heard on its own speaker. Null without a format.
  const WAVEFORMATEX* DeviceFormat();
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
  // Unprepares and frees every ring block: the first failure of the device
  // to unprepare one, or 0.
  std::uint32_t ReleaseRing();

 private:
  // One pull into record h: the bytes the source gave (more_buffers_ takes
  // its MoreBuffers answer); dwBufferLength becomes that count.
  std::int64_t Pull(PWaveHdr h);
  // Fires OnBufferFilled and, unless a stop has begun, writes h.
  void Write(PWaveHdr h);
  // Allocates (if needed), sets up and prepares ring entry i.
  PWaveHdr RingEntry(std::int32_t i);
  // Fills the ring from entry 0 while the source has data; returns how many
  // buffers went to the device.
  std::int32_t FillRing();
  // The part of Stop after the reset; deferred while a handler runs.
  void FinishStop();
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
  // Whether the caller is the worker thread. Asked of the thread's
  // identifier, never of the thread object: a worker whose handling failed
  // ends and frees itself while the output may still be closing.
  bool OnWorkerThread() const;
  // Waits while `busy` holds, up to `rounds` steps of 10 ms, in the
  // output's waiting style.
  template <class F>
  void WaitWhile(F busy, int rounds);
  void CreateWindow();
  // cmThread: creates the worker thread and waits for it; false when it
  // does not come up in time.
  bool StartWorker(DWORD wait_ms);
  // Ends the worker thread (unless it failed) and releases its events.
  void StopWorker();

 protected:
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

  // What DeviceFormat gives.
  WAVEFORMATEXTENSIBLE device_format_{};

  // The ring in write order, and the entry the device gives back next.
  std::vector<PWaveHdr> ring_;
  std::int32_t ring_index_ = 0;
  std::int32_t queued_ = 0;           // buffers written at the start
  std::atomic<int> outstanding_{0};   // buffers at the device now
  std::atomic<int> pending_done_{0};  // returned, posted and not yet taken
  std::atomic<int> depth_{0};         // buffer-done handlers running
  bool more_buffers_ = false;         // the MoreBuffers answer of the last pull

  TMMDeviceHandshake handshake_;

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
  // The instance data the open calls give with it.
  DWORD_PTR CallbackInstance() {
    return reinterpret_cast<DWORD_PTR>(static_cast<TMMCustomWaveOutComponent*>(this));
  }
};
