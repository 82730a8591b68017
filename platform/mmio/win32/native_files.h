#pragma once

// The system's file calls with plain types (see messages/win32/native_windows.h).

#include <cstdint>

namespace platform::win32 {

enum class FileError { kNone, kNotFound, kPathNotFound, kAccessDenied, kTooManyOpen, kOther };

// A handle (0 on failure, with *error). Folders are refused as access denied.
std::uintptr_t OpenFile(const char* name, bool read, bool write, bool create, FileError* error);
// Bytes read at offset (0 at the end) or -1.
std::int64_t ReadFileAt(std::uintptr_t file, std::int64_t offset, char* dst, std::int64_t count);
bool WriteFileAt(std::uintptr_t file, std::int64_t offset, const char* src, std::int64_t count);
std::int64_t FileSize(std::uintptr_t file);
bool CloseFile(std::uintptr_t file);
FileError RemoveFile(const char* name);
bool IsRegularFile(const char* name);

}  // namespace platform::win32
