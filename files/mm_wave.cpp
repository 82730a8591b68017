#include "files/mm_wave.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "devices/mm_strings.h"
#include "platform/text/file_names.h"

namespace {

[[noreturn]] void Raise(int id) {
  throw EMMWaveError(LoadMMString(id));
}

// The full path of a name; empty stays empty.
std::string ExpandName(const std::string& name) {
  if (name.empty()) return {};
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(platform::PathFromUtf8(name), error);
  if (error) return name;
  return platform::Utf8FromPath(full.lexically_normal());
}

// Size of the file on disk, or -1 when there is none.
std::int64_t SizeOnDisk(const std::string& name) {
  if (name.empty()) return -1;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(platform::PathFromUtf8(name), error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

}  // namespace

TMMWave::TMMWave(bool memoryWave) : memory_(memoryWave) {}

TMMWave::~TMMWave() {
  // A recording is finished, but nobody is told any more.
  destroying_ = true;
  ClearContents();
}

// ---- Properties -------------------------------------------------------------------------

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
  if (value == time_format_) return;
  time_format_ = value;
  RebuildSections();
}

int TMMWave::GetBitLength() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f == nullptr ? 0 : f->wBitsPerSample;
}

TMMMode TMMWave::GetMode() const {
  return WaveFormatToMMMode(GetPWaveFormat());
}

int TMMWave::GetFormatTag() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f == nullptr ? 0 : f->wFormatTag;
}

std::string TMMWave::GetFormatString() const {
  return WaveFormatTagName(GetPWaveFormat());
}

std::int32_t TMMWave::GetSampleRate() const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f == nullptr ? 11025 : static_cast<std::int32_t>(f->nSamplesPerSec);
}

std::int32_t TMMWave::GetFileSize() const {
  return block_ == nullptr ? 0 : WaveClamp32(block_->FileSize);
}

std::int32_t TMMWave::GetDataSize() const {
  return block_ == nullptr ? 0 : SamplesToTime(block_->DataSamples);
}

void TMMWave::SetIOBufferSize(std::int32_t value) {
  io_buffer_size_ = std::clamp(value, kMMWaveMinIOBuffer, MMIO_MAXBUFFER);
}

PWaveFormatEx TMMWave::GetPWaveFormat() const {
  return block_ == nullptr ? nullptr : &block_->Format;
}

std::int32_t TMMWave::GetPosition() const {
  return block_ == nullptr ? -1 : SamplesToTime(position_);
}

std::int32_t TMMWave::GetLength() const {
  std::int64_t sum = 0;
  for (const TMMWaveSection& s : sections_) sum += s.Length;
  return static_cast<std::int32_t>(std::min<std::int64_t>(sum, 0x7FFFFFFF));
}

// ---- Conversions ------------------------------------------------------------------------

std::int32_t TMMWave::SamplesToBytes(std::int32_t samples) const {
  return WaveClamp32(WaveSamplesToBytes64(GetPWaveFormat(), samples));
}

std::int64_t TMMWave::WideBytes(std::int64_t samples) const {
  const std::int64_t bytes = WaveSamplesToBytes64(GetPWaveFormat(), samples);
  // Rounded up to whole blocks, a partial last block would count whole: the wave would read
  // past its data and take the end marker for samples.
  return block_ == nullptr ? bytes : std::min<std::int64_t>(bytes, block_->DataBytes);
}

std::int64_t TMMWave::DataBytes(std::int64_t samples) const {
  return WaveDataBytes64(block_, first_sample_ + samples) - WaveDataBytes64(block_, first_sample_);
}

std::int32_t TMMWave::BytesToSamples(std::int32_t bytes) const {
  return ::BytesToSamples(GetPWaveFormat(), bytes);
}

std::int32_t TMMWave::SamplesToTime(std::int32_t samples) const {
  switch (time_format_) {
    case tfMillisecond:
      return SamplesToMs(GetPWaveFormat(), samples);
    case tfByte:
      return SamplesToBytes(samples);
    case tfSample:
      break;
  }
  return samples;
}

std::int32_t TMMWave::TimeToSamples(std::int32_t time) const {
  switch (time_format_) {
    case tfMillisecond:
      return MsToSamples(GetPWaveFormat(), time);
    case tfByte:
      return BytesToSamples(time);
    case tfSample:
      break;
  }
  return time;
}

// ---- Changes and observers --------------------------------------------------------------

void TMMWave::AddObserver(TMMWaveObserver* observer) {
  if (observer == nullptr) return;
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void TMMWave::RemoveObserver(TMMWaveObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TMMWave::Changed() {
  if (destroying_) return;
  if (update_count_ > 0) {
    change_pending_ = true;
    return;
  }
  if (OnChange) OnChange(this);
  // An observer may remove itself (or another) while being told.
  const std::vector<TMMWaveObserver*> observers = observers_;
  for (TMMWaveObserver* o : observers) {
    if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) {
      o->WaveChanged(this);
    }
  }
}

void TMMWave::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0 && change_pending_) {
    change_pending_ = false;
    Changed();
  }
}

// ---- Contents ---------------------------------------------------------------------------

void TMMWave::ClearContents() {
  Close();
  file_name_.clear();
  if (block_ != nullptr) WaveFree(block_);
  sections_.clear();
  current_section_ = 0;
  section_bytes_left_ = 0;
  first_sample_ = 0;
  last_sample_ = 0;
  position_ = 0;
  bytes_left_ = 0;
  total_bytes_ = 0;
  std::vector<char>().swap(image_);
}

void TMMWave::Clear() {
  ClearContents();
  Changed();
}

void TMMWave::TakeBlock(PWaveIOBlock block) {
  block_ = block;
  first_sample_ = block->FirstSample;
  last_sample_ = block->LastSample;
  position_ = block->SamplePos;
  bytes_left_ = block->BytesLeft;
  RebuildSections();
}

void TMMWave::RebuildSections() {
  sections_.clear();
  current_section_ = 0;
  section_bytes_left_ = 0;
  if (block_ == nullptr) {
    total_bytes_ = 0;
    return;
  }
  const std::int32_t length = std::max(last_sample_ - first_sample_, 0);
  sections_.push_back({first_sample_, WideBytes(first_sample_), length, DataBytes(length)});
  total_bytes_ = DataBytes(GetLength());
  // An open wave keeps reading from where it was.
  if (opened_) SeekSamples(position_);
}

void TMMWave::RaiseReadError(const std::string& name) const {
  // An existing file that the routines refuse is no wave; anything else could not be read.
  if (WaveFileExists(name.c_str()) && !WaveIsValid(name.c_str(), wioRead)) {
    Raise(kMMInvalidWaveFile);
  }
  Raise(kMMErrorReadingWaveFile);
}

void TMMWave::SetFileName(const std::string& name) {
  const std::string full = ExpandName(name);
  if (memory_) {
    if (full.empty()) return;
    std::ifstream in(full, std::ios::binary);
    if (!in) RaiseReadError(full);
    try {
      LoadFromStream(in);
    } catch (const EMMWaveError&) {
      RaiseReadError(full);
    }
    return;
  }
  if (full.empty()) {
    if (block_ != nullptr || !file_name_.empty()) Clear();
    return;
  }
  const std::int64_t size = block_ == nullptr ? 0 : block_->FileSize;
  if (full == file_name_ && std::min<std::int64_t>(SizeOnDisk(full), 0xFFFFFFFF) == size) return;
  const bool exists = WaveFileExists(full.c_str());
  PWaveIOBlock block = nullptr;
  if (exists && WaveOpen(block, full.c_str(), FOURCC_WAVE, wioRead) == 0) {
    ClearContents();
    TakeBlock(block);
    file_name_ = full;
    Changed();
    return;
  }
  if (!exists && !file_must_exist_) {
    ClearContents();
    file_name_ = full;
    Changed();
    return;
  }
  RaiseReadError(full);
}

void TMMWave::LoadFromStream(std::istream& stream) {
  if (!memory_) return;
  std::vector<char> image{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  PWaveIOBlock block = nullptr;
  if (image.empty() || image.size() > static_cast<std::size_t>(0x7FFFFFFF) ||
      WaveOpenMemory(block, image.data(), static_cast<std::int32_t>(image.size())) != 0) {
    Raise(kMMErrorReadingWaveFile);
  }
  ClearContents();
  // Moving keeps the buffer, which the block's memory descriptor names.
  image_ = std::move(image);
  TakeBlock(block);
  position_ = 0;
  RebuildSections();
  Changed();
}

void TMMWave::SaveToStream(std::ostream& stream) const {
  if (!image_.empty()) stream.write(image_.data(), static_cast<std::streamsize>(image_.size()));
}

void TMMWave::Assign(const TMMWave* other) {
  if (other == this) return;
  if (other == nullptr) {
    Clear();
    return;
  }
  if (!memory_ && other->memory_) {
    throw Exception("Cannot assign a memory wave to a file wave");
  }
  ClearContents();
  file_must_exist_ = other->file_must_exist_;
  BeginUpdate();
  try {
    if (memory_ && other->memory_) {
      if (!other->image_.empty()) {
        std::istringstream in(std::string(other->image_.begin(), other->image_.end()));
        LoadFromStream(in);
      }
    } else if (!other->file_name_.empty()) {
      SetFileName(other->file_name_);
    } else if (!memory_ && other->block_ != nullptr) {
      PWaveIOBlock block = nullptr;
      if (WaveCreate(block, &other->block_->Format) != 0) Raise(kMMErrorReadingWaveFile);
      TakeBlock(block);
      Changed();
    }
    time_format_ = other->time_format_;
    io_buffer_size_ = other->io_buffer_size_;
    if (block_ != nullptr) {
      first_sample_ = other->first_sample_;
      last_sample_ = other->last_sample_;
      position_ = other->position_;
    }
    RebuildSections();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TMMWave::CreateFile(const std::string& name, const WAVEFORMATEX* format) {
  if (memory_) Raise(kMMCannotWriteMemoryWave);
  const std::string full = ExpandName(name);
  if (format == nullptr || full.empty() || full.size() > 260 || !WaveNameIsValid(full.c_str())) {
    Raise(kMMCannotCreateWaveFile);
  }
  // A wave that is writing this very file finishes it before it is replaced.
  ClearContents();
  if (WaveFileExists(full.c_str())) WaveFileDelete(full.c_str());
  PWaveIOBlock block = nullptr;
  if (WaveCreate(block, format) != 0) Raise(kMMCannotCreateWaveFile);
  if (WaveCreateFile(block, full.c_str()) != 0) {
    WaveFinish(block);
    WaveFree(block);
    Raise(kMMCannotCreateWaveFile);
  }
  TakeBlock(block);
  file_name_ = full;
  if (WaveSetIOBuffer(block_, io_buffer_size_) != 0) {
    ClearContents();
    Raise(kMMCannotSetupFileBuffer);
  }
  opened_ = true;
  Changed();
}

// ---- Opening, seeking, reading, writing -------------------------------------------------

void TMMWave::Open() {
  if (block_ == nullptr) return;
  if (WaveReopen(block_) != 0) Raise(kMMCannotOpenWaveFile);
  if (WaveSetIOBuffer(block_, io_buffer_size_) != 0) {
    WaveFinish(block_);
    Raise(kMMCannotSetupFileBuffer);
  }
  RebuildSections();
  PositionHook(0);
  opened_ = true;
  SeekSamples(position_);
}

void TMMWave::Close() {
  if (block_ != nullptr) {
    const bool written = (block_->DataChunk.dwFlags & MMIO_DIRTY) != 0;
    WaveFinish(block_);
    opened_ = false;
    position_ = 0;
    bytes_left_ = 0;
    if (written) {
      // What was recorded is now the wave.
      last_sample_ = block_->LastSample;
      RebuildSections();
      Changed();
    }
  }
  opened_ = false;
  position_ = 0;
  bytes_left_ = 0;
}

void TMMWave::Seek(std::int32_t position) {
  if (block_ == nullptr) return;
  SeekSamples(TimeToSamples(position));
  PositionHook(1);
}

void TMMWave::SeekSamples(std::int32_t samples) {
  if (block_ == nullptr) return;
  const std::int32_t length = GetLength();
  const std::int32_t s = std::clamp(samples, 0, length);
  position_ = s;
  if (!opened_) return;
  total_bytes_ = DataBytes(length);
  bytes_left_ = total_bytes_ - DataBytes(s);
  std::int64_t sum = 0;
  std::size_t i = 0;
  for (; i < sections_.size(); ++i) {
    sum += sections_[i].Length;
    if (sum >= s) break;
  }
  if (i == sections_.size()) Raise(kMMErrorSeekingFile);
  const TMMWaveSection& section = sections_[i];
  const std::int64_t target =
      std::int64_t{section.StartSample} + section.Length - (sum - s) - block_->FirstSample;
  const auto sample = static_cast<std::int32_t>(std::max<std::int64_t>(target, 0));
  if (WaveSeek(block_, sample) != 0 && WaveSeek(block_, sample) != 0) {
    Raise(kMMErrorSeekingFile);
  }
  current_section_ = i;
  section_bytes_left_ = DataBytes(sum) - DataBytes(s);
}

std::int32_t TMMWave::Read(char* buffer, std::int32_t bytes) {
  if (block_ == nullptr || bytes_left_ <= 0) return -1;
  // Nothing is asked for: nothing is written, not even the end marker below.
  if (buffer == nullptr || bytes <= 0) return 0;
  std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(bytes, bytes_left_));
  std::int32_t done = 0;
  while (n > 0) {
    if (section_bytes_left_ > 0) {
      const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(n, section_bytes_left_));
      const std::int32_t got = WaveRead(block_, buffer + done, piece);
      if (got <= 0) break;
      done += got;
      n -= got;
      section_bytes_left_ -= got;
    } else if (current_section_ + 1 < sections_.size()) {
      ++current_section_;
      const TMMWaveSection& next = sections_[current_section_];
      if (WaveSeek(block_, next.StartSample - block_->FirstSample) != 0) break;
      section_bytes_left_ = next.Bytes;
    } else {
      bytes_left_ = 0;
      break;
    }
  }
  if (done > 0) {
    bytes_left_ = std::max<std::int64_t>(bytes_left_ - done, 0);
    position_ = WaveClamp32(WaveBytesToSamples64(GetPWaveFormat(), total_bytes_ - bytes_left_));
    return done;
  }
  // The data ended before the wave thought: one short block of silence marks the end (a
  // count of 0 would read as "try again"), then -1. Never more than the caller's buffer.
  const std::int32_t marker = std::min(bytes, 4);
  std::memset(buffer, 0, static_cast<std::size_t>(marker));
  bytes_left_ = 0;
  section_bytes_left_ = 0;
  position_ = GetLength();
  return marker;
}

std::int32_t TMMWave::Write(const char* buffer, std::int32_t bytes) {
  if (memory_) Raise(kMMCannotWriteMemoryWave);
  if (block_ == nullptr) return -1;
  const std::int32_t written = WaveWrite(block_, buffer, bytes);
  if (written > 0) {
    position_ = block_->SamplePos;
    last_sample_ = std::max(last_sample_, block_->LastSample);
  }
  return written;
}
