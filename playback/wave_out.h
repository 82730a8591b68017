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

  // Device position, plus what went before a pause or a wrap of the device's
  // counter, less the loop start; in 64 bits.
  std::int64_t GetPosition() override;
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
  // Device primitives: the platform's wave output calls.
  const char* CallName(TOutputCall call) const override;
  // The platform's text for the result follows the call's name.
  void Check(TOutputCall call, std::uint32_t result) override;
  void CheckOpenable() override;
  bool CanPlayFormat() override { return QueryFormat(GetDeviceID(), DeviceFormat()); }
  std::uint32_t DeviceOpen() override;
  std::uint32_t DeviceClose() override;
  std::uint32_t DevicePause() override;
  std::uint32_t DeviceRestart() override;
  std::uint32_t DeviceReset() override;
  std::uint32_t DeviceWrite(PWaveHdr h) override;
  std::uint32_t DevicePosition(std::int64_t& samples) override;
  PWaveHdr NewRingBlock(std::int32_t size) override;
  // The platform's answers are not used: a header it refuses fails its write.
  void PrepareHeader(PWaveHdr h) override;
  std::uint32_t UnprepareHeader(PWaveHdr h) override;
  void FreeRingBlock(PWaveHdr& h) override { allocator_.ReleaseBlock(h); }
  // Waits pump where the device posts its notifications to the window.
  bool PumpsWhileWaiting() const override;
  // The byte counts the write kept across the platform call come back.
  void PrepareHandOn(PWaveHdr h, PWaveHdr next) override;

  // Differs: the wait cursor only where ShowHourGlass asks for it.
  bool WaitCursorAtStart() const override { return show_hourglass_; }
  // Differs: the counter's wraps are zeroed with the positions.
  void ZeroPositions() override;
  // Differs: Stop takes the stop position and forgets the counter's wraps.
  void BeforeStopReset() override;
  // Differs: each return reads the device position and notes a counter wrap.
  std::int64_t PositionAtReturn() override;
  TThreadPriority WorkerPriority() const override { return priority_.load(); }
  TMMOutputThread* NewWorker() override { return new TMMWaveOutThread(this); }

 private:
  HWAVEOUT Device() const { return static_cast<HWAVEOUT>(Handle()); }
  std::int64_t InTimeFormat(std::int64_t samples) const;

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
