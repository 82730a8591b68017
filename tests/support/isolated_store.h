#pragma once

// Gives a test a placement store of its own: on Linux the configuration folder
// named (XDG_CONFIG_HOME, the file store's home), on Windows fresh keys that the
// process's current-user registry is redirected to, removed again at the end.

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include "tests/support/win32/native_registry.h"
#endif

namespace test_support {

inline bool IsolateStore(const std::filesystem::path& config_home) {
  setenv("XDG_CONFIG_HOME", config_home.string().c_str(), 1);
#ifdef _WIN32
  return RedirectRegistryRoots();
#else
  return true;
#endif
}

inline void EndIsolatedStore() {
#ifdef _WIN32
  RestoreRegistryRoots();
#endif
}

}  // namespace test_support
