#pragma once

#include <cstdint>
#include <string>

#include "devices/wave_devices.h"
#include "playback/custom_wave_out.h"
#include "stream/allocator.h"

class EMMWaveOutError : public Exception {
 public:
  using Exception::Exception;
};

// The worker thread of a wave output in cmThread mode.
class TMMWaveOutThread : public TMMOutputThread {
 public:
  using TMMOutputThread::TMMOutputThread;
};

// Plays a chain on one wave output device through the platform's wave output
// calls (waveOutOpen, waveOutWrite and companions). The device's notification
// function posts each returned buffer to the notification window (cmWindow)
// or to the worker thread (cmThread); the end of the data stops the output
// through WM_STOPDEVICE on the GUI thread. The main window keeps one that is
// never opened, for the number of output devices.
class TMMWaveOut : public TMMCustomWaveOutComponent {
 public:
  explicit TMMWaveOut(TComponent* owner);
  ~TMMWaveOut() override;

  std::int64_t GetPosition() override;
  void Open() override;
  void Close() override;
  void Requeue() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  [[noreturn]] void RaiseError(const std::string& message) override;

  // Whether the device (-1 is the mapper) can play format.
  bool QueryFormat(TMMDeviceId device, const WAVEFORMATEX* format);

  std::int32_t GetNumDevs() const { return device_.GetNumDevs(); }
  // Refused while open; NumDevs is read again, and a value below MapperId or
  // at or above it is stored as InvalidId. ProductName follows.
  void SetDeviceID(TMMDeviceId value) override;
  TMMDeviceId GetDeviceID() const override { return device_.GetDeviceID(); }
  const std::string& GetProductName() const override { return device_.GetProductName(); }
  std::uint32_t GetDriverVersion() const { return device_.GetDriverVersion(); }
  // Values of 1 or less are ignored; refused while open; at most 500.
  void SetNumBuffers(std::int32_t value) override;
  // Refused while open; cmCallback is refused with a message box.
  void SetCallBackMode(TMMCBMode value) override;
  // Refused while open; at least 32. Returns the pooled blocks to the system.
  void SetBufferSize(std::int32_t value) override;
  bool GetShowHourGlass() const { return show_hourglass_; }
  void SetShowHourGlass(bool value) { show_hourglass_ = value; }
  bool GetMapped() const { return mapped_; }
  void SetMapped(bool value) { mapped_ = value; }
  TThreadPriority GetPriority() const { return priority_.load(); }
  // Applied at once to a running worker thread.
  void SetPriority(TThreadPriority value);

  // Position taken by the last Stop (TimeFormat units; 0 after Close).
  std::int64_t StopPosition() const { return stop_position_; }
  MMRESULT LastResult() const { return last_result_; }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  void BufferDone() override;
  void PauseForEnd() override;
  TThreadPriority WorkerPriority() const override { return priority_.load(); }
  TMMOutputThread* NewWorker() override { return new TMMWaveOutThread(this); }

 private:
  HWAVEOUT Device() const { return static_cast<HWAVEOUT>(Handle()); }
  // "<prefix>" LF CR "<platform text for result>".
  std::string ErrorText(const std::string& prefix, MMRESULT result);
  // Stores the result; raises with ErrorText unless it is MMSYSERR_NOERROR.
  void Check(const std::string& prefix, MMRESULT result);
  // Raises with ErrorText for a positive result.
  void CheckReset(MMRESULT result);
  // Allocates (if needed), sets up and prepares ring entry i.
  PWaveHdr PrepareRingEntry(std::int32_t i);
  void Write(PWaveHdr h);
  // The device's position in samples (0 when not open): false and the
  // platform's result when it cannot be read.
  bool ReadDevicePosition(std::int64_t& samples, MMRESULT& result);
  // The same, raising on failure.
  std::int64_t DevicePosition();
  std::int64_t InTimeFormat(std::int64_t samples) const;
  // Fills the ring from entry 0 while the source has data; returns how many
  // buffers went to the device.
  std::int32_t FillRing();
  // The part of Stop after the reset; deferred while a handler runs.
  void FinishStop();
  void UnprepareRing();

  TMMWaveDeviceInfo device_{true};
  std::atomic<MMRESULT> last_result_{MMSYSERR_NOERROR};
  bool show_hourglass_ = true;
  bool mapped_ = false;
  std::atomic<TThreadPriority> priority_{tpHigher};
  TMMAllocator allocator_;
  std::int64_t stop_position_ = 0;

  // Device counter wrap handling; under the critical section.
  std::uint32_t last_position_ = 0;
  std::int64_t wrap_count_ = 0;
  std::int64_t wrap_size_ = 0;
};
