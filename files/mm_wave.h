#pragma once

// TMMWave: one wave source (a file, or a RIFF image held in memory) over the wave routines.
// It owns the wave I/O block, keeps the play sections, converts positions between samples
// and the caller's time unit, and raises EMMWaveError with the system's messages.

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "devices/mm_types.h"
#include "devices/wave_format.h"
#include "files/wave_io.h"
#include "platform/framework/exception.h"

class EMMWaveError : public Exception {
 public:
  using Exception::Exception;
};

class TMMWave;

// Progress of a long operation: bytes done of the total; setting cancel stops it.
using TMMWaveProgress =
    std::function<void(TMMWave* sender, std::int32_t curByte, std::int32_t numBytes, bool& cancel)>;

// Told whenever a wave it observes changes (new file, new image, new block).
class TMMWaveObserver {
 public:
  virtual ~TMMWaveObserver() = default;
  virtual void WaveChanged(TMMWave* wave) = 0;
};

// One stretch of the wave that is played: samples and the bytes they occupy (64-bit, so
// that the data of files from 2 GiB up is counted whole).
struct TMMWaveSection {
  std::int32_t StartSample;
  std::int64_t StartByte;
  std::int32_t Length;  // samples
  std::int64_t Bytes;
};

inline constexpr std::int32_t kMMWaveMinIOBuffer = 8192;
inline constexpr std::int32_t kMMWaveDefaultIOBuffer = 32768;

class TMMWave {
 public:
  // A memory wave holds its whole RIFF image in memory (stored as the owner's "Data").
  explicit TMMWave(bool memoryWave = false);
  virtual ~TMMWave();
  TMMWave(const TMMWave&) = delete;
  TMMWave& operator=(const TMMWave&) = delete;

  bool IsMemoryWave() const { return memory_; }
  bool IsOpened() const { return opened_; }
  PWaveIOBlock GetWaveIOBlock() const { return block_; }
  const std::vector<TMMWaveSection>& Sections() const { return sections_; }

  // ---- Published properties (read-only ones ignore the value they are given) ----
  TMMWaveProgress OnProgress;
  TMMTimeFormats GetTimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value);
  bool GetFileMustExist() const { return file_must_exist_; }
  void SetFileMustExist(bool value) { file_must_exist_ = value; }
  const std::string& GetFileName() const { return file_name_; }
  virtual void SetFileName(const std::string& name);
  int GetBitLength() const;
  void SetBitLength(int) {}
  TMMMode GetMode() const;
  void SetMode(TMMMode) {}
  int GetFormatTag() const;
  void SetFormatTag(int) {}
  std::string GetFormatString() const;
  void SetFormatString(const std::string&) {}
  std::int32_t GetSampleRate() const;
  void SetSampleRate(std::int32_t) {}
  // Clamped to 2^31 - 1 for files from 2 GiB up.
  std::int32_t GetFileSize() const;
  void SetFileSize(std::int32_t) {}
  std::int32_t GetDataSize() const;  // in the time format
  void SetDataSize(std::int32_t) {}
  std::int32_t GetIOBufferSize() const { return io_buffer_size_; }
  // Clamped to 8192 .. the multimedia layer's largest buffer; used from the next Open.
  void SetIOBufferSize(std::int32_t value);

  // ---- Operations ----
  virtual std::int32_t Read(char* buffer, std::int32_t bytes);
  std::int32_t Write(const char* buffer, std::int32_t bytes);
  virtual PWaveFormatEx GetPWaveFormat() const;
  virtual void Seek(std::int32_t position);  // in the time format
  // Position in the time format; -1 without block.
  std::int32_t GetPosition() const;
  // Samples over all sections.
  std::int32_t GetLength() const;
  // Bytes still to be read from the play window of an open wave (clamped to 2^31 - 1).
  std::int32_t GetBytesLeft() const { return WaveClamp32(bytes_left_); }

  // Clamped to 2^31 - 1 where the bytes do not fit.
  virtual std::int32_t SamplesToBytes(std::int32_t samples) const;
  virtual std::int32_t BytesToSamples(std::int32_t bytes) const;
  virtual std::int32_t ToSectionPosition(std::int32_t samples) const { return samples; }
  virtual std::int32_t FromSectionPosition(std::int32_t samples) const { return samples; }
  virtual std::int32_t SamplesToTime(std::int32_t samples) const;
  virtual std::int32_t TimeToSamples(std::int32_t time) const;
  // Called with 0 by Open and when a chain starts, with 1 by Seek.
  virtual void PositionHook(int /*reason*/) {}
  // Called after a loop wrap and when a chain is reset.
  virtual void RestartHook() {}

  // The stored "Data" of a memory wave.
  virtual void ReadData(std::istream& stream) { LoadFromStream(stream); }
  virtual void WriteData(std::ostream& stream) const { SaveToStream(stream); }
  virtual void LoadFromStream(std::istream& stream);
  virtual void SaveToStream(std::ostream& stream) const;

  virtual void Open();
  virtual void Close();
  void Clear();
  // Takes over the other wave's sound and settings; nullptr clears this wave.
  void Assign(const TMMWave* other);
  // Creates and opens a new wave file with `format` for writing.
  void CreateFile(const std::string& name, const WAVEFORMATEX* format);

  void AddObserver(TMMWaveObserver* observer);
  void RemoveObserver(TMMWaveObserver* observer);
  // Fired on every announced change, before the observers are told.
  std::function<void(TMMWave* sender)> OnChange;

 protected:
  // Announces a change, or remembers it while an update is open.
  virtual void Changed();
  void BeginUpdate() { ++update_count_; }
  void EndUpdate();

 private:
  void ClearContents();
  void TakeBlock(PWaveIOBlock block);
  void RebuildSections();
  void SeekSamples(std::int32_t samples);
  // The bytes of a number of samples, in 64 bits, never more than the data holds.
  std::int64_t WideBytes(std::int64_t samples) const;
  // The data's bytes from the first sample to `samples` after it: the whole data for the
  // whole length, never more.
  std::int64_t DataBytes(std::int64_t samples) const;
  [[noreturn]] void RaiseReadError(const std::string& name) const;

  bool memory_;
  std::vector<char> image_;  // memory wave only; the block reads it in place
  PWaveIOBlock block_ = nullptr;
  std::string file_name_;
  bool file_must_exist_ = true;
  TMMTimeFormats time_format_ = tfSample;
  std::int32_t io_buffer_size_ = kMMWaveDefaultIOBuffer;
  std::int32_t first_sample_ = 0;
  std::int32_t last_sample_ = 0;
  std::int32_t position_ = 0;  // samples
  std::int64_t bytes_left_ = 0;
  std::int64_t total_bytes_ = 0;
  bool opened_ = false;
  std::vector<TMMWaveSection> sections_;
  std::size_t current_section_ = 0;
  std::int64_t section_bytes_left_ = 0;
  std::vector<TMMWaveObserver*> observers_;
  int update_count_ = 0;
  bool change_pending_ = false;
  bool destroying_ = false;
};
