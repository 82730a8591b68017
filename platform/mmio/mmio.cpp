#include "platform/mmio/mmio.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/mmio/file_store.h"
#include "platform/text/file_names.h"

namespace {

// Chunk offsets and sizes are 32-bit fields: no chunk's data starts beyond 4 GiB - 1, and
// none reaches beyond the end of the largest chunk that starts there.
constexpr std::int64_t kMaxChunkOffset = 0xFFFFFFFF;
constexpr std::int64_t kMaxPosition = kMaxChunkOffset + 0xFFFFFFFF + 1;
// Memory images are described by a 32-bit signed length.
constexpr std::int64_t kMaxMemorySize = std::numeric_limits<LONG>::max();

using platform::Store;

class MemoryStore : public Store {
 public:
  // Over a caller's buffer: fixed size.
  MemoryStore(char* data, std::int64_t size) : data_(data), size_(size) {}
  // Owned by the layer: starts with `size` zero bytes and grows by `grow` (0: fixed).
  MemoryStore(std::int64_t size, std::int64_t grow)
      : owned_(static_cast<std::size_t>(size)), size_(size), grow_(grow), own_(true) {
    data_ = owned_.data();
  }
  std::int64_t ReadAt(std::int64_t offset, char* dst, std::int64_t count) override {
    if (offset >= size_) return 0;
    const std::int64_t n = std::min(count, size_ - offset);
    std::memcpy(dst, data_ + offset, static_cast<std::size_t>(n));
    return n;
  }
  bool WriteAt(std::int64_t offset, const char* src, std::int64_t count) override {
    const std::int64_t end = offset + count;
    if (end > size_) {
      if (!own_ || grow_ <= 0) return false;
      const std::int64_t steps = (end - size_ + grow_ - 1) / grow_;
      const std::int64_t newSize = size_ + steps * grow_;
      if (newSize > kMaxMemorySize) return false;
      try {
        owned_.resize(static_cast<std::size_t>(newSize));
      } catch (const std::bad_alloc&) {
        return false;
      }
      data_ = owned_.data();
      size_ = newSize;
    }
    std::memcpy(data_ + offset, src, static_cast<std::size_t>(count));
    return true;
  }
  std::int64_t Size() override { return size_; }
  bool IsMemory() const override { return true; }

 private:
  std::vector<char> owned_;
  char* data_ = nullptr;
  std::int64_t size_ = 0;
  std::int64_t grow_ = 0;
  bool own_ = false;
};

}  // namespace

struct MMIOInstance {
  std::unique_ptr<Store> store;
  DWORD flags = 0;
  FOURCC ioProc = FOURCC_DOS;
  std::int64_t pos = 0;
  // I/O buffer: a window [bufStart, bufStart + bufLen) of the file, at most `cap` bytes.
  std::vector<char> ownBuffer;
  char* buffer = nullptr;
  std::int64_t cap = 0;
  std::int64_t bufStart = 0;
  std::int64_t bufLen = 0;
  bool dirty = false;

  bool CanRead() const { return (flags & 3) != MMIO_WRITE; }
  bool CanWrite() const { return (flags & 3) != MMIO_READ; }

  bool Flush() {
    if (!dirty) return true;
    if (!store->WriteAt(bufStart, buffer, bufLen)) return false;
    dirty = false;
    return true;
  }

  std::int64_t Size() {
    std::int64_t size = store->Size();
    if (dirty) size = std::max(size, bufStart + bufLen);
    return size;
  }

  std::int64_t Read(char* dst, std::int64_t count) {
    if (!CanRead()) return -1;
    if (cap == 0) {
      const std::int64_t r = store->ReadAt(pos, dst, count);
      if (r > 0) pos += r;
      return r;
    }
    std::int64_t done = 0;
    while (done < count) {
      if (pos >= bufStart && pos < bufStart + bufLen) {
        const std::int64_t n = std::min(count - done, bufStart + bufLen - pos);
        std::memcpy(dst + done, buffer + (pos - bufStart), static_cast<std::size_t>(n));
        pos += n;
        done += n;
        continue;
      }
      if (!Flush()) return done > 0 ? done : -1;
      bufStart = pos;
      bufLen = 0;
      const std::int64_t r = store->ReadAt(pos, buffer, cap);
      if (r < 0) return done > 0 ? done : -1;
      if (r == 0) break;
      bufLen = r;
    }
    return done;
  }

  bool Write(const char* src, std::int64_t count) {
    if (!CanWrite()) return false;
    if (cap == 0) {
      if (!store->WriteAt(pos, src, count)) return false;
      pos += count;
      return true;
    }
    std::int64_t done = 0;
    while (done < count) {
      if (pos >= bufStart && pos <= bufStart + bufLen && pos < bufStart + cap) {
        const std::int64_t n = std::min(count - done, bufStart + cap - pos);
        std::memcpy(buffer + (pos - bufStart), src + done, static_cast<std::size_t>(n));
        pos += n;
        done += n;
        bufLen = std::max(bufLen, pos - bufStart);
        dirty = true;
        continue;
      }
      if (!Flush()) return false;
      bufStart = pos;
      bufLen = 0;
    }
    return true;
  }

  MMRESULT SetBuffer(char* external, std::int64_t size) {
    if (!Flush()) return MMIOERR_CANNOTWRITE;
    bufStart = 0;
    bufLen = 0;
    if (size == 0) {
      ownBuffer.clear();
      ownBuffer.shrink_to_fit();
      buffer = nullptr;
      cap = 0;
      return MMSYSERR_NOERROR;
    }
    if (external != nullptr) {
      ownBuffer.clear();
      buffer = external;
    } else {
      try {
        ownBuffer.assign(static_cast<std::size_t>(size), 0);
      } catch (const std::bad_alloc&) {
        buffer = nullptr;
        cap = 0;
        return MMIOERR_OUTOFMEMORY;
      }
      buffer = ownBuffer.data();
    }
    cap = size;
    return MMSYSERR_NOERROR;
  }
};

namespace {

inline constexpr MMRESULT kInvalidHandle = 5;  // MMSYSERR_INVALHANDLE
inline constexpr MMRESULT kInvalidParam = 11;  // MMSYSERR_INVALPARAM

std::mutex& HandlesLock() {
  static std::mutex lock;
  return lock;
}
std::set<HMMIO>& Handles() {
  static std::set<HMMIO> handles;
  return handles;
}

bool Valid(HMMIO h) {
  if (h == nullptr) return false;
  std::lock_guard<std::mutex> guard(HandlesLock());
  return Handles().count(h) != 0;
}

HMMIO Fail(LPMMIOINFO info, MMRESULT code) {
  if (info != nullptr) info->wErrorRet = code;
  return nullptr;
}

HMMIO Register(std::unique_ptr<MMIOInstance> instance) {
  HMMIO h = instance.release();
  std::lock_guard<std::mutex> guard(HandlesLock());
  Handles().insert(h);
  return h;
}

bool ReadFourBytes(HMMIO h, DWORD& value) {
  unsigned char b[4];
  if (h->Read(reinterpret_cast<char*>(b), 4) != 4) return false;
  value = static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) |
          (static_cast<DWORD>(b[2]) << 16) | (static_cast<DWORD>(b[3]) << 24);
  return true;
}

bool WriteFourBytes(HMMIO h, DWORD value) {
  const unsigned char b[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return h->Write(reinterpret_cast<const char*>(b), 4);
}

}  // namespace

HMMIO mmioOpenA(char* name, LPMMIOINFO info, DWORD flags) {
  if (info != nullptr) info->wErrorRet = MMSYSERR_NOERROR;
  if (info != nullptr &&
      (info->pIOProc != nullptr ||
       (info->fccIOProc != 0 && info->fccIOProc != FOURCC_DOS && info->fccIOProc != FOURCC_MEM))) {
    return Fail(info, MMIOERR_CANNOTOPEN);
  }
  const bool memory = info != nullptr && info->fccIOProc == FOURCC_MEM;

  if (flags & (MMIO_PARSE | MMIO_EXIST | MMIO_DELETE)) {
    if (memory || name == nullptr || name[0] == '\0') return Fail(info, MMIOERR_FILENOTFOUND);
    if (flags & MMIO_PARSE) {
      std::string full;
      // The caller's buffer holds 128 characters.
      if (!platform::MmioParseName(name, full) || full.size() > 127) {
        return Fail(info, MMIOERR_PATHNOTFOUND);
      }
      std::memcpy(name, full.c_str(), full.size() + 1);
      return MMIO_SUCCESS_HANDLE;
    }
    if (flags & MMIO_DELETE) {
      const MMRESULT r = platform::DeleteStoreFile(name);
      return r == MMSYSERR_NOERROR ? MMIO_SUCCESS_HANDLE : Fail(info, r);
    }
    if (!platform::IsRegularFile(name)) return Fail(info, MMIOERR_FILENOTFOUND);
    return MMIO_SUCCESS_HANDLE;
  }

  auto instance = std::make_unique<MMIOInstance>();
  instance->flags = flags;
  if (memory) {
    if (info->cchBuffer < 0) return Fail(info, kInvalidParam);
    instance->ioProc = FOURCC_MEM;
    if (info->pchBuffer != nullptr) {
      instance->store = std::make_unique<MemoryStore>(info->pchBuffer, info->cchBuffer);
    } else {
      if (info->cchBuffer > MMIO_MAXBUFFER) return Fail(info, MMIOERR_OUTOFMEMORY);
      try {
        instance->store = std::make_unique<MemoryStore>(info->cchBuffer, info->adwInfo[0]);
      } catch (const std::bad_alloc&) {
        return Fail(info, MMIOERR_OUTOFMEMORY);
      }
    }
    // A memory image is its own buffer.
    return Register(std::move(instance));
  }

  if (name == nullptr || name[0] == '\0') return Fail(info, MMIOERR_FILENOTFOUND);
  MMRESULT error = MMSYSERR_NOERROR;
  instance->store = platform::OpenFileStore(name, flags, &error);
  if (!instance->store) return Fail(info, error);
  if (flags & MMIO_ALLOCBUF) {
    LONG size = info != nullptr && info->cchBuffer > 0 ? info->cchBuffer : MMIO_DEFAULTBUFFER;
    if (size > MMIO_MAXBUFFER) return Fail(info, MMIOERR_OUTOFMEMORY);
    const MMRESULT r = instance->SetBuffer(nullptr, size);
    if (r != MMSYSERR_NOERROR) return Fail(info, r);
  }
  return Register(std::move(instance));
}

MMRESULT mmioClose(HMMIO h, UINT) {
  {
    std::lock_guard<std::mutex> guard(HandlesLock());
    if (h == nullptr || Handles().erase(h) == 0) return kInvalidHandle;
  }
  std::unique_ptr<MMIOInstance> instance(h);
  const bool flushed = instance->Flush();
  const bool closed = instance->store->Close();
  if (!flushed) return MMIOERR_CANNOTWRITE;
  return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

LONG mmioRead(HMMIO h, HPSTR buffer, LONG count) {
  if (!Valid(h) || count < 0 || (buffer == nullptr && count > 0) || !h->CanRead()) return -1;
  return static_cast<LONG>(h->Read(buffer, count));
}

LONG mmioWrite(HMMIO h, const char* buffer, LONG count) {
  if (!Valid(h) || count < 0 || (buffer == nullptr && count > 0) || !h->CanWrite()) return -1;
  if (h->pos + count > kMaxPosition) return -1;
  return h->Write(buffer, count) ? count : -1;
}

LONG mmioSeek(HMMIO h, LONG offset, int origin) {
  if (!Valid(h)) return -1;
  // A position that the result cannot report is refused, and the file does not move.
  const std::int64_t here = h->pos;
  const std::int64_t target = platform::MmioSeek64(h, offset, origin);
  if (target > std::numeric_limits<LONG>::max()) {
    h->pos = here;
    return -1;
  }
  return static_cast<LONG>(target);
}

bool platform::MmioParseName(const char* name, std::string& full) {
  full.clear();
  if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMmioMaxPath) return false;
  std::error_code ec;
  std::string expanded = platform::Utf8FromPath(
      std::filesystem::absolute(platform::PathFromUtf8(name), ec).lexically_normal());
  if (ec || expanded.size() > kMmioMaxPath) return false;
  full = std::move(expanded);
  return true;
}

std::int64_t platform::MmioSeek64(HMMIO h, std::int64_t offset, int origin) {
  if (!Valid(h)) return -1;
  std::int64_t base;
  switch (origin) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = h->pos;
      break;
    case SEEK_END:
      base = h->Size();
      if (base < 0) return -1;
      break;
    default:
      return -1;
  }
  if (offset > kMaxPosition || offset < -base) return -1;
  const std::int64_t target = base + offset;
  if (target < 0 || target > kMaxPosition) return -1;
  h->pos = target;
  return target;
}

MMRESULT mmioSetBuffer(HMMIO h, HPSTR buffer, LONG cchBuffer, UINT) {
  if (!Valid(h)) return kInvalidHandle;
  if (cchBuffer < 0) return kInvalidParam;
  if (h->store->IsMemory()) return MMSYSERR_NOERROR;
  if (cchBuffer > MMIO_MAXBUFFER) return MMIOERR_OUTOFMEMORY;
  return h->SetBuffer(buffer, cchBuffer);
}

MMRESULT mmioFlush(HMMIO h, UINT flags) {
  if (!Valid(h)) return kInvalidHandle;
  if (!h->Flush()) return MMIOERR_CANNOTWRITE;
  if (flags & MMIO_EMPTYBUF) h->bufLen = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioGetInfo(HMMIO h, LPMMIOINFO info, UINT) {
  if (!Valid(h)) return kInvalidHandle;
  if (info == nullptr) return kInvalidParam;
  *info = MMIOINFO{};
  info->dwFlags = h->flags;
  info->fccIOProc = h->ioProc;
  info->cchBuffer = static_cast<LONG>(h->cap);
  info->pchBuffer = h->buffer;
  info->lDiskOffset =
      static_cast<LONG>(std::min<std::int64_t>(h->pos, std::numeric_limits<LONG>::max()));
  info->hmmio = h;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioDescend(HMMIO h, LPMMCKINFO ck, const MMCKINFO* parent, UINT flags) {
  if (!Valid(h)) return kInvalidHandle;
  if (ck == nullptr) return kInvalidParam;
  const FOURCC wantId = ck->ckid;
  const FOURCC wantType = ck->fccType;
  const std::int64_t parentEnd =
      parent == nullptr ? -1 : std::int64_t{parent->dwDataOffset} + parent->cksize;
  for (;;) {
    const std::int64_t start = h->pos;
    if (parentEnd >= 0 && start + 8 > parentEnd) return MMIOERR_CHUNKNOTFOUND;
    // Its data offset would not fit the record.
    if (start + 8 > kMaxChunkOffset) return MMIOERR_CHUNKNOTFOUND;
    MMCKINFO found{};
    if (!ReadFourBytes(h, found.ckid) || !ReadFourBytes(h, found.cksize)) {
      h->pos = start;
      return MMIOERR_CHUNKNOTFOUND;
    }
    found.dwDataOffset = static_cast<DWORD>(start + 8);
    if (found.ckid == FOURCC_RIFF || found.ckid == FOURCC_LIST) {
      if (!ReadFourBytes(h, found.fccType)) {
        h->pos = start;
        return MMIOERR_CHUNKNOTFOUND;
      }
    }
    bool match = true;
    if (flags & MMIO_FINDCHUNK) {
      match = found.ckid == wantId;
    } else if (flags & MMIO_FINDRIFF) {
      match = found.ckid == FOURCC_RIFF && found.fccType == wantType;
    } else if (flags & MMIO_FINDLIST) {
      match = found.ckid == FOURCC_LIST && found.fccType == wantType;
    }
    if (match) {
      *ck = found;
      return MMSYSERR_NOERROR;
    }
    const std::int64_t next = start + 8 + std::int64_t{found.cksize} + (found.cksize & 1);
    if (next > kMaxPosition) return MMIOERR_CHUNKNOTFOUND;
    h->pos = next;
  }
}

MMRESULT mmioAscend(HMMIO h, LPMMCKINFO ck, UINT) {
  if (!Valid(h)) return kInvalidHandle;
  if (ck == nullptr) return kInvalidParam;
  if (ck->dwFlags & MMIO_DIRTY) {
    const std::int64_t end = h->pos;
    const std::int64_t size = end - std::int64_t{ck->dwDataOffset};
    if (size < 0 || ck->dwDataOffset < 4) return MMIOERR_CANNOTSEEK;
    // A size that the 32-bit field cannot hold is never written wrapped.
    if (size > std::int64_t{0xFFFFFFFF}) return MMIOERR_CANNOTWRITE;
    if (static_cast<DWORD>(size) != ck->cksize) {
      h->pos = ck->dwDataOffset - 4;
      if (!WriteFourBytes(h, static_cast<DWORD>(size))) return MMIOERR_CANNOTWRITE;
      ck->cksize = static_cast<DWORD>(size);
    }
    h->pos = end;
    if (size & 1) {
      const char pad = 0;
      if (!h->Write(&pad, 1)) return MMIOERR_CANNOTWRITE;
    }
    ck->dwFlags &= ~MMIO_DIRTY;
    return MMSYSERR_NOERROR;
  }
  const std::int64_t next = std::int64_t{ck->dwDataOffset} + ck->cksize + (ck->cksize & 1);
  if (next > kMaxPosition) return MMIOERR_CANNOTSEEK;
  h->pos = next;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO h, LPMMCKINFO ck, UINT flags) {
  if (!Valid(h)) return kInvalidHandle;
  if (ck == nullptr) return kInvalidParam;
  if (flags & MMIO_CREATERIFF) ck->ckid = FOURCC_RIFF;
  if (flags & MMIO_CREATELIST) ck->ckid = FOURCC_LIST;
  const bool withType = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
  const std::int64_t start = h->pos;
  if (start + 8 > kMaxChunkOffset) return MMIOERR_CANNOTSEEK;
  if (!WriteFourBytes(h, ck->ckid) || !WriteFourBytes(h, ck->cksize) ||
      (withType && !WriteFourBytes(h, ck->fccType))) {
    return MMIOERR_CANNOTWRITE;
  }
  ck->dwDataOffset = static_cast<DWORD>(start + 8);
  ck->dwFlags = MMIO_DIRTY;
  return MMSYSERR_NOERROR;
}
