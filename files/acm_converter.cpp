#include "files/acm_converter.h"

#include <algorithm>
#include <cstring>

namespace {

// Most failed conversion steps in a row that one pull tolerates.
constexpr int kMaxFailedSteps = 5;
// Source bytes per step, before rounding down to whole blocks.
constexpr std::int32_t kChunkSize = 8192;

void CopyLoopFields(const TMMWaveHdr& from, TMMWaveHdr& to) {
  to.bLooping = from.bLooping;
  to.dwLoopCount = from.dwLoopCount;
  to.dwLoopsLeft = from.dwLoopsLeft;
  to.bLoopDone = from.bLoopDone;
}

}  // namespace

TMMACMConverter::TMMACMConverter(TComponent* owner) : TMMDSPComponent(owner) {}

TMMACMConverter::~TMMACMConverter() {
  FreeConversion(conversion_);
  FreeBlock(input_format_);
  FreeBlock(requested_format_);
  FreeBlock(dest_format_);
}

const TClassInfo& TMMACMConverter::StaticClassInfo() {
  using C = TMMACMConverter;
  static const TClassInfo info =
      TClassInfoBuilder<C>("TMMACMConverter", &TMMDSPComponent::StaticClassInfo())
          .Creatable()
          .Ref<TMMDSPComponent>("Input", &C::GetInput, &C::SetInput)
          .Ref<TMMDSPComponent>("Output", &C::GetOutput, &C::SetOutput)
          .Bool("Enabled", &C::GetEnabled, &C::SetEnabled)
          .Enum<TMMConvertQuality>("Quality", {"cqHigh", "cqLow"}, &C::GetQuality, &C::SetQuality)
          .Build();
  return info;
}

void TMMACMConverter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Recompute();
}

void TMMACMConverter::SetQuality(TMMConvertQuality value) {
  if (value == quality_) return;
  quality_ = value;
  Recompute();
}

void TMMACMConverter::SetDestFormat(const WAVEFORMATEX* format) {
  PWaveFormatEx copy = CopyWaveFormat(format);
  FreeBlock(dest_format_);
  dest_format_ = copy;
}

void TMMACMConverter::BuildDestFormat() {
  SetDestFormat(enabled_ ? requested_format_ : nullptr);
}

namespace {

// Whether `input` is PCM in the extensible header whose bytes are `dest`'s plain PCM as
// they are: the same shape, every bit of each sample valid. Such data needs no codec.
bool SamePcmBytes(const WAVEFORMATEX* input, const WAVEFORMATEX* dest) {
  if (input->wFormatTag != WAVE_FORMAT_EXTENSIBLE ||
      input->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) ||
      dest->wFormatTag != WAVE_FORMAT_PCM) {
    return false;
  }
  WAVEFORMATEXTENSIBLE extensible;
  std::memcpy(&extensible, input, sizeof extensible);
  const std::uint16_t coding =
      static_cast<std::uint16_t>(extensible.SubFormat[0] | extensible.SubFormat[1] << 8);
  const std::uint16_t valid = extensible.wValidBitsPerSample;
  return coding == WAVE_FORMAT_PCM && (valid == 0 || valid == input->wBitsPerSample) &&
         input->nChannels == dest->nChannels && input->nSamplesPerSec == dest->nSamplesPerSec &&
         input->wBitsPerSample == dest->wBitsPerSample && input->nBlockAlign == dest->nBlockAlign;
}

}  // namespace

void TMMACMConverter::Recompute() {
  differ_ = false;
  convertible_ = false;
  if (input_format_ != nullptr && enabled_) {
    BuildDestFormat();
    if (dest_format_ != nullptr && SamePcmBytes(input_format_, dest_format_)) {
      // Passed through, with the plain header.
      TMMDSPComponent::SetPWaveFormat(dest_format_);
      return;
    }
    if (FormatsDiffer(input_format_, dest_format_)) {
      differ_ = true;
      if (CanConvert(input_format_, dest_format_, quality_)) {
        convertible_ = true;
        TMMDSPComponent::SetPWaveFormat(dest_format_);
        return;
      }
    }
  }
  TMMDSPComponent::SetPWaveFormat(input_format_);
}

void TMMACMConverter::Loaded() {
  TMMDSPComponent::Loaded();
  Recompute();
}

void TMMACMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format == nullptr || HoldsFormatBack()) return;
  PWaveFormatEx copy = CopyWaveFormat(format);
  FreeBlock(requested_format_);
  requested_format_ = copy;
  Recompute();
}

void TMMACMConverter::SetInputFormat(const WAVEFORMATEX* format) {
  if (format == input_format_) return;
  PWaveFormatEx copy = CopyWaveFormat(format);
  FreeBlock(input_format_);
  input_format_ = copy;
  Recompute();
}

void TMMACMConverter::Refuse() {
  convertible_ = false;
  throw EMMConverterError(kMMCannotConvert);
}

void TMMACMConverter::Opened() {
  if (!conv_opened_ && enabled_) {
    if (differ_) {
      if (convertible_) {
        conversion_ = CreateConversion(input_format_, dest_format_, quality_, kChunkSize);
        if (conversion_ == nullptr) {
          convertible_ = false;
        } else {
          chunk_size_ = static_cast<std::int32_t>(conversion_->ChunkSize);
        }
      }
      if (!convertible_) Refuse();
    }
    conv_opened_ = true;
  }
  TMMDSPComponent::Opened();
}

void TMMACMConverter::Started() {
  TMMDSPComponent::Started();
  if (conv_opened_ && !conv_started_) {
    conv_started_ = true;
    upstream_more_ = false;
    input_exhausted_ = false;
    drained_ = false;
  }
}

void TMMACMConverter::Stopped() {
  if (conv_started_) {
    conv_started_ = false;
    if (conversion_ != nullptr) conversion_->ReadOffset = conversion_->OutputLength;
  }
  TMMDSPComponent::Stopped();
}

void TMMACMConverter::Closed() {
  if (conv_started_) {
    conv_started_ = false;
    if (conversion_ != nullptr) conversion_->ReadOffset = conversion_->OutputLength;
  }
  conv_opened_ = false;
  FreeConversion(conversion_);
  TMMDSPComponent::Closed();
}

void TMMACMConverter::Reset() {
  TMMDSPComponent::Reset();
  ResetConversion(conversion_);
  input_exhausted_ = false;
  drained_ = false;
}

bool TMMACMConverter::Converting() const {
  return differ_ && convertible_ && conversion_ != nullptr;
}

void TMMACMConverter::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!conv_opened_ || !conv_started_) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  if (GetInput() == nullptr) return;
  if (!Converting()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  TMMACMConversion& c = *conversion_;
  TMMWaveHdr& h = *lpWaveHdr;
  // Converted bytes are put behind what the buffer holds; it starts empty, so that a header
  // handed back with an old count cannot make the copy run past its end.
  h.dwBytesRecorded = 0;
  std::int64_t want = h.dwBufferLength;
  int failed = 0;
  for (;;) {
    const DWORD take =
        static_cast<DWORD>(std::min<std::int64_t>(c.OutputLength - c.ReadOffset, want));
    if (take > 0) {
      std::memcpy(h.lpData + h.dwBytesRecorded, c.OutputBuffer + c.ReadOffset, take);
      c.ReadOffset += take;
      h.dwBytesRecorded += take;
      want -= take;
    }
    if (h.bLoopDone != 0 || !conv_started_ || want < 1) break;

    std::int32_t got = 0;
    if (!input_exhausted_) {
      pull_.lpData = reinterpret_cast<char*>(c.InputBuffer);
      pull_.dwBufferLength = static_cast<DWORD>(chunk_size_);
      pull_.dwBytesRecorded = 0;
      CopyLoopFields(h, pull_);
      upstream_more_ = false;
      TMMDSPComponent::BufferLoad(&pull_, upstream_more_);
      CopyLoopFields(pull_, h);
      got = static_cast<std::int32_t>(std::min<DWORD>(pull_.dwBytesRecorded, chunk_size_));
      if (!upstream_more_ || got < 1) input_exhausted_ = true;
    }
    if (got > 0 && conv_started_) {
      if (ConvertChunk(&c, got) > 0) {
        if (!conv_started_) break;
        continue;
      }
      if (!input_exhausted_) {
        if (++failed >= kMaxFailedSteps) Refuse();
        continue;
      }
    } else if (!conv_started_) {
      break;
    }
    // The end of the source: the codecs give out what they hold. The last chunk already went
    // through ConvertChunk and what it left over waits in the stages, so no bytes are given
    // again here.
    if (ConvertEnd(&c, 0) < 1) {
      drained_ = true;
      break;
    }
  }
  // A buffer filled just as the source ended: what the codecs still hold comes next time.
  MoreBuffers = upstream_more_ || c.ReadOffset < c.OutputLength || c.Leftover ||
                (input_exhausted_ && !drained_);
}

void TMMACMConverter::BufferReady(PWaveHdr lpWaveHdr) {
  if (!conv_opened_ || !conv_started_ || !Converting()) {
    TMMDSPComponent::BufferReady(lpWaveHdr);
    return;
  }
  if (GetOutput() == nullptr || lpWaveHdr == nullptr) return;
  TMMACMConversion& c = *conversion_;
  const char* data = lpWaveHdr->lpData;
  DWORD bytes = lpWaveHdr->dwBytesRecorded;
  const DWORD piece_limit = static_cast<DWORD>(std::max(GetBufferSize(), 1));
  while (bytes > 0) {
    const DWORD piece = std::min<DWORD>(bytes, static_cast<DWORD>(chunk_size_));
    std::memcpy(c.InputBuffer, data, piece);
    if (ConvertChunk(&c, static_cast<std::int32_t>(piece)) < 1 && !c.Leftover &&
        !c.ConsumedWithoutOutput) {
      Refuse();
    }
    while (c.ReadOffset < c.OutputLength) {
      const DWORD size = std::min(c.OutputLength - c.ReadOffset, piece_limit);
      pull_.lpData = reinterpret_cast<char*>(c.OutputBuffer + c.ReadOffset);
      pull_.dwBufferLength = size;
      pull_.dwBytesRecorded = size;
      c.ReadOffset += size;
      TMMDSPComponent::BufferReady(&pull_);
    }
    data += piece;
    bytes -= piece;
  }
}
