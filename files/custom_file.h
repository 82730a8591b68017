#pragma once

// The base of every file type an audio file can load, and the class side of a file type:
// what is asked of a type before any object of it exists (its kind, whether it takes a file,
// the file's information, its open-dialog filter).

#include <cstdint>
#include <string>

#include "platform/framework/component.h"
#include "stream/dsp_component.h"

enum TMMAudioFileType : std::uint8_t { ftNone, ftWave, ftMpeg, ftWMA, ftVorbis, ftCDA };

// What GetFileInfo tells of a file.
struct TMMFileInfo {
  std::uint32_t Kind = 0;   // 1 for wave
  std::int32_t Length = 0;  // milliseconds
  std::uint8_t Reserved[16] = {};
  std::string FileName;  // without directory
};

class TMMCustomAudioFile;

class TMMCustomFile : public TMMDSPComponent {
 public:
  explicit TMMCustomFile(TComponent* owner) : TMMDSPComponent(owner) {}

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // ---- Asked of the class (a type hides these with its own) ----
  static TMMAudioFileType FileType() { return ftNone; }
  // Whether the type takes the file; the three values are type-specific settings.
  static bool CanLoad(const std::string& /*name*/, std::int32_t /*value1*/, std::int32_t /*value2*/,
                      std::int32_t /*value3*/) {
    return false;
  }
  // False when the file cannot be opened.
  static bool GetFileInfo(const std::string& /*name*/, TMMFileInfo& /*info*/) { return false; }
  // Open-dialog filter: a description, a bar, the patterns.
  static std::string GetFilter() { return {}; }
  static std::string GetDefaultMask() { return {}; }

  // ---- Asked of the object ----
  // Bytes per block of the delivered format.
  virtual std::int32_t GetBlockAlign() const = 0;
  // The trailing header of MPEG files; other types have none.
  virtual void SetTrailingHeader(std::int32_t /*value*/) {}
  virtual std::int32_t GetTrailingHeader() const { return 0; }
  // No sound to play.
  virtual bool IsEmpty() const = 0;
  // Milliseconds.
  virtual std::int32_t GetLength() const = 0;
  virtual std::string GetFileName() const = 0;
  virtual void SetFileName(const std::string& name) = 0;
  virtual bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(bool value) { enabled_ = value; }
  // In the type's own time unit.
  virtual std::int32_t GetPosition() const = 0;
  virtual void SetPosition(std::int32_t value) = 0;
  // In milliseconds.
  virtual std::int32_t GetTimePosition() const = 0;
  virtual void SetTimePosition(std::int32_t ms) = 0;
  virtual void SetBitRate(std::int32_t /*value*/) {}
  // Of the current format; 0 without one.
  virtual std::int32_t GetSampleRate() const;
  virtual std::int32_t GetChannels() const;
  virtual std::int32_t GetBitRate() const { return 0; }
  // Called by the audio file while its chain runs.
  virtual void FileHook() {}

  // The audio file that loaded this object, or none.
  TMMCustomAudioFile* GetAudioFile() const { return audio_file_; }
  void SetAudioFile(TMMCustomAudioFile* value) { audio_file_ = value; }

  // Fired when the file changes (another file, new contents).
  TNotifyEvent OnChange;

 private:
  bool enabled_ = true;
  TMMCustomAudioFile* audio_file_ = nullptr;
};

// The class side of a file type.
class TMMFileTypeClass {
 public:
  virtual ~TMMFileTypeClass() = default;
  virtual std::string ClassName() const = 0;
  virtual TMMAudioFileType FileType() const = 0;
  virtual bool CanLoad(const std::string& name, std::int32_t value1, std::int32_t value2,
                       std::int32_t value3) const = 0;
  virtual bool GetFileInfo(const std::string& name, TMMFileInfo& info) const = 0;
  virtual std::string GetFilter() const = 0;
  virtual std::string GetDefaultMask() const = 0;
  // A new object of the type, owned by owner.
  virtual TMMCustomFile* Create(TComponent* owner) const = 0;
};

// The class side of file type T, from T's static members.
template <class T>
class TMMFileTypeClassOf final : public TMMFileTypeClass {
 public:
  std::string ClassName() const override { return T::StaticClassInfo().name; }
  TMMAudioFileType FileType() const override { return T::FileType(); }
  bool CanLoad(const std::string& name, std::int32_t value1, std::int32_t value2,
               std::int32_t value3) const override {
    return T::CanLoad(name, value1, value2, value3);
  }
  bool GetFileInfo(const std::string& name, TMMFileInfo& info) const override {
    return T::GetFileInfo(name, info);
  }
  std::string GetFilter() const override { return T::GetFilter(); }
  std::string GetDefaultMask() const override { return T::GetDefaultMask(); }
  TMMCustomFile* Create(TComponent* owner) const override { return new T(owner); }
};

template <class T>
const TMMFileTypeClass& FileTypeClass() {
  static const TMMFileTypeClassOf<T> type;
  return type;
}
