#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "files/audio_file.h"
#include "playback/ds_wave_out.h"
#include "playback/pitch.h"
#include "playback/wave_out.h"

class EMMAudioPlayerError : public Exception {
 public:
  using Exception::Exception;
};

// Plays one audio file on one output device and hands every buffer it has
// played on to its own Output, so that displays downstream follow the sound.
// It owns the audio file, a pitch stage and the two outputs, and wires them
// into its inner chain:
//   UseDSound False: audio file -> pitch stage -> wave output -> player -> Output
//   UseDSound True:  audio file -> DirectSound output -> player -> Output
// (the pitch stage is then unlinked; the sound-buffer service applies
// volume, pan and pitch itself).
// The active output's state is the player's; every run ends with the device
// closed, by Stop or by itself at the end of the data, and OnStop fires once,
// after the close.
//
// Threads: every operation runs on the GUI thread. The handlers on the
// outputs run where the active output reports (the GUI thread in cmWindow
// mode); OnData fires on the thread that handles returned buffers.
class TMMAudioPlayer : public TMMBaseAudioFile {
 public:
  explicit TMMAudioPlayer(TComponent* owner);
  ~TMMAudioPlayer() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Starts the active output from the file's position (from 0 when the
  // reader stands at the end). Nothing while started or without a file.
  // Errors of opening or starting the device pass to the caller; the device
  // is then closed.
  void Play();
  // Remembers the position, stops and closes the active output.
  void Stop();
  // Milliseconds: what has been heard while started, else where the reader
  // stands.
  std::int32_t GetPosition();
  // Moves the reader; while open, the output drops what it queued and plays
  // on from there.
  void SetPosition(std::int32_t ms);
  // The active output's state set.
  std::uint32_t DeviceState() const { return active_->DeviceState(); }

  void SetFileName(const std::string& name) override { audio_file_->SetFileName(name); }
  std::string GetFileName() const override { return audio_file_->GetFileName(); }
  std::string GetFilter() const override { return audio_file_->GetFilter(); }
  TMMAudioFileType GetFileType() const { return audio_file_->GetFileType(); }
  // Passed on to the audio file, where it changes nothing.
  void SetFileType(TMMAudioFileType value) { audio_file_->SetFileType(value); }

  // Read and written on the active output.
  std::int32_t GetBufferSize() const override { return active_->GetBufferSize(); }
  void SetBufferSize(std::int32_t value) override { active_->SetBufferSize(value); }
  std::int32_t GetNumBuffers() const { return active_->GetNumBuffers(); }
  void SetNumBuffers(std::int32_t value) { active_->SetNumBuffers(value); }
  TMMDeviceId GetDeviceID() const { return active_->GetDeviceID(); }
  void SetDeviceID(TMMDeviceId value) { active_->SetDeviceID(value); }
  TMMCBMode GetCallBackMode() const { return active_->GetCallBackMode(); }
  void SetCallBackMode(TMMCBMode value) { active_->SetCallBackMode(value); }
  const std::string& GetProductName() const { return active_->GetProductName(); }
  // Read-only: the value given is ignored.
  void SetProductName(const std::string&) {}

  bool GetResetPosition() const { return reset_position_; }
  void SetResetPosition(bool value) { reset_position_ = value; }
  std::int32_t GetVolume() const { return volume_; }
  // Wave output: limited to 0 ... 32768 and applied to the data by the
  // audio file. DirectSound output: limited to 0 ... 16384 and given to the
  // output in hundredths of a decibel (16384 is 0 dB).
  void SetVolume(std::int32_t value);
  std::int32_t GetPanning() const { return panning_; }
  // Limited to -32768 ... 32768; the audio file applies it to the data, or
  // the DirectSound output gets it scaled to -10000 ... 10000.
  void SetPanning(std::int32_t value);
  float GetPitch() const { return pitch_; }
  // Percent, limited to -50 ... 50; the pitch stage plays at that speed, or
  // the DirectSound output plays the format's rate scaled by it.
  void SetPitch(float value);
  bool GetUseDSound() const { return use_dsound_; }
  // Switches the inner chain to the other output, carrying buffer size,
  // buffer count, callback mode and the device over (wave device k is
  // DirectSound device k + 1, the mapper DirectSound device 0); refused
  // while open.
  void SetUseDSound(bool value);

  TMMAudioFile* AudioFile() const { return audio_file_; }
  TMMPitch* PitchStage() const { return pitch_stage_; }
  TMMWaveOut* WaveOut() const { return wave_out_; }
  TMMDSWaveOut* DSWaveOut() const { return ds_wave_out_; }
  TMMCustomWaveOutComponent* ActiveOutput() const { return active_; }

  TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
  // Every buffer the active output has played, before it goes on to Output.
  TMMBufferEvent OnData;

 private:
  // Wires the player's handlers to an output.
  void AttachHandlers(TMMCustomWaveOutComponent* output);
  // Links output's Output to the player, which publishes no Input.
  void LinkToPlayer(TMMCustomWaveOutComponent* output);
  // The handlers on both outputs; they run where the output reports.
  void OutputStopped();
  void OutputClosed();
  // The audio file loaded another file or its file changed.
  void FileChanged();
  // Where the file's reader stands, in the file type's own unit (-1 without
  // a file).
  std::int32_t ReaderPosition() const;

  TMMAudioFile* audio_file_ = nullptr;
  TMMPitch* pitch_stage_ = nullptr;
  TMMWaveOut* wave_out_ = nullptr;
  TMMDSWaveOut* ds_wave_out_ = nullptr;
  TMMCustomWaveOutComponent* active_ = nullptr;

  float pitch_ = 0;
  std::int32_t volume_ = 16384;
  std::int32_t panning_ = 0;
  // Where the current run began, and the position of the last stop (-1 while
  // a run plays); milliseconds.
  std::atomic<std::int32_t> start_offset_{0};
  std::atomic<std::int32_t> stop_position_{0};
  // The reader's position at the end of the run, kept across the close.
  std::atomic<std::int32_t> reader_position_{-1};
  std::atomic<bool> seeking_{false};
  bool reset_position_ = true;
  bool use_dsound_ = false;
};
