#pragma once

// Pictures decoded by the system's imaging component (see messages/win32/native_windows.h).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::win32 {

// Decodes a picture file's bytes (JPEG, PNG, ...) into top-down 32-bit pixels
// (blue-green-red-x); false when the system cannot read it.
bool DecodePicture(const void* data, std::size_t size, std::vector<std::uint32_t>* pixels,
                   int* width, int* height);

}  // namespace platform::win32
