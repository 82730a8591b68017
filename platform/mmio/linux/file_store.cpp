#include "platform/mmio/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

class FileStore : public Store {
 public:
  explicit FileStore(int fd) : fd_(fd) {}
  ~FileStore() override { Close(); }
  std::int64_t ReadAt(std::int64_t offset, char* dst, std::int64_t count) override {
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t r = ::pread(fd_, dst + done, static_cast<std::size_t>(count - done),
                                static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return done > 0 ? done : -1;
      }
      if (r == 0) break;
      done += r;
    }
    return done;
  }
  bool WriteAt(std::int64_t offset, const char* src, std::int64_t count) override {
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t r = ::pwrite(fd_, src + done, static_cast<std::size_t>(count - done),
                                 static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (r == 0) return false;
      done += r;
    }
    return true;
  }
  std::int64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
  }
  bool Close() override {
    if (fd_ < 0) return true;
    const int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
};

MMRESULT ErrnoToResult(int error) {
  switch (error) {
    case ENOENT:
      return MMIOERR_FILENOTFOUND;
    case ENOTDIR:
      return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return MMIOERR_ACCESSDENIED;
    case EMFILE:
    case ENFILE:
      return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM:
      return MMIOERR_OUTOFMEMORY;
    default:
      return MMIOERR_CANNOTOPEN;
  }
}

}  // namespace

std::unique_ptr<Store> OpenFileStore(const char* name, DWORD flags, MMRESULT* error) {
  int mode = O_RDONLY;
  if ((flags & 3) == MMIO_WRITE) mode = O_WRONLY;
  if ((flags & 3) == MMIO_READWRITE) mode = O_RDWR;
  if (flags & MMIO_CREATE) {
    if (mode == O_RDONLY) mode = O_RDWR;
    mode |= O_CREAT | O_TRUNC;
  }
  struct stat st {};
  if (::stat(name, &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = MMIOERR_ACCESSDENIED;
    return nullptr;
  }
  const int fd = ::open(name, mode | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = ErrnoToResult(errno);
    return nullptr;
  }
  return std::make_unique<FileStore>(fd);
}

MMRESULT DeleteStoreFile(const char* name) {
  return ::unlink(name) == 0 ? MMSYSERR_NOERROR : ErrnoToResult(errno);
}

bool IsRegularFile(const char* name) {
  struct stat st {};
  return ::stat(name, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace platform
