#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "playback/custom_wave_out.h"
#include "playback/ds_layer.h"

class EMMDSWaveOutError : public Exception {
 public:
  using Exception::Exception;
};

// The worker thread of a DirectSound output in cmThread mode.
class TMMDSWaveOutThread : public TMMOutputThread {
 public:
  using TMMOutputThread::TMMOutputThread;
};

// A playing device as the sound-buffer service reports it.
struct TMMDSDevice {
  std::optional<GUID> guid;  // none for the primary device
  std::string description;
  std::string module;
};

// Plays a chain through the DirectSound device layer (ds_layer.h): to its
// chain and its owner the same component as the wave output, with the same
// ring, state set, events, looping and end-of-data stop. DeviceID indexes the
// device list read when it is set, whose first entry is the primary device.
// Volume, pan and frequency apply at once while open.
class TMMDSWaveOut : public TMMCustomWaveOutComponent {
 public:
  // Raises EMMDSWaveOutError when the sound-buffer service is missing.
  explicit TMMDSWaveOut(TComponent* owner);
  ~TMMDSWaveOut() override;

  // Layer position plus what went before a pause, less the loop start; in
  // 32 bits, 0 while closing.
  std::int64_t GetPosition() override;
  [[noreturn]] void RaiseError(const std::string& message) override;

  const std::vector<TMMDSDevice>& Devices() const { return devices_; }
  // Refused while open; reads the device list again; anything but
  // 0 ... count-1 is stored as InvalidId.
  void SetDeviceID(TMMDeviceId value) override;
  TMMDeviceId GetDeviceID() const override { return device_id_; }
  const std::string& GetProductName() const override { return product_name_; }
  // Values outside 2 ... 500 are ignored; refused while open.
  void SetNumBuffers(std::int32_t value) override;
  // cmCallback is refused with a message box; refused while open.
  void SetCallBackMode(TMMCBMode value) override;
  // Refused while open; at least 256.
  void SetBufferSize(std::int32_t value) override;

  // Hundredths of a decibel, -10000 ... 0.
  std::int32_t GetVolume() const { return volume_; }
  void SetVolume(std::int32_t value);
  // -10000 (left) ... 10000 (right).
  std::int32_t GetPan() const { return pan_; }
  void SetPan(std::int32_t value);
  // Frames per second, at most 100000; 0 plays at the format's rate.
  std::int32_t GetFrequency() const { return frequency_; }
  void SetFrequency(std::int32_t value);

  // The open device-layer context (null when closed).
  PDSWaveOut Context() const { return static_cast<PDSWaveOut>(Handle()); }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  // Device primitives: the device layer's calls.
  const char* CallName(TOutputCall call) const override;
  // A fixed text follows the call's name: the layer has no texts of its own.
  void Check(TOutputCall call, std::uint32_t result) override;
  void CheckOpenable() override;
  bool CanPlayFormat() override;
  std::uint32_t DeviceOpen() override;
  std::uint32_t DeviceClose() override { return DSWaveOutClose(Context()); }
  std::uint32_t DevicePause() override { return DSWaveOutPause(Context()); }
  std::uint32_t DeviceRestart() override { return DSWaveOutRestart(Context()); }
  std::uint32_t DeviceReset() override { return DSWaveOutReset(Context()); }
  std::uint32_t DeviceWrite(PWaveHdr h) override;
  std::uint32_t DevicePosition(std::int64_t& samples) override;
  PWaveHdr NewRingBlock(std::int32_t size) override;
  void PrepareHeader(PWaveHdr h) override;
  std::uint32_t UnprepareHeader(PWaveHdr h) override;
  void FreeRingBlock(PWaveHdr& h) override { FreeBlock(h); }
  // Waits sleep: the layer always notifies the notification function.
  bool PumpsWhileWaiting() const override { return false; }
  // The layer leaves the byte counts alone; lpNext points at the next record.
  void PrepareHandOn(PWaveHdr h, PWaveHdr next) override { h->lpNext = next; }

  // Differs: the open and close notifications are waited for 100 rounds.
  int StateWaitRounds() const override { return 100; }
  // Differs: the worker thread is waited for 1000 ms.
  DWORD WorkerWaitMs() const override { return 1000; }
  // Differs: at least as many buffers as keep the layer's buffer fed.
  std::int32_t RingSize() const override;
  // Differs: the device restarts before the chain hears of it.
  bool ChainRestartsFirst() const override { return false; }
  // Differs: Requeue pauses the device only when it is not paused already.
  bool RequeuePausesPausedDevice() const override { return false; }
  // Differs: Requeue does not restart and pause the device after its reset.
  bool RequeueRestartsAfterReset() const override { return false; }
  // Differs: Stop waits at most 500 ms for the buffers, without sleeping.
  void AwaitOutstanding() override;
  // Differs: a close without a layer context counts as failed.
  bool ClosedWithoutHandleFails() const override { return true; }
  // Differs: no position is read on a return, so no counter wrap is seen.
  std::int64_t PositionAtReturn() override { return 0; }
  // Differs: the loop start is the layer position read under the lock.
  std::int64_t LoopStartAt(std::int64_t) override { return Position(); }
  // Differs: a loop mark fires OnLooping only; the chain is not told.
  bool ChainHearsLoops() const override { return false; }
  // Differs: no wait for WHDR_DONE; the layer marked it before telling.
  void AwaitDone(PWaveHdr) override {}
  // Differs: the failure is reported before the device is closed.
  void WorkerFailed(const std::exception& e) override;
  TThreadPriority WorkerPriority() const override { return tpHigher; }
  TMMOutputThread* NewWorker() override { return new TMMDSWaveOutThread(this); }

 private:
  // The selected device's identifier (null for the primary device).
  LPCGUID Key() const;
  // Raises "<prefix>" LF CR "<text>" when result is not kDSOk.
  void CheckLayer(DWORD result, const std::string& prefix, const std::string& text);

  std::vector<TMMDSDevice> devices_;
  TMMDeviceId device_id_ = 0;
  std::string product_name_;
  std::int32_t volume_ = 0;
  std::int32_t pan_ = 0;
  std::int32_t frequency_ = 0;
};
