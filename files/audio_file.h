#pragma once

// The audio file: the source a player plays. Given a file name, it finds through the
// file-type registry a type that takes the file, creates an object of it at the head of its
// own chain (file object -> ADPCM stage -> PCM converter -> audio file), and from then on
// delivers PCM buffers, reports length and position in milliseconds, seeks, loops and
// applies volume and panning.
//
// Threads: everything runs on the GUI thread except BufferLoad (and LoadBuffer), which runs
// on the thread that pulls buffers. A lock per audio file surrounds buffer loading and the
// gain and position changes that may come from the GUI thread meanwhile. OnFileLoading,
// OnFileLoaded and OnChange fire on the caller's thread; OnError on the pulling thread.

#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>

#include "files/adpcm_converter.h"
#include "files/audio_gain.h"
#include "files/custom_file.h"
#include "files/pcm_converter.h"
#include "platform/framework/exception.h"
#include "stream/dsp_component.h"

class EMMAudioError : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kMMNotAnAudioFile = "This is not a valid Audiofile";

// An error while loading a buffer; a handler that sets Handled lets the run go on.
using TMMErrorEvent = std::function<void(TComponent* Sender, bool& Handled)>;

inline constexpr std::int32_t kMMMaxVolume = 32768;
inline constexpr std::int32_t kMMMaxPanning = 32768;

// The common base of the audio file and the player: a file name and its open-dialog filter.
class TMMBaseAudioFile : public TMMDSPComponent {
 public:
  explicit TMMBaseAudioFile(TComponent* owner) : TMMDSPComponent(owner) {}

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  virtual void SetFileName(const std::string& name) = 0;
  virtual std::string GetFileName() const = 0;
  virtual std::string GetFilter() const = 0;
};

class TMMCustomAudioFile : public TMMBaseAudioFile {
 public:
  explicit TMMCustomAudioFile(TComponent* owner);
  ~TMMCustomAudioFile() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Loads the file by probing every registered type (raises EMMAudioError "This is not a
  // valid Audiofile" when none takes it); the file object's name, or empty.
  void SetFileName(const std::string& name) override;
  std::string GetFileName() const override;
  // Every registered type's filter, with the combined entry in front.
  std::string GetFilter() const override;

  // Loads `name`, trying the type of `kind` first when one is asked for (not ftNone).
  void LoadFile(const std::string& name, TMMAudioFileType kind);

  // Read only: setting does nothing.
  virtual void SetFileType(TMMAudioFileType /*value*/) {}
  virtual TMMAudioFileType GetFileType() const;
  virtual bool IsEmpty() const;
  virtual std::int32_t GetBlockAlign() const;
  // The play range is the whole file again.
  virtual void ResetRange();
  virtual bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(bool value);
  // Milliseconds, limited to the length.
  virtual void SetPosition(std::int32_t ms);
  virtual std::int32_t GetPosition() const;
  virtual void SetFades(std::int32_t fadeIn, std::int32_t fadeOut, std::int32_t fadeOutStart);
  // Recomputes the channel gains from volume and panning.
  virtual void BuildEnvelope();
  // Standalone use without an output: notify the chain from the file object to this
  // component.
  virtual void OpenChain(std::int32_t bufferSize);
  virtual void StartChain();
  virtual void StopChain();
  virtual void ResetChain();
  virtual void CloseChain();
  // Fills `buffer` while the chain runs; the bytes put into it.
  virtual std::int32_t LoadBuffer(char* buffer, std::int32_t size, bool& more);
  // Lets the file object know the chain runs.
  virtual void NotifyFile();
  virtual void Unload();
  // Ends the run `ms` from the current position; a loop does not restart it.
  virtual void FadeOutNow(std::int32_t ms);

  // Length of the play range in milliseconds.
  std::int32_t GetLength() const { return length_; }
  std::int32_t GetVolume() const { return volume_; }
  // Limited to 0 .. 32768.
  void SetVolume(std::int32_t value);
  std::int32_t GetPanning() const { return panning_; }
  // Limited to -32768 .. 32768.
  void SetPanning(std::int32_t value);
  // Only for MPEG files; 0 otherwise.
  std::int32_t GetMpegTrailingHeader() const;
  void SetMpegTrailingHeader(std::int32_t value);
  // The channel gains applied to the data now.
  TMMGainPair Gains() const;

  TMMCustomFile* FileObject() const { return file_; }
  TMMADPCMConverter* ADPCMConverter() const { return adpcm_; }
  TMMPCMConverter* PCMConverter() const { return pcm_; }
  // Called on every change of the loaded file (the owning player's hook).
  void SetOwnerCallback(TNotifyEvent callback) { owner_callback_ = std::move(callback); }

  void Notification(TComponent* component, TOperation operation) override;
  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void Closed() override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  TNotifyEvent OnFileLoading;
  TNotifyEvent OnFileLoaded;
  TNotifyEvent OnChange;
  TMMErrorEvent OnError;

 private:
  // Creates an object of `type` and loads the file with it; its exceptions pass on.
  void TryType(const TMMFileTypeClass& type, const std::string& name);
  void FileChanged();
  // Clears the end flags and begins counting from `start` ms.
  void BeginRun(std::int32_t start);
  void RestoreFadeOut();
  // Sends a notification to every component from the head of the chain to this one.
  void Walk(void (TMMDSPComponent::*notification)());
  void LoadUnderLock(PWaveHdr h, bool& more);
  void Fill(PWaveHdr h);

  mutable std::recursive_mutex lock_;
  TMMCustomFile* file_ = nullptr;
  const TMMFileTypeClass* file_type_ = nullptr;
  TMMADPCMConverter* adpcm_ = nullptr;
  TMMPCMConverter* pcm_ = nullptr;
  bool enabled_ = true;
  std::int32_t length_ = 0;
  std::int32_t start_position_ = 0;
  std::int64_t bytes_to_play_ = 0;
  std::int64_t bytes_delivered_ = 0;
  std::int32_t fade_in_ = 0;
  std::int32_t fade_out_ = 0;
  std::int32_t fade_out_start_ = std::numeric_limits<std::int32_t>::max();
  // A fade-out FadeOutNow set, and the one it replaced.
  bool timed_fade_out_ = false;
  std::int32_t saved_fade_out_ = 0;
  std::int32_t saved_fade_out_start_ = 0;
  bool end_reached_ = false;
  bool final_sent_ = false;
  bool af_opened_ = false;
  bool af_started_ = false;
  bool envelope_on_ = true;
  std::int32_t volume_ = kMMUnityGain;
  std::int32_t panning_ = 0;
  TMMGainPair gains_;
  // The type-specific values handed to CanLoad.
  std::int32_t type_values_[3] = {};
  TNotifyEvent owner_callback_;
};

// The published audio file.
class TMMAudioFile : public TMMCustomAudioFile {
 public:
  explicit TMMAudioFile(TComponent* owner) : TMMCustomAudioFile(owner) {}
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};
