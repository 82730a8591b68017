#include "files/wave_file.h"

#include <cstring>
#include <filesystem>
#include <functional>

#include "devices/mm_strings.h"
#include "files/upper_case.h"
#include "platform/framework/properties.h"
#include "platform/text/file_names.h"
#include "stream/dsp_thread.h"

namespace {

// Bytes free on the file system that holds `name`; -1 when it cannot be told.
std::int64_t FreeBytesFor(const std::string& name) {
  const std::filesystem::path folder = platform::PathFromUtf8(name).parent_path();
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(folder.empty() ? std::filesystem::path(".") : folder, error);
  if (error) return -1;
  return static_cast<std::int64_t>(space.available);
}

void Fire(const TNotifyEvent& event, TComponent* sender) {
  if (event) CallSynchronized([&] { event(sender); });
}

}  // namespace

TMMCustomWaveFile::TMMCustomWaveFile(TComponent* owner) : TMMCustomFile(owner) {
  wave_.AddObserver(this);
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  wave_.RemoveObserver(this);
  if (recording_) EndRecording();
}

const TClassInfo& TMMCustomWaveFile::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMCustomWaveFile>("TMMCustomWaveFile", &TMMCustomFile::StaticClassInfo())
          .Build();
  return info;
}

const TClassInfo& TMMWaveFile::StaticClassInfo() {
  using W = TMMWaveFile;
  using Event = TNotifyEvent W::*;
  using LinkGet = TMMDSPComponent* (W::*)() const;
  using LinkSet = void (W::*)(TMMDSPComponent*);
  using BoolGet = bool (W::*)() const;
  using BoolSet = void (W::*)(bool);
  static const TClassInfo info =
      TClassInfoBuilder<W>("TMMWaveFile", &TMMCustomWaveFile::StaticClassInfo())
          .Creatable()
          .Event("OnChange", static_cast<Event>(&W::OnChange))
          .Event("OnChanged", static_cast<Event>(&W::OnChanged))
          .Event("OnOpen", static_cast<Event>(&W::OnOpen))
          .Event("OnClose", static_cast<Event>(&W::OnClose))
          .Event("OnLooping", static_cast<Event>(&W::OnLooping))
          .Ref("Input", static_cast<LinkGet>(&W::GetInput), static_cast<LinkSet>(&W::SetInput))
          .Ref("Output", static_cast<LinkGet>(&W::GetOutput), static_cast<LinkSet>(&W::SetOutput))
          .Bool("Enabled", static_cast<BoolGet>(&W::GetEnabled),
                static_cast<BoolSet>(&W::SetEnabled))
          .Bool("OverwriteExisting", static_cast<BoolGet>(&W::GetOverwriteExisting),
                static_cast<BoolSet>(&W::SetOverwriteExisting))
          .Build();
  return info;
}

// ---- As a file type ---------------------------------------------------------------------

bool TMMCustomWaveFile::CanLoad(const std::string& name, std::int32_t, std::int32_t, std::int32_t) {
  const std::string extension = platform::Utf8FromPath(platform::PathFromUtf8(name).extension());
  if (!extension.empty() &&
      UpperCase(GetDefaultMask()).find(UpperCase(extension)) == std::string::npos) {
    return false;
  }
  return WaveIsValid(name.c_str(), wioRead);
}

bool TMMCustomWaveFile::GetFileInfo(const std::string& name, TMMFileInfo& info) {
  PWaveIOBlock block = nullptr;
  if (WaveOpen(block, name.c_str(), FOURCC_WAVE, wioRead) != 0) return false;
  info = TMMFileInfo{};
  info.Kind = 1;
  info.Length = SamplesToMs(&block->Format, block->DataSamples);
  info.FileName = platform::Utf8FromPath(platform::PathFromUtf8(name).filename());
  WaveFree(block);
  return true;
}

std::string TMMCustomWaveFile::GetFilter() {
  return LoadMMString(kMMWaveFileFilter);
}

std::int32_t TMMCustomWaveFile::GetBlockAlign() const {
  const WAVEFORMATEX* f = wave_.GetPWaveFormat();
  return f == nullptr ? 0 : f->nBlockAlign;
}

std::int32_t TMMCustomWaveFile::GetLength() const {
  return SamplesToMs(wave_.GetPWaveFormat(), wave_.GetLength());
}

std::int32_t TMMCustomWaveFile::GetTimePosition() const {
  const std::int32_t position = wave_.GetPosition();
  if (position < 0) return 0;
  return SamplesToMs(wave_.GetPWaveFormat(), wave_.TimeToSamples(position));
}

void TMMCustomWaveFile::SetTimePosition(std::int32_t ms) {
  wave_.Seek(wave_.SamplesToTime(MsToSamples(wave_.GetPWaveFormat(), ms)));
}

// ---- Changes of the wave ----------------------------------------------------------------

void TMMCustomWaveFile::WaveChanged(TMMWave* wave) {
  if (OnChange) OnChange(this);
  try {
    const WAVEFORMATEX* f = wave->GetPWaveFormat();
    if (f != nullptr || wave->GetFileMustExist()) {
      SetPWaveFormat(f);
      silence_ =
          (f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
    }
  } catch (...) {
    if (OnChanged) OnChanged(this);
    throw;
  }
  if (OnChanged) OnChanged(this);
}

// ---- Chain ------------------------------------------------------------------------------

void TMMCustomWaveFile::Opened() {
  if (file_opened_) return;
  if (Recording()) {
    const WAVEFORMATEX* f = GetInput()->GetPWaveFormat();
    SetPWaveFormat(f);
    const std::string name = wave_.GetFileName();
    if (!name.empty() && f != nullptr) {
      if (overwrite_existing_ || wave_.GetDataSize() == 0) {
        wave_.CreateFile(name, f);
      } else {
        // Appending: writing goes on behind the data already there.
        wave_.Open();
        PWaveIOBlock block = wave_.GetWaveIOBlock();
        const std::int64_t end = std::int64_t{block->DataOffset} + block->DataBytes;
        if (platform::MmioSeek64(block->Handle, end, SEEK_SET) != end) {
          wave_.Close();
          throw EMMWaveError(LoadMMString(kMMErrorSeekingFile));
        }
      }
      recording_ = true;
    }
  } else if (!IsEmpty()) {
    wave_.Open();
    start_position_ = wave_.GetPosition();
  }
  file_opened_ = true;
  TMMDSPComponent::Opened();
  Fire(OnOpen, this);
}

void TMMCustomWaveFile::Started() {
  if (file_opened_ && !file_started_) {
    file_started_ = true;
    if (!Recording()) {
      wave_.Seek(start_position_);
      wave_.PositionHook(0);
    }
  }
  TMMDSPComponent::Started();
}

void TMMCustomWaveFile::Stopped() {
  TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::Reset() {
  wave_.RestartHook();
  TMMDSPComponent::Reset();
}

void TMMCustomWaveFile::Closed() {
  if (recording_) {
    EndRecording();
  } else {
    wave_.Close();
  }
  file_opened_ = false;
  file_started_ = false;
  TMMDSPComponent::Closed();
  Fire(OnClose, this);
}

void TMMCustomWaveFile::EndRecording() {
  recording_ = false;
  // Nothing recorded leaves an empty "data" chunk: a filler sample would be sound that never
  // came. Its size and the file's are still written when the file is finished.
  PWaveIOBlock block = wave_.GetWaveIOBlock();
  if (block != nullptr && block->Handle != nullptr) block->DataChunk.dwFlags |= MMIO_DIRTY;
  wave_.Close();
}

void TMMCustomWaveFile::Record(const char* data, std::int32_t bytes) {
  if (!recording_ || bytes <= 0) return;
  const std::int64_t needed = std::int64_t{wave_.GetIOBufferSize()} + bytes + 10240;
  const std::int64_t free = FreeBytesFor(wave_.GetFileName());
  if (free < needed || wave_.Write(data, bytes) != bytes) EndRecording();
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
  if (Recording() && lpWaveHdr != nullptr) {
    Record(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded));
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (Recording()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    Record(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded));
    return;
  }
  if (IsEmpty()) lpWaveHdr->dwBytesRecorded = 0;
  if (!IsStarted() || !GetEnabled()) {
    std::memset(lpWaveHdr->lpData, silence_, lpWaveHdr->dwBufferLength);
    lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
    MoreBuffers = true;
    return;
  }
  std::int32_t got =
      wave_.Read(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBufferLength));
  if (got < 0) got = 0;
  lpWaveHdr->dwBytesRecorded = static_cast<DWORD>(got);
  if (got > 0 && wave_.GetBytesLeft() > 0) {
    MoreBuffers = true;
  } else if (wave_.GetBytesLeft() <= 0 && lpWaveHdr->bLooping) {
    if (lpWaveHdr->dwLoopCount > 0) --lpWaveHdr->dwLoopsLeft;
    if (lpWaveHdr->dwLoopCount != 0 && static_cast<std::int32_t>(lpWaveHdr->dwLoopsLeft) < 0) {
      return;
    }
    wave_.Seek(0);
    wave_.RestartHook();
    if (OnLooping) OnLooping(this);
    MoreBuffers = true;
    lpWaveHdr->bLoopDone = -1;
  }
}
