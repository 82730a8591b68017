#pragma once

// Where the bytes of an open multimedia file live: a file or a memory image.
// The file store is the operating system's part (linux/, win32/).

#include <cstdint>
#include <memory>

#include "platform/mmio/mmio.h"

namespace platform {

// Offsets are absolute.
class Store {
 public:
  virtual ~Store() = default;
  // Bytes read (0 at the end) or -1.
  virtual std::int64_t ReadAt(std::int64_t offset, char* dst, std::int64_t count) = 0;
  virtual bool WriteAt(std::int64_t offset, const char* src, std::int64_t count) = 0;
  virtual std::int64_t Size() = 0;
  virtual bool Close() { return true; }
  virtual bool IsMemory() const { return false; }
};

// Opens a file as the access bits and MMIO_CREATE of `flags` say (a folder is
// refused); nullptr and *error (MMIOERR_*) when it cannot be opened.
std::unique_ptr<Store> OpenFileStore(const char* name, DWORD flags, MMRESULT* error);
// Deletes a file: MMSYSERR_NOERROR or MMIOERR_*.
MMRESULT DeleteStoreFile(const char* name);
bool IsRegularFile(const char* name);

}  // namespace platform
