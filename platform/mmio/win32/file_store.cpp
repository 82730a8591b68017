#include "platform/mmio/file_store.h"

#include "platform/mmio/win32/native_files.h"

namespace platform {
namespace {

class FileStore : public Store {
 public:
  explicit FileStore(std::uintptr_t file) : file_(file) {}
  ~FileStore() override { Close(); }
  std::int64_t ReadAt(std::int64_t offset, char* dst, std::int64_t count) override {
    return win32::ReadFileAt(file_, offset, dst, count);
  }
  bool WriteAt(std::int64_t offset, const char* src, std::int64_t count) override {
    return win32::WriteFileAt(file_, offset, src, count);
  }
  std::int64_t Size() override { return win32::FileSize(file_); }
  bool Close() override {
    if (file_ == 0) return true;
    const bool closed = win32::CloseFile(file_);
    file_ = 0;
    return closed;
  }

 private:
  std::uintptr_t file_;
};

MMRESULT Result(win32::FileError error) {
  switch (error) {
    case win32::FileError::kNone:
      return MMSYSERR_NOERROR;
    case win32::FileError::kNotFound:
      return MMIOERR_FILENOTFOUND;
    case win32::FileError::kPathNotFound:
      return MMIOERR_PATHNOTFOUND;
    case win32::FileError::kAccessDenied:
      return MMIOERR_ACCESSDENIED;
    case win32::FileError::kTooManyOpen:
      return MMIOERR_TOOMANYOPENFILES;
    default:
      return MMIOERR_CANNOTOPEN;
  }
}

}  // namespace

std::unique_ptr<Store> OpenFileStore(const char* name, DWORD flags, MMRESULT* error) {
  const DWORD access = flags & 3;
  const bool create = (flags & MMIO_CREATE) != 0;
  const bool read = access != MMIO_WRITE || create;
  const bool write = access != MMIO_READ || create;
  win32::FileError failure = win32::FileError::kNone;
  const std::uintptr_t file = win32::OpenFile(name, read, write, create, &failure);
  if (file == 0) {
    *error = Result(failure);
    return nullptr;
  }
  return std::make_unique<FileStore>(file);
}

MMRESULT DeleteStoreFile(const char* name) {
  return Result(win32::RemoveFile(name));
}

bool IsRegularFile(const char* name) {
  return win32::IsRegularFile(name);
}

}  // namespace platform
