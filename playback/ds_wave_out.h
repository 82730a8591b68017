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

  std::int64_t GetPosition() override;
  void Open() override;
  void Close() override;
  void Requeue() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
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
  void BufferDone() override;
  void PauseForEnd() override;
  TThreadPriority WorkerPriority() const override { return tpHigher; }
  TMMOutputThread* NewWorker() override { return new TMMDSWaveOutThread(this); }
  void WorkerFailed(const std::exception& e) override;

 private:
  // The selected device's identifier (null for the primary device).
  LPCGUID Key() const;
  // Raises "<prefix>" LF CR "<text>" when result is not kDSOk.
  void Check(DWORD result, const std::string& prefix, const std::string& text);
  PWaveHdr PrepareRingEntry(std::int32_t i);
  void Write(PWaveHdr h);
  // NumBuffers, or more where the layer's buffer needs more to stay fed.
  std::int32_t RingSize() const;
  std::int32_t FillRing();
  // The layer's position in samples.
  std::uint32_t LayerPosition();
  void FinishStop();
  // Unprepares and frees every ring block; false when the layer refused one.
  bool FreeRing();

  std::vector<TMMDSDevice> devices_;
  TMMDeviceId device_id_ = 0;
  std::string product_name_;
  std::int32_t volume_ = 0;
  std::int32_t pan_ = 0;
  std::int32_t frequency_ = 0;
};
