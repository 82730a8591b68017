#include "files/audio_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "files/file_type_registry.h"
#include "files/upper_case.h"
#include "platform/text/file_names.h"

namespace {

// Bytes put into a buffer that would otherwise leave the run empty.
constexpr DWORD kFillBytes = 4;

std::int32_t ClampToInt(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, INT32_MAX));
}

// A name the loader takes although no such file exists: program resources and memory images.
bool NamesResourceOrMemory(const std::string& name) {
  const std::string upper = UpperCase(name);
  return upper.find("RESOURCE://") != std::string::npos ||
         upper.find("POINTER://") != std::string::npos;
}

bool IsExistingFile(const std::string& name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(platform::PathFromUtf8(name), ec);
}

// Why a name that is there cannot be read as an audio file (not a regular file, or
// opening it fails: permission denied, ...); empty when it can be read or is not there.
std::string UnreadableReason(const std::string& name) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(name, ec);
  if (ec || !std::filesystem::exists(status)) return {};
  if (!std::filesystem::is_regular_file(status)) return "not a regular file";
  errno = 0;
  if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
    std::fclose(f);
    return {};
  }
  return errno != 0 ? std::strerror(errno) : "it cannot be opened";
}

}  // namespace

// ---- TMMBaseAudioFile -------------------------------------------------------------------

const TClassInfo& TMMBaseAudioFile::StaticClassInfo() {
  using B = TMMBaseAudioFile;
  static const TClassInfo info =
      TClassInfoBuilder<B>("TMMBaseAudioFile", &TMMDSPComponent::StaticClassInfo())
          .Str("FileName", &B::GetFileName, &B::SetFileName)
          .Build();
  return info;
}

// ---- Construction -----------------------------------------------------------------------

TMMCustomAudioFile::TMMCustomAudioFile(TComponent* owner) : TMMBaseAudioFile(owner) {
  adpcm_ = new TMMADPCMConverter(this);
  pcm_ = new TMMPCMConverter(this);
  pcm_->SetInput(adpcm_);
  SetInput(pcm_);
  BuildEnvelope();
}

TMMCustomAudioFile::~TMMCustomAudioFile() {
  OnChange = nullptr;
  owner_callback_ = nullptr;
  delete file_;
  DestroyComponents();
}

const TClassInfo& TMMCustomAudioFile::StaticClassInfo() {
  static const TClassInfo info = TClassInfoBuilder<TMMCustomAudioFile>(
                                     "TMMCustomAudioFile", &TMMBaseAudioFile::StaticClassInfo())
                                     .Build();
  return info;
}

const TClassInfo& TMMAudioFile::StaticClassInfo() {
  using A = TMMAudioFile;
  using Event = TNotifyEvent A::*;
  using IntGet = std::int32_t (A::*)() const;
  using IntSet = void (A::*)(std::int32_t);
  using BoolGet = bool (A::*)() const;
  using BoolSet = void (A::*)(bool);
  using TypeGet = TMMAudioFileType (A::*)() const;
  using TypeSet = void (A::*)(TMMAudioFileType);
  static const TClassInfo info =
      TClassInfoBuilder<A>("TMMAudioFile", &TMMCustomAudioFile::StaticClassInfo())
          .Creatable()
          .Event("OnFileLoading", static_cast<Event>(&A::OnFileLoading))
          .Event("OnFileLoaded", static_cast<Event>(&A::OnFileLoaded))
          .Event("OnChange", static_cast<Event>(&A::OnChange))
          .Event("OnError", static_cast<TMMErrorEvent A::*>(&A::OnError))
          .Ref<TMMDSPComponent>("Output", &A::GetOutput, &A::SetOutput)
          .Bool("Enabled", static_cast<BoolGet>(&A::GetEnabled),
                static_cast<BoolSet>(&A::SetEnabled))
          .Int<std::int32_t>("MpegTrailingHeader", static_cast<IntGet>(&A::GetMpegTrailingHeader),
                             static_cast<IntSet>(&A::SetMpegTrailingHeader))
          .Enum<TMMAudioFileType>(
              "FileType", {"ftNone", "ftWave", "ftMpeg", "ftWMA", "ftVorbis", "ftCDA"},
              static_cast<TypeGet>(&A::GetFileType), static_cast<TypeSet>(&A::SetFileType))
          .Int<std::int32_t>("Volume", static_cast<IntGet>(&A::GetVolume),
                             static_cast<IntSet>(&A::SetVolume))
          .Int<std::int32_t>("Panning", static_cast<IntGet>(&A::GetPanning),
                             static_cast<IntSet>(&A::SetPanning))
          .Build();
  return info;
}

void TMMCustomAudioFile::Notification(TComponent* component, TOperation operation) {
  TMMBaseAudioFile::Notification(component, operation);
  if (operation != opRemove || component == nullptr) return;
  if (component == file_) {
    file_ = nullptr;
    file_type_ = nullptr;
  }
  if (component == adpcm_) adpcm_ = nullptr;
  if (component == pcm_) pcm_ = nullptr;
}

// ---- Loading ----------------------------------------------------------------------------

void TMMCustomAudioFile::SetFileName(const std::string& name) {
  LoadFile(name, ftNone);
}

std::string TMMCustomAudioFile::GetFileName() const {
  return file_ == nullptr ? std::string() : file_->GetFileName();
}

std::string TMMCustomAudioFile::GetFilter() const {
  return BuildFilter(true);
}

void TMMCustomAudioFile::LoadFile(const std::string& name, TMMAudioFileType kind) {
  if (HasState(csDestroying) || name == GetFileName()) return;
  Unload();
  if (name.empty()) return;
  if (!NamesResourceOrMemory(name)) {
    // A missing file loads nothing and says nothing; one that is there but cannot be
    // read says why.
    if (const std::string reason = UnreadableReason(name); !reason.empty())
      throw EMMAudioError("Cannot read " + name + ": " + reason);
    if (!IsExistingFile(name)) return;
  }
  if (kind != ftNone) {
    if (const TMMFileTypeClass* type = FindFileType(kind)) {
      try {
        TryType(*type, name);
        return;
      } catch (const Exception&) {
        // The asked-for type cannot load it: every type is probed.
      }
    }
  }
  // A copy: a handler may register further types meanwhile.
  const std::vector<TRegisterRec> types = FileTypeRegistry().Entries();
  for (const TRegisterRec& e : types) {
    if (e.Class->CanLoad(name, type_values_[0], type_values_[1], type_values_[2])) {
      TryType(*e.Class, name);
      return;
    }
  }
  if (adpcm_ != nullptr) adpcm_->SetInput(nullptr);
  throw EMMAudioError(kMMNotAnAudioFile);
}

void TMMCustomAudioFile::TryType(const TMMFileTypeClass& type, const std::string& name) {
  TMMCustomFile* object = type.Create(this);
  try {
    object->SetEnabled(enabled_);
    object->SetAudioFile(this);
    object->OnChange = [this](TComponent*) { FileChanged(); };
    if (OnFileLoading) OnFileLoading(this);
    object->SetFileName(name);
    fade_out_start_ = object->GetLength();
    file_ = object;
    file_type_ = &type;
    adpcm_->SetInput(object);
    adpcm_->SetEnabled(TMMADPCMConverter::Accepts(object->GetPWaveFormat()));
    ResetRange();
    if (OnFileLoaded) OnFileLoaded(this);
  } catch (...) {
    if (file_ == object) {
      file_ = nullptr;
      file_type_ = nullptr;
    }
    delete object;
    throw;
  }
}

void TMMCustomAudioFile::FileChanged() {
  if (OnChange) OnChange(this);
  if (owner_callback_) owner_callback_(this);
}

void TMMCustomAudioFile::Unload() {
  std::lock_guard guard(lock_);
  if (file_ != nullptr) {
    TMMCustomFile* object = file_;
    object->SetFileName("");
    file_ = nullptr;
    file_type_ = nullptr;
    delete object;
  }
  length_ = 0;
  bytes_delivered_ = 0;
  fade_in_ = 0;
  fade_out_ = 0;
  fade_out_start_ = 0;
  timed_fade_out_ = false;
}

// ---- Information ------------------------------------------------------------------------

TMMAudioFileType TMMCustomAudioFile::GetFileType() const {
  return file_type_ == nullptr ? ftNone : file_type_->FileType();
}

bool TMMCustomAudioFile::IsEmpty() const {
  return file_ == nullptr || file_->IsEmpty();
}

std::int32_t TMMCustomAudioFile::GetBlockAlign() const {
  return IsEmpty() ? 0 : file_->GetBlockAlign();
}

void TMMCustomAudioFile::SetEnabled(bool value) {
  enabled_ = value;
  if (file_ != nullptr) file_->SetEnabled(value);
}

std::int32_t TMMCustomAudioFile::GetMpegTrailingHeader() const {
  return GetFileType() == ftMpeg ? file_->GetTrailingHeader() : 0;
}

void TMMCustomAudioFile::SetMpegTrailingHeader(std::int32_t value) {
  if (GetFileType() == ftMpeg) file_->SetTrailingHeader(value);
}

// ---- Range, position, gains -------------------------------------------------------------

void TMMCustomAudioFile::ResetRange() {
  std::lock_guard guard(lock_);
  start_position_ = 0;
  length_ = fade_out_start_;
}

void TMMCustomAudioFile::BeginRun(std::int32_t start) {
  end_reached_ = false;
  final_sent_ = false;
  bytes_delivered_ = 0;
  start_position_ = start;
  bytes_to_play_ = MsToBytes(GetPWaveFormat(), std::max(length_ - start, 0));
  BuildEnvelope();
}

void TMMCustomAudioFile::SetPosition(std::int32_t ms) {
  std::lock_guard guard(lock_);
  ms = std::clamp(ms, 0, std::max(length_, 0));
  if (!IsEmpty()) file_->SetTimePosition(ms);
  if (af_started_) {
    BeginRun(ms);
    if (adpcm_ != nullptr) adpcm_->Reset();
    if (pcm_ != nullptr) pcm_->Reset();
  }
}

std::int32_t TMMCustomAudioFile::GetPosition() const {
  std::lock_guard guard(lock_);
  if (af_started_ && GetPWaveFormat() != nullptr) {
    return BytesToMs(GetPWaveFormat(), ClampToInt(bytes_delivered_)) + start_position_;
  }
  if (IsEmpty()) return 0;
  return file_->GetTimePosition();
}

void TMMCustomAudioFile::SetFades(std::int32_t fadeIn, std::int32_t fadeOut,
                                  std::int32_t fadeOutStart) {
  std::lock_guard guard(lock_);
  fade_in_ = std::max(fadeIn, 0);
  fade_out_ = std::max(fadeOut, 0);
  fade_out_start_ = fadeOutStart;
  if (af_started_) BuildEnvelope();
}

void TMMCustomAudioFile::FadeOutNow(std::int32_t ms) {
  std::lock_guard guard(lock_);
  if (!timed_fade_out_) {
    saved_fade_out_ = fade_out_;
    saved_fade_out_start_ = fade_out_start_;
  }
  timed_fade_out_ = true;
  fade_out_start_ = GetPosition();
  fade_out_ = std::max(ms, 0);
  BuildEnvelope();
}

void TMMCustomAudioFile::RestoreFadeOut() {
  if (!timed_fade_out_) return;
  fade_out_ = saved_fade_out_;
  fade_out_start_ = saved_fade_out_start_;
  timed_fade_out_ = false;
}

void TMMCustomAudioFile::BuildEnvelope() {
  std::lock_guard guard(lock_);
  gains_ = PannedGains(volume_, panning_);
}

TMMGainPair TMMCustomAudioFile::Gains() const {
  std::lock_guard guard(lock_);
  return gains_;
}

void TMMCustomAudioFile::SetVolume(std::int32_t value) {
  std::lock_guard guard(lock_);
  volume_ = std::clamp(value, 0, kMMMaxVolume);
  if (af_started_) BuildEnvelope();
}

void TMMCustomAudioFile::SetPanning(std::int32_t value) {
  std::lock_guard guard(lock_);
  panning_ = std::clamp(value, -kMMMaxPanning, kMMMaxPanning);
  if (af_started_) BuildEnvelope();
}

// ---- Chain ------------------------------------------------------------------------------

void TMMCustomAudioFile::Walk(void (TMMDSPComponent::*notification)()) {
  std::vector<TMMDSPComponent*> chain;
  for (TMMDSPComponent* c = this; c != nullptr; c = c->GetInput()) chain.push_back(c);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) ((*it)->*notification)();
}

void TMMCustomAudioFile::OpenChain(std::int32_t bufferSize) {
  if (af_opened_ || GetOutput() != nullptr) return;
  std::vector<TMMDSPComponent*> chain;
  for (TMMDSPComponent* c = this; c != nullptr; c = c->GetInput()) chain.push_back(c);
  try {
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      (*it)->SetBufferSize(bufferSize);
      (*it)->Opened();
    }
  } catch (...) {
    // Nothing stays half open.
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->Closed();
    throw;
  }
}

void TMMCustomAudioFile::StartChain() {
  if (!af_started_) Walk(&TMMDSPComponent::Started);
}

void TMMCustomAudioFile::StopChain() {
  if (af_started_) Walk(&TMMDSPComponent::Stopped);
}

void TMMCustomAudioFile::ResetChain() {
  if (af_opened_ && af_started_) Walk(&TMMDSPComponent::Reset);
}

void TMMCustomAudioFile::CloseChain() {
  if (af_opened_) Walk(&TMMDSPComponent::Closed);
}

void TMMCustomAudioFile::NotifyFile() {
  if (af_opened_ && af_started_ && file_ != nullptr) file_->FileHook();
}

void TMMCustomAudioFile::Opened() {
  TMMBaseAudioFile::Opened();
  std::lock_guard guard(lock_);
  af_opened_ = true;
  end_reached_ = false;
  final_sent_ = false;
}

void TMMCustomAudioFile::Started() {
  TMMBaseAudioFile::Started();
  std::lock_guard guard(lock_);
  if (!IsEmpty() && !af_started_) {
    BeginRun(GetPosition());
    af_started_ = true;
  }
}

void TMMCustomAudioFile::Stopped() {
  {
    std::lock_guard guard(lock_);
    end_reached_ = true;
    final_sent_ = true;
    RestoreFadeOut();
    af_started_ = false;
  }
  TMMBaseAudioFile::Stopped();
}

void TMMCustomAudioFile::Reset() {
  TMMBaseAudioFile::Reset();
  std::lock_guard guard(lock_);
  if (!af_opened_) return;
  RestoreFadeOut();
  if (!IsEmpty()) BeginRun(GetPosition());
}

void TMMCustomAudioFile::Closed() {
  {
    std::lock_guard guard(lock_);
    end_reached_ = true;
    final_sent_ = true;
    af_opened_ = false;
    af_started_ = false;
  }
  TMMBaseAudioFile::Closed();
}

// ---- Buffers ----------------------------------------------------------------------------

std::int32_t TMMCustomAudioFile::LoadBuffer(char* buffer, std::int32_t size, bool& more) {
  std::lock_guard guard(lock_);
  if (!af_opened_ || !af_started_ || buffer == nullptr || size < 1) return 0;
  TMMWaveHdr h{};
  h.lpData = buffer;
  h.dwBufferLength = static_cast<DWORD>(size);
  BufferLoad(&h, more);
  return static_cast<std::int32_t>(h.dwBytesRecorded);
}

void TMMCustomAudioFile::Fill(PWaveHdr h) {
  const WAVEFORMATEX* f = GetPWaveFormat();
  // The format's silence: 8-bit PCM is centred on 128.
  const int silence =
      (f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
  const DWORD n = std::min(kFillBytes, h->dwBufferLength);
  std::memset(h->lpData, silence, n);
  h->dwBytesRecorded = n;
}

void TMMCustomAudioFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  std::lock_guard guard(lock_);
  if (!af_opened_ || !af_started_) {
    // No stale count of an earlier fill reaches the output.
    lpWaveHdr->dwBytesRecorded = 0;
    return;
  }
  try {
    LoadUnderLock(lpWaveHdr, MoreBuffers);
  } catch (...) {
    bool handled = false;
    if (OnError) OnError(this, handled);
    if (!handled) throw;
    Fill(lpWaveHdr);
  }
}

void TMMCustomAudioFile::LoadUnderLock(PWaveHdr h, bool& more) {
  const DWORD n = h->dwBufferLength;
  if (n < 1 || end_reached_) {
    h->dwBytesRecorded = 0;
  } else {
    // The file restarts here, not in the file object: the chain never sees the loop request.
    const std::int32_t looping = h->bLooping;
    h->bLooping = 0;
    h->dwBytesRecorded = 0;
    more = false;
    try {
      TMMBaseAudioFile::BufferLoad(h, more);
    } catch (...) {
      h->dwBufferLength = n;
      h->bLooping = looping;
      throw;
    }
    h->dwBufferLength = n;
    h->bLooping = looping;
    h->dwBytesRecorded = std::min(h->dwBytesRecorded, n);
    bytes_delivered_ += h->dwBytesRecorded;
    if (envelope_on_) {
      ApplyGains(GetPWaveFormat(), h->lpData, static_cast<std::int32_t>(h->dwBytesRecorded),
                 gains_);
    }
  }
  const bool fading_out = fade_out_ > 0 || timed_fade_out_;
  const bool faded =
      fading_out && GetPosition() > std::int64_t{fade_out_start_} + std::int64_t{fade_out_};
  if (h->dwBytesRecorded == 0 || !more || faded) {
    more = false;
    end_reached_ = true;
    if (!timed_fade_out_ && h->bLooping != 0) {
      if (h->dwLoopCount > 0) --h->dwLoopsLeft;
      if (h->dwLoopCount == 0 || static_cast<std::int32_t>(h->dwLoopsLeft) >= 0) {
        SetPosition(0);
        start_position_ = 0;
        if (adpcm_ != nullptr) adpcm_->Reset();
        if (pcm_ != nullptr) pcm_->Reset();
        more = true;
        h->bLoopDone = -1;
        end_reached_ = false;
      }
    }
  }
  if (end_reached_ && h->dwBytesRecorded == 0 && !final_sent_) {
    Fill(h);
    final_sent_ = true;
  }
}
