#pragma once

// The system's registry, reached directly by the Windows tests (not through the
// platform layer they check).

#include <cstdint>
#include <string>

namespace test_support {

// Redirects the process's HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE to fresh keys below
// the current user's "Software\TessalineTests", so that a test writes nowhere else.
bool RedirectRegistryRoots();
// Ends the redirection and deletes the keys it used.
void RestoreRegistryRoots();

// A value of the current user's registry as stored; false when missing.
bool ReadUserValue(const std::string& path, const std::string& name, std::uint32_t& type,
                   std::string& data);
// A text value of the current user's registry as the system's wide-character
// calls read it, without its terminating null; false when missing or not text.
bool ReadUserText(const std::string& path, const std::string& name, std::wstring& text);
// Deletes a value of the current user's registry, and its key and parents left empty.
void DeleteUserValue(const std::string& path, const std::string& name);

}  // namespace test_support
