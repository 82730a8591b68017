#include "files/wave_io.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "files/mpeg_frames.h"
#include "platform/acm/msacm.h"
#include "platform/framework/exception.h"

const TWaveInfoTag WaveInfoTags[WaveInfoTagCount] = {
    {mmioFOURCC('I', 'A', 'R', 'L'), "Archival Location"},
    {mmioFOURCC('I', 'A', 'R', 'T'), "Artist"},
    {mmioFOURCC('I', 'C', 'M', 'S'), "Commissioned"},
    {mmioFOURCC('I', 'C', 'M', 'T'), "Comments"},
    {mmioFOURCC('I', 'C', 'O', 'P'), "Copyright"},
    {mmioFOURCC('I', 'C', 'R', 'D'), "Creation date"},
    {mmioFOURCC('I', 'C', 'R', 'P'), "Cropped"},
    {mmioFOURCC('I', 'D', 'I', 'M'), "Dimensions"},
    {mmioFOURCC('I', 'D', 'P', 'I'), "Dots Per Inch"},
    {mmioFOURCC('I', 'E', 'N', 'G'), "Engineer"},
    {mmioFOURCC('I', 'G', 'N', 'R'), "Genre"},
    {mmioFOURCC('I', 'K', 'E', 'Y'), "Keywords"},
    {mmioFOURCC('I', 'L', 'G', 'T'), "Lightness"},
    {mmioFOURCC('I', 'M', 'E', 'D'), "Medium"},
    {mmioFOURCC('I', 'N', 'A', 'M'), "Name"},
    {mmioFOURCC('I', 'P', 'L', 'T'), "Palette Setting"},
    {mmioFOURCC('I', 'P', 'R', 'D'), "Product"},
    {mmioFOURCC('I', 'S', 'B', 'J'), "Subject"},
    {mmioFOURCC('I', 'S', 'F', 'T'), "Software"},
    {mmioFOURCC('I', 'S', 'H', 'P'), "Sharpness"},
    {mmioFOURCC('I', 'S', 'R', 'C'), "Source"},
    {mmioFOURCC('I', 'S', 'R', 'F'), "Source Form"},
    {mmioFOURCC('I', 'T', 'C', 'H'), "Technician"},
};

namespace {

constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');

// Bytes from the current position to the end of the source; bounds chunk-size-driven
// allocations by what the source really holds.
std::int64_t BytesToEnd(HMMIO h) {
  const std::int64_t here = platform::MmioSeek64(h, 0, SEEK_CUR);
  if (here < 0) return 0;
  const std::int64_t end = platform::MmioSeek64(h, 0, SEEK_END);
  platform::MmioSeek64(h, here, SEEK_SET);
  return end < here ? 0 : end - here;
}

constexpr std::int64_t kMaxU32 = 0xFFFFFFFF;
// Room for the texts of every LIST/INFO chunk of one file together.
constexpr std::int64_t kMaxInfoBytes = 16 * 1024 * 1024;

std::uint32_t ClampToU32(std::int64_t v) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, kMaxU32));
}

// Four printable characters, as every chunk identifier is.
bool IsChunkId(const char* p) {
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// (a * b) / c rounded half up, as MulDivRound does, for non-negative values below 2^32.
std::int64_t MulDivRoundWide(std::int64_t a, std::uint32_t b, std::uint32_t c) {
  if (c == 0) return 0;
  const std::uint64_t product =
      static_cast<std::uint64_t>(std::clamp<std::int64_t>(a, 0, kMaxU32 + 1)) * b;
  const std::uint64_t q = product / c;
  const std::uint64_t r = product % c;
  return static_cast<std::int64_t>(q + (2 * r >= c ? 1 : 0));
}

std::uint32_t ReadU32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

bool WriteChunk(HMMIO h, FOURCC id, const void* a, LONG aSize, const void* b, LONG bSize) {
  MMCKINFO ck{};
  ck.ckid = id;
  if (mmioCreateChunk(h, &ck, 0) != MMSYSERR_NOERROR) return false;
  if (aSize > 0 && mmioWrite(h, static_cast<const char*>(a), aSize) != aSize) return false;
  if (bSize > 0 && mmioWrite(h, static_cast<const char*>(b), bSize) != bSize) return false;
  return mmioAscend(h, &ck, 0) == MMSYSERR_NOERROR;
}

// Whether a chunk header that fits the source starts at `offset`; the position is kept.
bool ChunkHeaderAt(HMMIO h, std::int64_t offset, std::int64_t size) {
  if (offset + 8 > size) return false;
  const std::int64_t here = platform::MmioSeek64(h, 0, SEEK_CUR);
  char header[8];
  const bool read =
      platform::MmioSeek64(h, offset, SEEK_SET) == offset && mmioRead(h, header, 8) == 8;
  platform::MmioSeek64(h, here, SEEK_SET);
  return read && IsChunkId(header) && offset + 8 + std::int64_t{ReadU32(header + 4)} <= size;
}

// A zero-terminated copy of the name, or of the MMIOINFO descriptor in memory mode.
char* CopyName(const char* name, DWORD flags) {
  if (flags & wioMemory) {
    char* copy = static_cast<char*>(AllocZeroedBlock(sizeof(MMIOINFO) + 1));
    std::memcpy(copy, name, sizeof(MMIOINFO));
    return copy;
  }
  const std::size_t length = std::strlen(name);
  char* copy = static_cast<char*>(AllocZeroedBlock(length + 1));
  std::memcpy(copy, name, length);
  return copy;
}

// A zeroed block with room for `formatBytes` bytes of format plus one spare byte.
PWaveIOBlock AllocBlock(std::size_t formatBytes) {
  const std::size_t size =
      std::max(offsetof(TWaveIOBlock, Format) + std::max<std::size_t>(formatBytes, 18) + 1,
               sizeof(TWaveIOBlock));
  auto* block = static_cast<PWaveIOBlock>(AllocZeroedBlock(size));
  block->Size = static_cast<std::uint32_t>(size);
  return block;
}

// The conversions take rates as signed 32-bit values: larger ones would turn negative.
bool UsableFormat(const WAVEFORMATEX& f) {
  constexpr std::uint32_t kMax = 0x7FFFFFFF;
  return f.nBlockAlign != 0 && f.nSamplesPerSec != 0 && f.nAvgBytesPerSec != 0 &&
         f.nSamplesPerSec <= kMax && f.nAvgBytesPerSec <= kMax;
}

// PCM that can be read frame by frame: at least one channel, 1 to 32 bits a sample, and a
// frame that the 16-bit block alignment holds. Anything else would be read with a wrong
// frame size.
bool DecodablePcm(const WAVEFORMATEX& f) {
  return f.nChannels > 0 && f.wBitsPerSample > 0 && f.wBitsPerSample <= 32 &&
         std::uint32_t{f.wBitsPerSample} * f.nChannels / 8 <= 0xFFFF;
}

// The tag that says how the samples are coded: an extensible header's subformat, else the
// format tag.
std::uint16_t CodingTag(const WAVEFORMATEX& f, std::size_t formatBytes) {
  constexpr std::size_t kExtensibleBytes = sizeof(WAVEFORMATEXTENSIBLE);
  if (f.wFormatTag != WAVE_FORMAT_EXTENSIBLE || formatBytes < kExtensibleBytes ||
      f.cbSize < kExtensibleBytes - sizeof(WAVEFORMATEX)) {
    return f.wFormatTag;
  }
  const auto* subFormat =
      reinterpret_cast<const std::uint8_t*>(&f) + offsetof(WAVEFORMATEXTENSIBLE, SubFormat);
  return static_cast<std::uint16_t>(subFormat[0] | (subFormat[1] << 8));
}

// The byte rate of a codec whose blocks always hold the same number of samples, from its
// block; 0 for the others.
// Samples per channel in one block of a codec of fixed-size blocks; 0 for other codings.
std::uint64_t SamplesPerBlock(const WAVEFORMATEX& f, std::uint16_t coding) {
  const std::uint64_t block = f.nBlockAlign, channels = f.nChannels;
  switch (coding) {
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return 1;
    case WAVE_FORMAT_IMA_ADPCM:  // a header with one sample per channel, then 4-bit samples
      return channels > 0 && block > 4 * channels ? (block - 4 * channels) * 2 / channels + 1 : 0;
    case WAVE_FORMAT_ADPCM:  // a header with two samples per channel, then 4-bit samples
      return channels > 0 && block > 7 * channels ? (block - 7 * channels) * 2 / channels + 2 : 0;
    case WAVE_FORMAT_GSM610:  // 320 samples in 65 bytes
      return block / 65 * 320;
    default:
      return 0;
  }
}

// The samples that `bytes` bytes of data hold in a codec of fixed-size blocks: every whole
// block, and what ADPCM decodes of a partial last block (the samples of its header and its
// whole words).
std::int64_t SamplesInBlocks(const WAVEFORMATEX& f, std::uint16_t coding, std::int64_t bytes) {
  const std::uint64_t perBlock = SamplesPerBlock(f, coding);
  if (perBlock == 0 || f.nBlockAlign == 0) return 0;
  const auto whole = static_cast<std::uint64_t>(bytes) / f.nBlockAlign;
  const std::uint64_t rest = static_cast<std::uint64_t>(bytes) % f.nBlockAlign;
  const std::uint64_t channels = f.nChannels;
  std::uint64_t partial = 0;
  if (coding == WAVE_FORMAT_IMA_ADPCM && rest >= 4 * channels) {
    partial = (rest - 4 * channels) / (4 * channels) * 8 + 1;
  } else if (coding == WAVE_FORMAT_ADPCM && rest >= 7 * channels) {
    partial = 2 * (rest - 7 * channels) / channels + 2;
  }
  return static_cast<std::int64_t>(whole * perBlock + std::min(partial, perBlock));
}

std::uint32_t ConstantByteRate(const WAVEFORMATEX& f, std::uint16_t coding) {
  const std::uint64_t samplesPerBlock = SamplesPerBlock(f, coding);
  if (samplesPerBlock == 0) return 0;
  const std::uint64_t block = f.nBlockAlign;
  const std::uint64_t rate = (block * f.nSamplesPerSec + samplesPerBlock / 2) / samplesPerBlock;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(rate, 1, kMaxU32));
}

// Samples of the MPEG Layer-3 frames in `bytes` bytes of data at `offset`; 0 when they
// cannot be read.
std::int64_t MpegSamples(HMMIO h, std::int64_t offset, std::int64_t bytes) {
  if (platform::MmioSeek64(h, offset, SEEK_SET) != offset) return 0;
  TMpegFrameCounter counter;
  std::vector<std::uint8_t> piece(64 * 1024);
  while (bytes > 0) {
    const auto want = static_cast<LONG>(std::min<std::int64_t>(bytes, std::ssize(piece)));
    const LONG got = mmioRead(h, reinterpret_cast<char*>(piece.data()), want);
    if (got <= 0) break;
    counter.Feed(piece.data(), static_cast<std::size_t>(got));
    bytes -= got;
  }
  return counter.Samples();
}

}  // namespace

// ---- Wide counts ------------------------------------------------------------------------

std::int64_t WaveBytesToSamples64(const WAVEFORMATEX* format, std::int64_t bytes) {
  if (format == nullptr) return 0;
  return MulDivRoundWide(bytes, format->nSamplesPerSec, format->nAvgBytesPerSec);
}

std::int64_t WaveSamplesToBytes64(const WAVEFORMATEX* format, std::int64_t samples) {
  if (format == nullptr || format->nBlockAlign == 0) return 0;
  const std::int64_t bytes =
      MulDivRoundWide(samples, format->nAvgBytesPerSec, format->nSamplesPerSec);
  const std::int64_t align = format->nBlockAlign;
  return (bytes + align - 1) / align * align;
}

std::int64_t WaveDataBytes64(const TWaveIOBlock* block, std::int64_t samples) {
  if (block == nullptr) return 0;
  // A count clamped to its field's largest value ends where that many samples end.
  const bool clamped = block->DataSamples == std::numeric_limits<std::int32_t>::max();
  if (block->DataSamples > 0 && !clamped && samples >= block->DataSamples) return block->DataBytes;
  return std::min<std::int64_t>(WaveSamplesToBytes64(&block->Format, samples), block->DataBytes);
}

std::int32_t WaveClamp32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool WaveKeepsPartialBlock(const WAVEFORMATEX* format) {
  return format != nullptr &&
         (format->wFormatTag == WAVE_FORMAT_IMA_ADPCM || format->wFormatTag == WAVE_FORMAT_ADPCM);
}

// ---- Info list --------------------------------------------------------------------------

int WaveInfoCreate(TWaveInfoList*& list) {
  list = nullptr;
  try {
    list = static_cast<TWaveInfoList*>(AllocZeroedBlock(sizeof(TWaveInfoList)));
    TWaveInfoEntry** tail = &list->First;
    for (int i = 0; i < WaveInfoTagCount; ++i) {
      auto* entry = static_cast<TWaveInfoEntry*>(AllocZeroedBlock(sizeof(TWaveInfoEntry)));
      entry->Index = static_cast<std::uint16_t>(i);
      *tail = entry;
      tail = &entry->Next;
    }
  } catch (const EOutOfMemory&) {
    WaveInfoFree(list);
    return LISTERR_NOMEMORY;
  }
  return 0;
}

void WaveInfoFree(TWaveInfoList*& list) {
  if (list == nullptr) return;
  TWaveInfoEntry* entry = list->First;
  while (entry != nullptr) {
    TWaveInfoEntry* next = entry->Next;
    FreeBlock(entry->Text);
    FreeBlock(entry);
    entry = next;
  }
  FreeBlock(list->Body);
  FreeBlock(list);
}

int WaveInfoRead(HMMIO h, const MMCKINFO& ck, TWaveInfoList* list) {
  if (h == nullptr || list == nullptr) return LISTERR_BADARG;
  if (ck.cksize <= 4) return 0;
  // A later list is kept behind the earlier one, so that both lists' texts stay readable.
  const std::int64_t start = list->Body == nullptr ? 0 : list->Length;
  // Never more than the source holds, nor more than any real set of tags.
  const std::int64_t length =
      std::min({std::int64_t{ck.cksize} - 4, BytesToEnd(h), kMaxInfoBytes - start});
  if (length <= 0) return 0;
  char* body = nullptr;
  try {
    body = static_cast<char*>(AllocZeroedBlock(static_cast<std::size_t>(start + length) + 1));
  } catch (const EOutOfMemory&) {
    return LISTERR_NOMEMORY;
  }
  if (mmioRead(h, body + start, static_cast<LONG>(length)) != length) {
    FreeBlock(body);
    return LISTERR_FILEERROR;
  }
  if (start > 0) std::memcpy(body, list->Body, static_cast<std::size_t>(start));
  FreeBlock(list->Body);
  list->Body = body;
  list->Length = static_cast<std::uint32_t>(start + length);
  // The later list's tags win; tags only the earlier one has stay.
  const char* tags = body + start;
  std::int64_t offset = 0;
  while (offset + 8 <= length) {
    const FOURCC id = ReadU32(tags + offset);
    const std::uint32_t size = ReadU32(tags + offset + 4);
    if (std::int64_t{size} > length - offset - 8) break;
    for (TWaveInfoEntry* e = list->First; e != nullptr; e = e->Next) {
      if (WaveInfoTags[e->Index].Id == id) {
        e->Offset = static_cast<std::int32_t>(start + offset + 8);
        break;
      }
    }
    std::int64_t next = offset + 8 + size;
    // An odd-sized tag is followed by a zero pad byte. Some writers leave it out: then a
    // whole tag header starts right behind the text, not one byte later.
    if ((size & 1) != 0) {
      const bool unpadded = next + 8 <= length && tags[next] != 0 && IsChunkId(tags + next) &&
                            std::int64_t{ReadU32(tags + next + 4)} <= length - next - 8;
      if (!unpadded) ++next;
    }
    offset = next;
  }
  return 0;
}

static TWaveInfoEntry* InfoEntry(const TWaveInfoList* list, int index) {
  if (list == nullptr || index < 0 || index >= WaveInfoTagCount) return nullptr;
  for (TWaveInfoEntry* e = list->First; e != nullptr; e = e->Next) {
    if (e->Index == index) return e;
  }
  return nullptr;
}

std::string WaveInfoGetText(const TWaveInfoList* list, int index) {
  const TWaveInfoEntry* e = InfoEntry(list, index);
  if (e == nullptr) return {};
  if (e->Flags & wifChanged) return e->Text == nullptr ? std::string() : std::string(e->Text);
  if (e->Offset < 8 || list->Body == nullptr) return {};
  const std::uint32_t size = ReadU32(list->Body + e->Offset - 4);
  const char* text = list->Body + e->Offset;
  return std::string(text, ::strnlen(text, size));
}

int WaveInfoSetText(TWaveInfoList* list, int index, const std::string& text) {
  TWaveInfoEntry* e = InfoEntry(list, index);
  if (e == nullptr) return LISTERR_BADARG;
  try {
    char* copy = static_cast<char*>(AllocZeroedBlock(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    FreeBlock(e->Text);
    e->Text = copy;
  } catch (const EOutOfMemory&) {
    return LISTERR_NOMEMORY;
  }
  e->Flags |= wifChanged;
  return 0;
}

int WaveInfoWrite(HMMIO h, const TWaveInfoList* list) {
  if (h == nullptr || list == nullptr) return LISTERR_BADARG;
  std::vector<std::pair<FOURCC, std::string>> tags;
  for (const TWaveInfoEntry* e = list->First; e != nullptr; e = e->Next) {
    std::string text = WaveInfoGetText(list, e->Index);
    if (!text.empty()) tags.emplace_back(WaveInfoTags[e->Index].Id, std::move(text));
  }
  if (tags.empty()) return 0;
  MMCKINFO listChunk{};
  listChunk.fccType = FOURCC_INFO;
  if (mmioCreateChunk(h, &listChunk, MMIO_CREATELIST) != MMSYSERR_NOERROR) {
    return LISTERR_FILEERROR;
  }
  for (const auto& [id, text] : tags) {
    if (!WriteChunk(h, id, text.c_str(), static_cast<LONG>(text.size() + 1), nullptr, 0)) {
      return LISTERR_FILEERROR;
    }
  }
  return mmioAscend(h, &listChunk, 0) == MMSYSERR_NOERROR ? 0 : LISTERR_FILEERROR;
}

// ---- Display list -----------------------------------------------------------------------

int WaveDispCreate(TWaveDispList*& list) {
  try {
    list = static_cast<TWaveDispList*>(AllocZeroedBlock(sizeof(TWaveDispList)));
  } catch (const EOutOfMemory&) {
    list = nullptr;
    return LISTERR_NOMEMORY;
  }
  return 0;
}

void WaveDispFree(TWaveDispList*& list) {
  if (list == nullptr) return;
  TWaveDispItem* item = list->First;
  while (item != nullptr) {
    TWaveDispItem* next = item->Next;
    FreeBlock(item->Data);
    FreeBlock(item->Data2);
    FreeBlock(item);
    item = next;
  }
  FreeBlock(list);
}

static void AppendItem(TWaveDispList* list, TWaveDispItem* item) {
  TWaveDispItem** tail = &list->First;
  while (*tail != nullptr) tail = &(*tail)->Next;
  *tail = item;
}

int WaveDispAdd(TWaveDispList* list, DWORD type, const void* data, std::uint32_t size) {
  if (list == nullptr || (data == nullptr && size > 0)) return LISTERR_BADARG;
  TWaveDispItem* item = nullptr;
  try {
    item = static_cast<TWaveDispItem*>(AllocZeroedBlock(sizeof(TWaveDispItem)));
    item->Data = AllocZeroedBlock(std::size_t{size} + 1);
  } catch (const EOutOfMemory&) {
    FreeBlock(item);
    return LISTERR_NOMEMORY;
  }
  item->Type = type;
  item->Size = size;
  if (size > 0) std::memcpy(item->Data, data, size);
  AppendItem(list, item);
  return 0;
}

int WaveDispRead(HMMIO h, const MMCKINFO& ck, TWaveDispList* list) {
  if (h == nullptr || list == nullptr) return LISTERR_BADARG;
  if (ck.cksize <= 4) return 0;
  DWORD type = 0;
  if (mmioRead(h, reinterpret_cast<char*>(&type), 4) != 4) return LISTERR_FILEERROR;
  const std::int64_t available = BytesToEnd(h);
  if (std::int64_t{ck.cksize} - 4 > std::min<std::int64_t>(available, 0x7FFFFFFF)) {
    return LISTERR_FILEERROR;
  }
  const std::uint32_t size = ck.cksize - 4;
  TWaveDispItem* item = nullptr;
  try {
    item = static_cast<TWaveDispItem*>(AllocZeroedBlock(sizeof(TWaveDispItem)));
    item->Data = AllocZeroedBlock(std::size_t{size} + 1);
  } catch (const EOutOfMemory&) {
    FreeBlock(item);
    return LISTERR_NOMEMORY;
  }
  item->Type = type;
  item->Size = size;
  if (mmioRead(h, static_cast<char*>(item->Data), static_cast<LONG>(size)) !=
      static_cast<LONG>(size)) {
    FreeBlock(item->Data);
    FreeBlock(item);
    return LISTERR_FILEERROR;
  }
  AppendItem(list, item);
  return 0;
}

int WaveDispWrite(HMMIO h, const TWaveDispList* list) {
  if (h == nullptr || list == nullptr) return LISTERR_BADARG;
  for (const TWaveDispItem* item = list->First; item != nullptr; item = item->Next) {
    const DWORD type = item->Type;
    bool ok = true;
    if (type == CF_TEXT) {
      const char* text = static_cast<const char*>(item->Data);
      const std::size_t length = ::strnlen(text, item->Size);
      ok = WriteChunk(h, FOURCC_DISP, &type, 4, text, static_cast<LONG>(length + 1));
    } else if (type == CF_DIB) {
      ok = WriteChunk(h, FOURCC_DISP, &type, 4, item->Data, static_cast<LONG>(item->Size));
    }
    if (!ok) return LISTERR_FILEERROR;
  }
  return 0;
}

// ---- Opening ----------------------------------------------------------------------------

void WaveCloseRiff(HMMIO& handle, HGLOBAL& resourceHandle) {
  if (resourceHandle != nullptr) {
    FreeResource(resourceHandle);
    resourceHandle = nullptr;
  }
  if (handle != nullptr) {
    mmioClose(handle, 0);
    handle = nullptr;
  }
}

int WaveOpenRiff(HMMIO& handle, MMCKINFO& riffChunk, HGLOBAL& resourceHandle, DWORD flags,
                 FOURCC formType, const char* name) {
  handle = nullptr;
  resourceHandle = nullptr;
  if (name == nullptr) return WIOERR_FILEERROR;
  if (flags & wioResource) {
    HRSRC resource = FindResourceA(nullptr, name, "WAVE");
    if (resource == nullptr) return WIOERR_FILEERROR;
    resourceHandle = LoadResource(nullptr, resource);
    const void* bytes = LockResource(resourceHandle);
    if (bytes == nullptr) {
      WaveCloseRiff(handle, resourceHandle);
      return WIOERR_FILEERROR;
    }
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    // Opened for reading only, so the layer never writes to the resource.
    info.pchBuffer = const_cast<char*>(static_cast<const char*>(bytes));
    info.cchBuffer = static_cast<LONG>(SizeofResource(nullptr, resource));
    info.adwInfo[0] = 0;
    handle = mmioOpenA(nullptr, &info, MMIO_READ);
  } else if (flags & wioMemory) {
    MMIOINFO info;
    std::memcpy(&info, name, sizeof(MMIOINFO));
    if (info.pchBuffer == nullptr || info.cchBuffer <= 0) return WIOERR_FILEERROR;
    info.fccIOProc = FOURCC_MEM;
    info.pIOProc = nullptr;
    info.adwInfo[0] = 0;
    handle = mmioOpenA(nullptr, &info, MMIO_READ);
  } else {
    std::string path(name);
    const DWORD buffered = MMIO_ALLOCBUF | MMIO_DENYWRITE;
    if (::access(name, W_OK) == 0) {
      handle = mmioOpenA(path.data(), nullptr, MMIO_READWRITE | buffered);
    }
    if (handle == nullptr) handle = mmioOpenA(path.data(), nullptr, MMIO_READ | buffered);
  }
  if (handle == nullptr || mmioDescend(handle, &riffChunk, nullptr, 0) != MMSYSERR_NOERROR ||
      riffChunk.ckid != FOURCC_RIFF || riffChunk.fccType != formType) {
    WaveCloseRiff(handle, resourceHandle);
    return WIOERR_FILEERROR;
  }
  return 0;
}

int WaveOpen(PWaveIOBlock& block, const char* name, FOURCC formType, DWORD flags) {
  block = nullptr;
  if (name == nullptr) return WIOERR_BADARG;
  HMMIO h = nullptr;
  MMCKINFO riff{};
  HGLOBAL resource = nullptr;
  int result = WaveOpenRiff(h, riff, resource, flags, formType, name);
  if (result != 0) return result;

  char* nameCopy = nullptr;
  TWaveInfoList* info = nullptr;
  TWaveDispList* disp = nullptr;
  PWaveIOBlock b = nullptr;
  auto fail = [&](int code) {
    WaveCloseRiff(h, resource);
    FreeBlock(nameCopy);
    WaveInfoFree(info);
    WaveDispFree(disp);
    FreeBlock(b);
    return code;
  };

  try {
    nameCopy = CopyName(name, flags);
    const std::int64_t size = platform::MmioSeek64(h, 0, SEEK_END);
    if (size < 0) return fail(WIOERR_FILEERROR);
    const std::int64_t behindType = std::int64_t{riff.dwDataOffset} + 4;
    if (platform::MmioSeek64(h, behindType, SEEK_SET) != behindType) {
      return fail(WIOERR_FILEERROR);
    }
    // A size beyond the file is cut to it. A size below 4 cannot even hold the form type:
    // a recorder that was interrupted leaves 0 there, and the chunks reach to the end of
    // the file.
    if (riff.cksize < 4 || std::int64_t{riff.dwDataOffset} + riff.cksize > size) {
      riff.cksize = ClampToU32(size - riff.dwDataOffset);
    }
    const std::int64_t riffEnd = std::int64_t{riff.dwDataOffset} + riff.cksize;

    DWORD factCount = 0xFFFFFFFFu;
    if ((result = WaveInfoCreate(info)) != 0) return fail(result);
    if ((result = WaveDispCreate(disp)) != 0) return fail(result);
    std::int64_t dataEnd = size;
    std::int64_t dataOffset = 0;
    std::int64_t dataChunkEnd = 0;
    std::size_t formatBytes = 0;
    bool fmtSeen = false, dataSeen = false, factSeen = false, previousWasData = false;
    bool factValid = false;

    MMCKINFO ck{};
    while (mmioDescend(h, &ck, &riff, 0) == MMSYSERR_NOERROR) {
      const std::int64_t chunkEnd = std::int64_t{ck.dwDataOffset} + ck.cksize;
      if (chunkEnd > riffEnd) {
        if (fmtSeen && dataSeen) {
          // The header just read still marks where the sample data ends.
          if (previousWasData) dataEnd = std::int64_t{ck.dwDataOffset} - 8;
          break;
        }
        if (chunkEnd > size) ck.cksize = ClampToU32(size - ck.dwDataOffset);
      }
      if (previousWasData) dataEnd = std::int64_t{ck.dwDataOffset} - 8;
      previousWasData = false;

      if (ck.ckid == FOURCC_LIST && ck.fccType == FOURCC_INFO) {
        if ((result = WaveInfoRead(h, ck, info)) != 0) return fail(result);
      } else if (ck.ckid == FOURCC_DISP) {
        if ((result = WaveDispRead(h, ck, disp)) != 0) return fail(result);
      } else if (ck.ckid == kFmt) {
        if (fmtSeen) break;
        fmtSeen = true;
        formatBytes = std::max<std::size_t>(ck.cksize, 18);
        b = AllocBlock(formatBytes);
        if (mmioRead(h, reinterpret_cast<char*>(&b->Format), static_cast<LONG>(ck.cksize)) !=
            static_cast<LONG>(ck.cksize)) {
          return fail(WIOERR_FILEERROR);
        }
      } else if (ck.ckid == kData) {
        if (dataSeen) break;
        dataSeen = true;
        dataOffset = ck.dwDataOffset;
        dataChunkEnd = dataOffset + std::int64_t{ck.cksize};
        previousWasData = true;
        if (ck.cksize == 0 && !ChunkHeaderAt(h, dataOffset, size)) {
          // A recorder that was interrupted leaves the size 0 with the samples behind it:
          // with no chunk following, the data reaches to the end of the file.
          dataChunkEnd = size;
          dataEnd = size;
          break;
        }
      } else if (ck.ckid == kFact) {
        if (factSeen) break;
        factSeen = true;
        factValid = ck.cksize >= 4 && mmioRead(h, reinterpret_cast<char*>(&factCount), 4) == 4;
      }
      if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) {
        if (dataSeen) break;
        return fail(WIOERR_FILEERROR);
      }
    }

    // The data ends where its size says (bounded by the file above): neither the pad byte
    // of an odd-sized chunk nor bytes behind it that no chunk claims are samples.
    if (dataSeen) dataEnd = std::min(dataEnd, dataChunkEnd);

    if (flags & wioHeaderOnly) {
      FreeBlock(b);
      b = AllocBlock(18);
    } else {
      if (!fmtSeen) return fail(WIOERR_NOFORMAT);
      if (!dataSeen) return fail(WIOERR_FILEERROR);
      WAVEFORMATEX& f = b->Format;
      const std::uint16_t coding = CodingTag(f, formatBytes);
      if (f.wFormatTag == WAVE_FORMAT_PCM) {
        if (!DecodablePcm(f)) return fail(WIOERR_FILEERROR);
        WAVEFORMATEX pcm{};
        BuildPCMFormat(pcm, f.wBitsPerSample, f.nChannels, f.nSamplesPerSec);
        // An average rate that does not fit 32 bits would wrap to a small, wrong one.
        if (std::uint64_t{pcm.nBlockAlign} * f.nSamplesPerSec > 0x7FFFFFFF) {
          return fail(WIOERR_FILEERROR);
        }
        f.nBlockAlign = pcm.nBlockAlign;
        f.nAvgBytesPerSec = pcm.nAvgBytesPerSec;
      } else if (std::size_t{f.cbSize} + 18 > formatBytes) {
        // Extra data the chunk does not hold is not claimed.
        f.cbSize = static_cast<std::uint16_t>(formatBytes - 18);
      }
      // MPEG Layer-3 frames differ in size and the decoder finds them itself; writers store
      // a frame's sample count or 1 as the block. Cut to those blocks, the data would lose
      // up to a whole frame at its end.
      if (coding == WAVE_FORMAT_MPEGLAYER3) f.nBlockAlign = 1;
      if (f.nBlockAlign == 0) return fail(WIOERR_FILEERROR);
      // Counts that do not fit their 32-bit fields are clamped: the data to the whole blocks
      // a 32-bit size holds, the samples and the file size to their fields' largest values.
      const std::uint32_t span = ClampToU32(dataEnd - dataOffset);
      // ADPCM keeps a partial last block (in the extensible header too): its decoder gives
      // the samples such a block holds.
      WAVEFORMATEX coded = f;
      coded.wFormatTag = coding;
      const bool partial = WaveKeepsPartialBlock(&coded) && span < 0xFFFFFFFF;
      b->DataBytes = partial ? span : span / f.nBlockAlign * f.nBlockAlign;
      // A compressed format without an average rate (variable bit rate, or a writer that
      // left it out) takes its sample count from the "fact" chunk or, for MPEG Layer-3, from
      // its frames, and the rate from the count; a codec of fixed-size blocks takes the rate
      // from its block. So no conversion divides by 0.
      std::int64_t samples = -1;
      // A codec of fixed-size blocks counts its samples by "fact" where the count fits the
      // blocks (the last one may be padded), else by the blocks; a stored average rate,
      // which writers get wrong, does not count them.
      if (const auto perBlock = static_cast<std::int64_t>(SamplesPerBlock(f, coding));
          perBlock > 0) {
        const std::int64_t inBlocks = SamplesInBlocks(f, coding, b->DataBytes);
        const std::int64_t fact = factValid ? std::int64_t{factCount} : -1;
        samples = fact > 0 && fact <= inBlocks && fact > inBlocks - perBlock ? fact : inBlocks;
      }
      if (f.wFormatTag != WAVE_FORMAT_PCM && f.nAvgBytesPerSec == 0) {
        if (samples < 0) samples = factValid ? std::int64_t{factCount} : 0;
        if (samples == 0 && coding == WAVE_FORMAT_MPEGLAYER3) {
          samples = MpegSamples(h, dataOffset, b->DataBytes);
        }
        if (samples > 0 && b->DataBytes > 0) {
          f.nAvgBytesPerSec = ClampToU32(std::max<std::int64_t>(
              MulDivRoundWide(b->DataBytes, f.nSamplesPerSec,
                              static_cast<std::uint32_t>(std::min<std::int64_t>(samples, kMaxU32))),
              1));
        } else if (const std::uint32_t rate = ConstantByteRate(f, coding); rate != 0) {
          f.nAvgBytesPerSec = rate;
          samples = -1;  // counted from the bytes, as with a stored rate
        } else if (b->DataBytes == 0) {
          // Nothing to convert: any rate gives 0 samples.
          samples = 0;
          f.nAvgBytesPerSec = f.nBlockAlign;
        }
      }
      if (!UsableFormat(f)) return fail(WIOERR_FILEERROR);
      b->DataSamples = WaveClamp32(samples >= 0 ? samples : WaveBytesToSamples64(&f, b->DataBytes));
      factCount = static_cast<DWORD>(b->DataSamples);
      b->DataOffset = static_cast<std::uint32_t>(dataOffset);
      b->FileSize = ClampToU32(size);
      b->FirstSample = 0;
      b->LastSample = b->DataSamples;
      b->BytesLeft = 0;
      b->SamplePos = 0;
    }
    (void)factCount;
    b->Flags = flags;
    b->Handle = nullptr;
    b->FileName = nameCopy;
    b->InfoList = info;
    b->DispList = disp;
    nameCopy = nullptr;
    info = nullptr;
    disp = nullptr;
    WaveCloseRiff(h, resource);
    block = b;
    return 0;
  } catch (const EOutOfMemory&) {
    return fail(WIOERR_NOMEMORY);
  }
}

bool WaveIsValid(const char* name, DWORD flags) {
  if (name == nullptr || ((flags & wioMemory) == 0 && name[0] == '\0')) return false;
  PWaveIOBlock block = nullptr;
  if (WaveOpen(block, name, FOURCC_WAVE, flags) != 0) return false;
  WaveFree(block);
  return true;
}

int WaveOpenMemory(PWaveIOBlock& block, const void* buffer, std::int32_t length) {
  block = nullptr;
  if (buffer == nullptr || length <= 0) return WIOERR_FILEERROR;
  MMIOINFO info{};
  info.fccIOProc = FOURCC_MEM;
  info.pchBuffer = const_cast<char*>(static_cast<const char*>(buffer));
  info.cchBuffer = length;
  return WaveOpen(block, reinterpret_cast<const char*>(&info), FOURCC_WAVE, wioRead | wioMemory);
}

// ---- Creating and writing ---------------------------------------------------------------

int WaveCreate(PWaveIOBlock& block, const WAVEFORMATEX* format) {
  block = nullptr;
  if (format == nullptr) return WIOERR_BADARG;
  const int bytes = WaveFormatSize(format);
  PWaveIOBlock b = nullptr;
  try {
    b = AllocBlock(static_cast<std::size_t>(bytes));
    std::memcpy(&b->Format, format, static_cast<std::size_t>(bytes));
    if (b->Format.wFormatTag == WAVE_FORMAT_PCM) b->Format.cbSize = 0;
  } catch (const EOutOfMemory&) {
    return WIOERR_NOMEMORY;
  }
  if (WaveInfoCreate(b->InfoList) != 0 || WaveDispCreate(b->DispList) != 0) {
    WaveFree(b);
    return WIOERR_NOMEMORY;
  }
  block = b;
  return 0;
}

int WaveCreateFile(PWaveIOBlock block, const char* name) {
  if (block == nullptr || name == nullptr) return WIOERR_BADARG;
  if (block->Handle != nullptr || !UsableFormat(block->Format)) return WIOERR_FILEERROR;
  std::string path(name);
  HMMIO h = mmioOpenA(path.data(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
  if (h == nullptr) return WIOERR_FILEERROR;
  MMCKINFO riff{};
  riff.fccType = FOURCC_WAVE;
  MMCKINFO data{};
  data.ckid = kData;
  const LONG formatBytes =
      block->Format.wFormatTag == WAVE_FORMAT_PCM ? 16 : WaveFormatSize(&block->Format);
  char* nameCopy = nullptr;
  bool ok = mmioCreateChunk(h, &riff, MMIO_CREATERIFF) == MMSYSERR_NOERROR &&
            WriteChunk(h, kFmt, &block->Format, formatBytes, nullptr, 0) &&
            mmioCreateChunk(h, &data, 0) == MMSYSERR_NOERROR;
  if (ok) {
    try {
      nameCopy = CopyName(name, 0);
    } catch (const EOutOfMemory&) {
      ok = false;
    }
  }
  if (!ok) {
    mmioClose(h, 0);
    mmioOpenA(path.data(), nullptr, MMIO_DELETE);
    return WIOERR_FILEERROR;
  }
  FreeBlock(block->FileName);
  block->FileName = nameCopy;
  block->Flags &= ~(wioResource | wioMemory | wioRawFile | wioHeaderOnly);
  block->Handle = h;
  block->RiffChunk = riff;
  block->DataChunk = data;
  block->DataOffset = data.dwDataOffset;
  block->FileSize = 0;
  block->DataBytes = 0;
  block->DataSamples = 0;
  block->FirstSample = 0;
  block->LastSample = 0;
  block->BytesLeft = 0;
  block->SamplePos = 0;
  return 0;
}

int WaveFinish(PWaveIOBlock block) {
  if (block == nullptr) return WIOERR_BADARG;
  int result = 0;
  HMMIO h = block->Handle;
  if (h != nullptr && (block->Flags & wioRawFile) == 0 && (block->DataChunk.dwFlags & MMIO_DIRTY)) {
    bool ok = mmioFlush(h, 0) == MMSYSERR_NOERROR;
    if (ok && (block->RiffChunk.dwFlags & MMIO_DIRTY) == 0) {
      // Appending to a file that was opened, not created: both sizes are rewritten.
      block->RiffChunk.dwFlags |= MMIO_DIRTY;
    }
    // Sizes are taken from the position, so the data chunk ends where its data does even
    // when the writer moved back.
    const std::int64_t end = std::int64_t{block->DataOffset} + block->DataBytes;
    ok = ok && platform::MmioSeek64(h, end, SEEK_SET) == end;
    ok = ok && mmioAscend(h, &block->DataChunk, 0) == MMSYSERR_NOERROR;
    if (ok && block->Format.wFormatTag != WAVE_FORMAT_PCM) {
      const DWORD samples = static_cast<DWORD>(block->DataSamples);
      ok = WriteChunk(h, kFact, &samples, 4, nullptr, 0);
    }
    ok = ok && WaveDispWrite(h, block->DispList) == 0;
    ok = ok && WaveInfoWrite(h, block->InfoList) == 0;
    ok = ok && mmioAscend(h, &block->RiffChunk, 0) == MMSYSERR_NOERROR;
    if (ok) {
      const std::int64_t size = platform::MmioSeek64(h, 0, SEEK_CUR);
      ok = size >= 0;
      block->FileSize = ClampToU32(size);
      block->LastSample = block->DataSamples;
    }
    ok = mmioClose(h, 0) == MMSYSERR_NOERROR && ok;
    block->Handle = nullptr;
    if (!ok) result = WIOERR_FILEERROR;
  }
  WaveCloseRiff(block->Handle, block->ResourceHandle);
  block->BytesLeft = 0;
  block->SamplePos = 0;
  return result;
}

int WaveFree(PWaveIOBlock& block) {
  if (block == nullptr) return WIOERR_BADARG;
  WaveCloseRiff(block->Handle, block->ResourceHandle);
  FreeBlock(block->FileName);
  WaveDispFree(block->DispList);
  WaveInfoFree(block->InfoList);
  FreeBlock(block);
  return 0;
}

int WaveSetIOBuffer(PWaveIOBlock block, std::int32_t size) {
  if (block == nullptr) return WIOERR_BADARG;
  if (block->Flags & (wioResource | wioMemory | wioRawFile)) return 0;
  if (block->Handle == nullptr || size < 0) return WIOERR_NOFORMAT;
  return static_cast<int>(mmioSetBuffer(block->Handle, nullptr, size, 0));
}

int WaveReopen(PWaveIOBlock block) {
  if (block == nullptr) return WIOERR_BADARG;
  if (block->Handle == nullptr) {
    if (block->FileName == nullptr) return WIOERR_FILEERROR;
    if (block->Flags & wioRawFile) {
      std::string path(block->FileName);
      block->Handle = mmioOpenA(path.data(), nullptr, MMIO_READ | MMIO_DENYNONE);
      if (block->Handle == nullptr) return WIOERR_FILEERROR;
    } else if (WaveOpenRiff(block->Handle, block->RiffChunk, block->ResourceHandle, block->Flags,
                            FOURCC_WAVE, block->FileName) != 0) {
      return WIOERR_FILEERROR;
    }
  }
  if (WaveSeek(block, block->SamplePos) != 0) {
    WaveCloseRiff(block->Handle, block->ResourceHandle);
    return WIOERR_FILEERROR;
  }
  return 0;
}

int WaveSeek(PWaveIOBlock block, std::int32_t sample) {
  if (block == nullptr || sample < 0) return WIOERR_FILEERROR;
  const WAVEFORMATEX* f = &block->Format;
  if (!UsableFormat(*f)) return WIOERR_FILEERROR;
  const std::int32_t last = block->LastSample - block->FirstSample - 1;
  sample = std::max(std::min(sample, last), 0);
  // Positions are 64-bit: the data of a file from 2 GiB up runs past what 32 bits count.
  const std::int64_t first = block->FirstSample;
  // A byte position converted back can round past the last sample where the
  // rate does not divide evenly (a compressed format's derived byte rate).
  const std::int64_t window = std::int64_t{block->LastSample} - first;
  const auto position = [&](std::int64_t bytes) {
    return WaveClamp32(std::clamp<std::int64_t>(WaveBytesToSamples64(f, bytes) - first, 0, window));
  };
  if (block->Handle == nullptr) {
    block->SamplePos = position(WaveSamplesToBytes64(f, first + sample));
    return 0;
  }
  std::int64_t p = WaveSamplesToBytes64(f, first + sample);
  p = std::min<std::int64_t>(p, block->DataBytes);
  p = std::max<std::int64_t>(p, 0) / f->nBlockAlign * f->nBlockAlign;
  HMMIO h = block->Handle;
  if (block->Flags & wioRawFile) {
    const std::int64_t target = std::int64_t{block->DataOffset} + p;
    if (platform::MmioSeek64(h, target, SEEK_SET) != target) return WIOERR_FILEERROR;
  } else {
    const std::int64_t header = std::int64_t{block->DataOffset} - 8;
    if (header < 0 || platform::MmioSeek64(h, header, SEEK_SET) != header) {
      return WIOERR_FILEERROR;
    }
    // A chunk being written keeps its dirty mark, so finishing still writes its size.
    const DWORD dirty = block->DataChunk.dwFlags & MMIO_DIRTY;
    MMCKINFO ck{};
    if (mmioDescend(h, &ck, nullptr, 0) != MMSYSERR_NOERROR) return WIOERR_FILEERROR;
    ck.dwFlags |= dirty;
    block->DataChunk = ck;
    if (platform::MmioSeek64(h, p, SEEK_CUR) < 0) return WIOERR_FILEERROR;
  }
  // Never more than the data holds, so reads stop at the end of the "data" chunk.
  const std::int64_t end = WaveDataBytes64(block, block->LastSample);
  block->BytesLeft = ClampToU32(end - p);
  block->SamplePos = position(p);
  return 0;
}

std::int32_t WaveRead(PWaveIOBlock block, void* buffer, std::int32_t count) {
  if (block == nullptr || block->Handle == nullptr || block->BytesLeft == 0) return -1;
  if (count < 0 || (buffer == nullptr && count > 0)) return -1;
  const auto wanted = static_cast<LONG>(std::min<std::int64_t>(count, block->BytesLeft));
  const LONG got = mmioRead(block->Handle, static_cast<char*>(buffer), wanted);
  if (got < 0) return -1;
  if (got < count) block->BytesLeft = 0;
  if (got > 0) {
    block->BytesLeft = ClampToU32(std::int64_t{block->BytesLeft} - got);
    block->SamplePos = WaveClamp32(std::int64_t{block->LastSample} - block->FirstSample -
                                   WaveBytesToSamples64(&block->Format, block->BytesLeft));
  }
  return got;
}

std::int32_t WaveWrite(PWaveIOBlock block, const void* buffer, std::int32_t count) {
  if (block == nullptr || block->Handle == nullptr || count <= 0 || buffer == nullptr ||
      (block->Flags & wioRawFile)) {
    return -1;
  }
  // The file never grows beyond what the 32-bit size of its RIFF chunk holds (one byte is
  // kept for the pad byte of an odd-sized "data" chunk).
  const std::int64_t here = platform::MmioSeek64(block->Handle, 0, SEEK_CUR);
  if (here < 0 || here + count > kMaxU32 + 7) return -1;
  const LONG written = mmioWrite(block->Handle, static_cast<const char*>(buffer), count);
  if (written > 0) {
    const WAVEFORMATEX* f = &block->Format;
    block->DataChunk.dwFlags |= MMIO_DIRTY;
    const std::int64_t p = here + written - block->DataOffset;
    block->SamplePos = WaveClamp32(WaveBytesToSamples64(f, p));
    block->DataBytes = std::max(block->DataBytes, ClampToU32(p));
    if (block->SamplePos > block->DataSamples) {
      block->DataSamples = block->SamplePos;
      block->LastSample = block->SamplePos;
    }
    block->BytesLeft =
        ClampToU32(WaveSamplesToBytes64(f, std::int64_t{block->LastSample} - block->SamplePos));
  }
  return written;
}

// ---- Names ------------------------------------------------------------------------------

bool WaveFileExists(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  std::string path(name);
  return mmioOpenA(path.data(), nullptr, MMIO_EXIST) != nullptr;
}

bool WaveNameIsValid(const char* name) {
  std::string full;
  return platform::MmioParseName(name, full);
}

bool WaveFileDelete(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  std::string path(name);
  return mmioOpenA(path.data(), nullptr, MMIO_DELETE) != nullptr;
}
