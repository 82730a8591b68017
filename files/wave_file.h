#pragma once

// The wave file component: a stream component that owns a TMMWave. Without an Input it is a
// source that fills every buffer pulled from it with the wave's data (looping when the
// buffer asks for it); with an Input it records what passes through into the wave's file.

#include <cstdint>
#include <string>

#include "files/mm_wave.h"
#include "platform/framework/component.h"
#include "stream/dsp_component.h"

class TMMCustomWaveFile : public TMMDSPComponent, private TMMWaveObserver {
 public:
  explicit TMMCustomWaveFile(TComponent* owner);
  ~TMMCustomWaveFile() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  TMMWave& GetWave() { return wave_; }
  const TMMWave& GetWave() const { return wave_; }
  // Takes over the other wave's sound and settings.
  void SetWave(const TMMWave* value) { wave_.Assign(value); }

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool GetOverwriteExisting() const { return overwrite_existing_; }
  void SetOverwriteExisting(bool value) { overwrite_existing_ = value; }
  std::uint8_t SilenceByte() const { return silence_; }

  // ---- As a file type ----
  static bool CanLoad(const std::string& name);
  static std::string FilterText();  // "Wave Files(*.wav)|*.wav"
  static std::string DefaultMask() { return "*.wav"; }
  std::int32_t GetBlockAlign() const;
  bool IsEmpty() const { return wave_.GetDataSize() == 0; }
  std::int32_t GetLengthMs() const;
  std::string GetFileName() const { return wave_.GetFileName(); }
  void SetFileName(const std::string& name) { wave_.SetFileName(name); }
  // In the wave's time format.
  std::int32_t GetPosition() const { return wave_.GetPosition(); }
  void SetPosition(std::int32_t value) { wave_.Seek(value); }
  std::int32_t GetPositionMs() const;
  void SetPositionMs(std::int32_t ms);

  // ---- Chain ----
  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void Closed() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  TNotifyEvent OnChange;
  TNotifyEvent OnChanged;
  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TNotifyEvent OnLooping;

 private:
  void WaveChanged(TMMWave* wave) override;
  bool Recording() const { return GetInput() != nullptr; }
  // Writes recorded bytes after checking the disk; a failure ends the recording.
  void Record(const char* data, std::int32_t bytes);
  void EndRecording();

  TMMWave wave_;
  bool file_opened_ = false;
  bool file_started_ = false;
  bool recording_ = false;
  bool enabled_ = true;
  bool overwrite_existing_ = true;
  std::uint8_t silence_ = 0;
  std::int32_t start_position_ = 0;
};

// The published wave file component.
class TMMWaveFile : public TMMCustomWaveFile {
 public:
  explicit TMMWaveFile(TComponent* owner) : TMMCustomWaveFile(owner) {}
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};
