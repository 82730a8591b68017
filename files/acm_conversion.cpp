#include "files/acm_conversion.h"

#include <algorithm>
#include <cstring>

#include "platform/framework/exception.h"

namespace {

// A format record that a suggestion may fill: room for any extra data.
constexpr DWORD kFormatRecordSize = 1025;
using FormatRecord = std::vector<char>;

// The compression manager is there and speaks version 2.00 or later.
bool Usable() {
  return ACMInstalled() && (acmGetVersion() >> 16) >= 0x0200;
}

DWORD OpenFlags(TMMConvertQuality quality) {
  return quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
}

bool QueryOpen(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, TMMConvertQuality quality) {
  return acmStreamOpen(nullptr, nullptr, source, dest, nullptr, 0, 0,
                       ACM_STREAMOPENF_QUERY | OpenFlags(quality)) == MMSYSERR_NOERROR;
}

const WAVEFORMATEX* AsFormat(const FormatRecord& record) {
  return reinterpret_cast<const WAVEFORMATEX*>(record.data());
}

// Whether source converts to dest; `path` receives the formats of the stages in order (the
// destination of each), directly or through one intermediate PCM format at a time.
bool FindPath(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, TMMConvertQuality quality,
              std::vector<FormatRecord>* path) {
  if (!Usable() || source == nullptr) return false;
  if (!FormatsDiffer(source, dest)) return true;
  if (QueryOpen(source, dest, quality)) {
    if (path != nullptr) {
      const auto* bytes = reinterpret_cast<const char*>(dest);
      path->emplace_back(bytes, bytes + WaveFormatSize(dest));
    }
    return true;
  }
  FormatRecord between(kFormatRecordSize, 0);
  auto* i = reinterpret_cast<WAVEFORMATEX*>(between.data());
  i->nChannels = dest->nChannels;
  i->nSamplesPerSec = dest->nSamplesPerSec;
  constexpr DWORD kShape = ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
  if (source->wFormatTag == WAVE_FORMAT_PCM) {
    if (dest->nChannels == source->nChannels && dest->nSamplesPerSec == source->nSamplesPerSec) {
      return false;
    }
    if (acmFormatSuggest(nullptr, source, i, kFormatRecordSize, kShape) != MMSYSERR_NOERROR) {
      return false;
    }
    if (!QueryOpen(i, dest, quality)) {
      i->wBitsPerSample = i->wBitsPerSample == 16 ? 8 : 16;
      if (acmFormatSuggest(nullptr, source, i, kFormatRecordSize,
                           kShape | ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != MMSYSERR_NOERROR) {
        return false;
      }
    }
  } else {
    i->wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, source, i, kFormatRecordSize,
                         ACM_FORMATSUGGESTF_WFORMATTAG | kShape) != MMSYSERR_NOERROR) {
      i->wFormatTag = WAVE_FORMAT_PCM;
      if (acmFormatSuggest(nullptr, source, i, kFormatRecordSize, ACM_FORMATSUGGESTF_WFORMATTAG) !=
          MMSYSERR_NOERROR) {
        return false;
      }
    }
  }
  if (!QueryOpen(source, i, quality)) return false;
  if (path != nullptr) path->push_back(between);
  if (FormatsDiffer(i, dest)) return FindPath(i, dest, quality, path);
  return true;
}

// A zero-filled buffer; null when memory runs out.
BYTE* NewBuffer(std::size_t size) {
  try {
    return static_cast<BYTE*>(AllocZeroedBlock(size));
  } catch (const EOutOfMemory&) {
    return nullptr;
  }
}

// Opens a stage from `from` to `to` over `source` and prepares its header.
bool BuildStage(TMMACMStage& stage, const WAVEFORMATEX* from, const WAVEFORMATEX* to,
                TMMConvertQuality quality, BYTE* source, DWORD sourceSize) {
  if (acmStreamOpen(&stage.Stream, nullptr, from, to, nullptr, 0, 0, OpenFlags(quality)) !=
      MMSYSERR_NOERROR) {
    return false;
  }
  DWORD destSize = 0;
  if (acmStreamSize(stage.Stream, sourceSize, &destSize, ACM_STREAMSIZEF_SOURCE) !=
      MMSYSERR_NOERROR) {
    return false;
  }
  stage.Source = source;
  stage.SourceSize = sourceSize;
  // One block more than the size asks: the next stage puts its leftover in front of the
  // bytes this stage gives it.
  stage.Dest = NewBuffer(std::size_t{destSize} + to->nBlockAlign);
  if (stage.Dest == nullptr) return false;
  stage.DestSize = destSize;
  ACMSTREAMHEADER& h = stage.Header;
  h.cbStruct = sizeof(ACMSTREAMHEADER);
  h.pbSrc = source;
  h.cbSrcLength = sourceSize;
  h.dwSrcUser = sourceSize;
  h.pbDst = stage.Dest;
  h.cbDstLength = destSize;
  h.dwDstUser = destSize;
  return acmStreamPrepareHeader(stage.Stream, &h, 0) == MMSYSERR_NOERROR;
}

std::int32_t Step(PMMACMConversion c, std::int32_t n, bool end) {
  if (c == nullptr) return -1;
  DWORD length = static_cast<DWORD>(std::clamp<std::int32_t>(
      n, 0, static_cast<std::int32_t>(std::min<DWORD>(c->ChunkSize, 0x7FFFFFFF))));
  c->Leftover = false;
  c->ConsumedWithoutOutput = false;
  const DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0);
  for (TMMACMStage& stage : c->Stages) {
    const DWORD kept = static_cast<DWORD>(stage.Leftover.size());
    const DWORD total = length + kept;
    if (total > stage.SourceSize) return -1;
    if (kept > 0) {
      std::memmove(stage.Source + kept, stage.Source, length);
      std::memcpy(stage.Source, stage.Leftover.data(), kept);
    }
    ACMSTREAMHEADER& h = stage.Header;
    h.cbSrcLength = total;
    h.cbDstLength = stage.DestSize;
    if (acmStreamConvert(stage.Stream, &h, flags) != MMSYSERR_NOERROR) return -1;
    // Conversions are synchronous: a header that is not done has failed.
    if ((h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE) == 0) return -1;
    const DWORD used = std::min(h.cbSrcLengthUsed, total);
    const DWORD produced = std::min(h.cbDstLengthUsed, stage.DestSize);
    stage.Leftover.assign(stage.Source + used, stage.Source + total);
    if (used < total) {
      c->Leftover = true;
    } else if (!end && produced == 0 && used > 0) {
      c->ConsumedWithoutOutput = true;
    }
    length = produced;
  }
  c->OutputLength = length;
  c->ReadOffset = 0;
  return static_cast<std::int32_t>(length);
}

}  // namespace

bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  if (a == nullptr || b == nullptr) return false;
  return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
         a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

void SuggestPCM(const WAVEFORMATEX* source, WAVEFORMATEX& dest) {
  if (source != nullptr && source->wFormatTag == WAVE_FORMAT_PCM) {
    std::memcpy(&dest, source, sizeof(WAVEFORMATEX));
    return;
  }
  dest = WAVEFORMATEX{};
  if (source == nullptr) return;
  WAVEFORMATEX suggestion{};
  suggestion.wFormatTag = WAVE_FORMAT_PCM;
  if (acmFormatSuggest(nullptr, source, &suggestion, sizeof suggestion,
                       ACM_FORMATSUGGESTF_WFORMATTAG) == MMSYSERR_NOERROR &&
      QueryOpen(source, &suggestion, cqLow)) {
    dest = suggestion;
  }
}

bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, TMMConvertQuality quality) {
  return FindPath(source, dest, quality, nullptr);
}

PMMACMConversion CreateConversion(const WAVEFORMATEX* source, const WAVEFORMATEX* dest,
                                  TMMConvertQuality quality, std::int32_t size) {
  if (!Usable() || source == nullptr || dest == nullptr || source->nBlockAlign == 0) {
    return nullptr;
  }
  std::vector<FormatRecord> path;
  if (!FindPath(source, dest, quality, &path) || path.empty()) return nullptr;
  const DWORD block = source->nBlockAlign;
  // At least one block: a block larger than the requested size must still be converted.
  const DWORD chunk =
      std::max<DWORD>(block * (static_cast<DWORD>(std::max(size, 0)) / block), block);
  auto* c = new TMMACMConversion;
  c->ChunkSize = chunk;
  c->InputBuffer = NewBuffer(std::size_t{chunk} * 4);
  c->OwnsInputBuffer = true;
  c->Stages.reserve(path.size());
  bool built = c->InputBuffer != nullptr;
  BYTE* source_buffer = c->InputBuffer;
  DWORD source_size = chunk * 4;
  const WAVEFORMATEX* from = source;
  for (const FormatRecord& record : path) {
    if (!built) break;
    const WAVEFORMATEX* to = AsFormat(record);
    TMMACMStage& stage = c->Stages.emplace_back();
    built = BuildStage(stage, from, to, quality, source_buffer, source_size);
    from = to;
    source_buffer = stage.Dest;
    source_size = stage.DestSize + to->nBlockAlign;
  }
  if (!built) {
    FreeConversion(c);
    return nullptr;
  }
  c->OutputBuffer = c->Stages.back().Dest;
  c->OutputCapacity = c->Stages.back().DestSize;
  return c;
}

std::int32_t ConvertChunk(PMMACMConversion c, std::int32_t n) {
  return Step(c, n, false);
}

std::int32_t ConvertEnd(PMMACMConversion c, std::int32_t n) {
  return Step(c, n, true);
}

void ResetConversion(PMMACMConversion c) {
  if (c == nullptr) return;
  c->ReadOffset = c->OutputLength;
  c->Leftover = false;
  c->ConsumedWithoutOutput = false;
  for (TMMACMStage& stage : c->Stages) {
    stage.Leftover.clear();
    stage.Header.cbSrcLength = 0;
    stage.Header.cbDstLength = stage.DestSize;
    acmStreamConvert(stage.Stream, &stage.Header,
                     ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
  }
}

void FreeConversion(PMMACMConversion& c) {
  if (c == nullptr) return;
  for (TMMACMStage& stage : c->Stages) {
    if (stage.Stream != nullptr) {
      if ((stage.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) {
        // The system unprepares a header only with the lengths it was
        // prepared with.
        stage.Header.cbSrcLength = stage.Header.dwSrcUser;
        stage.Header.cbDstLength = stage.Header.dwDstUser;
        acmStreamUnprepareHeader(stage.Stream, &stage.Header, 0);
      }
      acmStreamClose(stage.Stream, 0);
    }
    FreeBlock(stage.Dest);
  }
  if (c->OwnsInputBuffer) FreeBlock(c->InputBuffer);
  delete c;
  c = nullptr;
}
