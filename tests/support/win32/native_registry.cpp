#include "tests/support/win32/native_registry.h"

#include <windows.h>

namespace test_support {
namespace {

const std::string kSandbox = "Software\\TessalineTests\\" + std::to_string(GetCurrentProcessId());

HKEY CreateUserKey(const std::string& path) {
  HKEY key = nullptr;
  return RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS
             ? key
             : nullptr;
}

}  // namespace

bool RedirectRegistryRoots() {
  RestoreRegistryRoots();
  // Both keys are made before either root is redirected.
  const HKEY user = CreateUserKey(kSandbox + "\\user");
  const HKEY machine = CreateUserKey(kSandbox + "\\machine");
  const bool done = user != nullptr && machine != nullptr &&
                    RegOverridePredefKey(HKEY_CURRENT_USER, user) == ERROR_SUCCESS &&
                    RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) == ERROR_SUCCESS;
  if (user != nullptr) RegCloseKey(user);
  if (machine != nullptr) RegCloseKey(machine);
  return done;
}

void RestoreRegistryRoots() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, kSandbox.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TessalineTests");  // when no other run uses it
}

bool ReadUserValue(const std::string& path, const std::string& name, std::uint32_t& type,
                   std::string& data) {
  DWORD found = 0, size = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &found,
                   nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  data.assign(size, '\0');
  if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &found,
                   data.data(), &size) != ERROR_SUCCESS) {
    return false;
  }
  data.resize(size);
  type = found;
  return true;
}

bool ReadUserText(const std::string& path, const std::string& name, std::wstring& text) {
  const std::wstring wide_path(path.begin(), path.end());  // ASCII key paths
  const std::wstring wide_name(name.begin(), name.end());
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, wide_path.c_str(), wide_name.c_str(), RRF_RT_REG_SZ, nullptr,
                   nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  text.assign(size / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, wide_path.c_str(), wide_name.c_str(), RRF_RT_REG_SZ, nullptr,
                   text.data(), &size) != ERROR_SUCCESS) {
    return false;
  }
  text.resize(size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return true;
}

void DeleteUserValue(const std::string& path, const std::string& name) {
  RegDeleteKeyValueA(HKEY_CURRENT_USER, path.c_str(), name.c_str());
  // The key and its parents go while they are left empty.
  for (std::string key = path; !key.empty();) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
      return;
    }
    DWORD values = 0, subkeys = 0;
    const LSTATUS result = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || values != 0 || subkeys != 0) return;
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    const std::size_t slash = key.rfind('\\');
    key = slash == std::string::npos ? std::string() : key.substr(0, slash);
  }
}

}  // namespace test_support
