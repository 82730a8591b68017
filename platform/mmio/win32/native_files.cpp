#include "platform/mmio/win32/native_files.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {
namespace {

FileError LastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
      return FileError::kNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return FileError::kPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return FileError::kAccessDenied;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileError::kTooManyOpen;
    default:
      return FileError::kOther;
  }
}

HANDLE Handle(std::uintptr_t file) {
  return reinterpret_cast<HANDLE>(file);
}

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

// File names are UTF-8; the system's wide-character calls take them. A name
// of MAX_PATH characters or more reaches the system as a full path marked as
// long ("\\?\"), which it then takes as it stands: made absolute, with its
// "." and ".." resolved and '\' for '/' first.
std::wstring Wide(const char* name) {
  std::wstring wide = WideFromUtf8(name);
  if (wide.size() < MAX_PATH || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0)
    return wide;
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  // A share's path ("\\server\share\...") is marked "\\?\UNC\server\...".
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The most one call moves.
constexpr std::int64_t kMaxPiece = 1 << 30;

}  // namespace

std::uintptr_t OpenFile(const char* name, bool read, bool write, bool create, FileError* error) {
  const std::wstring wide = Wide(name);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = FileError::kAccessDenied;
    return 0;
  }
  const DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
  HANDLE file =
      CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = LastError();
    return 0;
  }
  return reinterpret_cast<std::uintptr_t>(file);
}

std::int64_t ReadFileAt(std::uintptr_t file, std::int64_t offset, char* dst, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    OVERLAPPED at = At(offset + done);
    DWORD got = 0;
    const auto piece = static_cast<DWORD>(std::min(count - done, kMaxPiece));
    if (!ReadFile(Handle(file), dst + done, piece, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return done > 0 ? done : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool WriteFileAt(std::uintptr_t file, std::int64_t offset, const char* src, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    OVERLAPPED at = At(offset + done);
    DWORD put = 0;
    const auto piece = static_cast<DWORD>(std::min(count - done, kMaxPiece));
    if (!WriteFile(Handle(file), src + done, piece, &put, &at) || put == 0) return false;
    done += put;
  }
  return true;
}

std::int64_t FileSize(std::uintptr_t file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(Handle(file), &size) ? size.QuadPart : -1;
}

bool CloseFile(std::uintptr_t file) {
  return CloseHandle(Handle(file)) != FALSE;
}

FileError RemoveFile(const char* name) {
  return DeleteFileW(Wide(name).c_str()) ? FileError::kNone : LastError();
}

bool IsRegularFile(const char* name) {
  const DWORD attributes = GetFileAttributesW(Wide(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace platform::win32
