#pragma once

// The system's registry calls with plain types (see messages/win32/native_windows.h).
// Roots are the predefined keys' 32-bit values (HKEY_CURRENT_USER: 0x80000001); paths
// are backslash separated below the root, empty for the root itself. Each call opens the
// key afresh and closes it again. Results are the system's error codes (0: done).

#include <cstdint>
#include <string>
#include <vector>

namespace platform::win32 {

// Whether the key exists (and can be read).
long RegistryOpenKey(std::uint32_t root, const std::string& path);
// Creates the key with its missing parents; done too when it exists.
long RegistryCreateKey(std::uint32_t root, const std::string& path);
// The value's type and data as stored.
long RegistryQueryValue(std::uint32_t root, const std::string& path, const std::string& name,
                        std::uint32_t& type, std::string& data);
// Writes the value, creating the key should it be missing.
long RegistrySetValue(std::uint32_t root, const std::string& path, const std::string& name,
                      std::uint32_t type, const std::string& data);

struct RegistryValueData {
  std::string name;
  std::uint32_t type;
  std::string data;
};
// Writes the values in order while holding a lock that every process of the program
// takes for such writes, so that two writers of the same names never mix their sets;
// stops at the first failure.
long RegistrySetValues(std::uint32_t root, const std::string& path,
                       const std::vector<RegistryValueData>& values);

}  // namespace platform::win32
