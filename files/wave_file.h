#pragma once

// The wave file component: a stream component that owns a TMMWave. Without an Input it is a
// source that fills every buffer pulled from it with the wave's data (looping when the
// buffer asks for it); with an Input it records what passes through into the wave's file.
// It is the wave type of the audio file's registry.

#include <cstdint>
#include <string>

#include "files/custom_file.h"
#include "files/mm_wave.h"
#include "platform/framework/component.h"

class TMMCustomWaveFile : public TMMCustomFile, private TMMWaveObserver {
 public:
  explicit TMMCustomWaveFile(TComponent* owner);
  ~TMMCustomWaveFile() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  TMMWave& GetWave() { return wave_; }
  const TMMWave& GetWave() const { return wave_; }
  // Takes over the other wave's sound and settings.
  void SetWave(const TMMWave* value) { wave_.Assign(value); }

  bool GetOverwriteExisting() const { return overwrite_existing_; }
  void SetOverwriteExisting(bool value) { overwrite_existing_ = value; }
  std::uint8_t SilenceByte() const { return silence_; }

  // ---- As a file type ----
  static TMMAudioFileType FileType() { return ftWave; }
  // A name with an extension must have one of the default mask ("*.wav", any letter case);
  // then the file must be a readable wave.
  static bool CanLoad(const std::string& name, std::int32_t value1, std::int32_t value2,
                      std::int32_t value3);
  // Kind 1 and the length of the file's data.
  static bool GetFileInfo(const std::string& name, TMMFileInfo& info);
  static std::string GetFilter();  // "Wave Files(*.wav)|*.wav"
  static std::string GetDefaultMask() { return "*.wav"; }
  std::int32_t GetBlockAlign() const override;
  bool IsEmpty() const override { return wave_.GetDataSize() == 0; }
  std::int32_t GetLength() const override;
  std::string GetFileName() const override { return wave_.GetFileName(); }
  void SetFileName(const std::string& name) override { wave_.SetFileName(name); }
  // In the wave's time format.
  std::int32_t GetPosition() const override { return wave_.GetPosition(); }
  void SetPosition(std::int32_t value) override { wave_.Seek(value); }
  std::int32_t GetTimePosition() const override;
  void SetTimePosition(std::int32_t ms) override;

  // ---- Chain ----
  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void Closed() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

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
