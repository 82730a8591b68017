#include "platform/registry/win32/native_registry.h"

#include <windows.h>

#include <string>

#include "platform/text/win32/native_wide_text.h"

namespace platform::win32 {
namespace {

// The predefined keys are the 32-bit values sign-extended to a handle.
HKEY RootHandle(std::uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Opens (or creates) the key for the duration of one call.
class OpenedKey {
 public:
  OpenedKey(std::uint32_t root, const std::string& path, REGSAM access, bool create) {
    const std::wstring wide = WideFromUtf8(path);
    result_ = create ? RegCreateKeyExW(RootHandle(root), wide.c_str(), 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, access, nullptr, &key_, nullptr)
                     : RegOpenKeyExW(RootHandle(root), wide.c_str(), 0, access, &key_);
    if (result_ != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  LSTATUS Result() const { return result_; }
  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = nullptr;
  LSTATUS result_;
};

// One value into an open key: names and texts go to the system in UTF-16,
// the texts' nulls included.
LSTATUS SetValue(HKEY key, const std::string& name, DWORD type, const std::string& data) {
  const std::wstring text = IsText(type) ? WideFromUtf8(data) : std::wstring();
  const BYTE* bytes = IsText(type) ? reinterpret_cast<const BYTE*>(text.data())
                                   : reinterpret_cast<const BYTE*>(data.data());
  const std::size_t size = IsText(type) ? text.size() * sizeof(wchar_t) : data.size();
  if (size > MAXDWORD) return ERROR_INVALID_PARAMETER;
  return RegSetValueExW(key, WideFromUtf8(name).c_str(), 0, type, bytes, static_cast<DWORD>(size));
}

}  // namespace

long RegistryOpenKey(std::uint32_t root, const std::string& path) {
  return OpenedKey(root, path, KEY_READ, false).Result();
}

long RegistryCreateKey(std::uint32_t root, const std::string& path) {
  return OpenedKey(root, path, KEY_READ | KEY_WRITE, true).Result();
}

long RegistryQueryValue(std::uint32_t root, const std::string& path, const std::string& name,
                        std::uint32_t& type, std::string& data) {
  const OpenedKey key(root, path, KEY_QUERY_VALUE, false);
  if (key.Result() != ERROR_SUCCESS) return key.Result();
  const std::wstring wide_name = WideFromUtf8(name);
  // The value may grow between asking its size and reading it: ask again then.
  for (;;) {
    DWORD found = REG_NONE, size = 0;
    LSTATUS result =
        RegQueryValueExW(key.Handle(), wide_name.c_str(), nullptr, &found, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    data.assign(size, '\0');
    result = RegQueryValueExW(key.Handle(), wide_name.c_str(), nullptr, &found,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return result;
    data.resize(size);
    type = found;
    // Texts are stored in UTF-16 (an odd last byte is not a character).
    if (IsText(found)) {
      data = Utf8FromWide(std::wstring_view(reinterpret_cast<const wchar_t*>(data.data()),
                                            data.size() / sizeof(wchar_t)));
    }
    return ERROR_SUCCESS;
  }
}

long RegistrySetValue(std::uint32_t root, const std::string& path, const std::string& name,
                      std::uint32_t type, const std::string& data) {
  const OpenedKey key(root, path, KEY_SET_VALUE, true);
  if (key.Result() != ERROR_SUCCESS) return key.Result();
  return SetValue(key.Handle(), name, type, data);
}

long RegistrySetValues(std::uint32_t root, const std::string& path,
                       const std::vector<RegistryValueData>& values) {
  // Named for the session, so that every instance of the program shares it.
  HANDLE lock = CreateMutexA(nullptr, FALSE, "Local\\Tessaline.RegistryWrites");
  if (lock != nullptr) WaitForSingleObject(lock, INFINITE);
  long result = ERROR_SUCCESS;
  {
    const OpenedKey key(root, path, KEY_SET_VALUE, true);
    result = key.Result();
    for (std::size_t i = 0; result == ERROR_SUCCESS && i < values.size(); ++i) {
      const RegistryValueData& v = values[i];
      result = SetValue(key.Handle(), v.name, v.type, v.data);
    }
  }
  if (lock != nullptr) {
    ReleaseMutex(lock);
    CloseHandle(lock);
  }
  return result;
}

}  // namespace platform::win32
