#pragma once

// Included first in every test source of the Windows build: the few POSIX calls
// the tests use to set up their environment and files, over the C library.

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

inline int unsetenv(const char* name) {
  return _putenv_s(name, "");
}

// Files are opened as bytes; no descriptor is inherited by a program started
// from the tests.
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_BINARY | _O_NOINHERIT)
#endif

inline ssize_t pwrite(int fd, const void* data, size_t bytes, off_t offset) {
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _write(fd, data, static_cast<unsigned>(bytes));
}

inline ssize_t pread(int fd, void* data, size_t bytes, off_t offset) {
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _read(fd, data, static_cast<unsigned>(bytes));
}
