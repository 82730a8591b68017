#include "platform/registry/registry.h"

#include <limits>

#include "platform/registry/registry_path.h"
#include "platform/registry/win32/native_registry.h"

// The accessor over the system's registry. Keys are opened for each call, as the file
// store of Linux is read for each call; the system keeps concurrent calls consistent.

namespace {

constexpr long kDone = 0;

}  // namespace

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::vector<std::string> path;
  if (!platform::SplitRegistryPath(key, path)) return false;
  const std::string joined = platform::JoinRegistryPath(path);
  if (platform::win32::RegistryOpenKey(root_, joined) != kDone &&
      (!canCreate || platform::win32::RegistryCreateKey(root_, joined) != kDone)) {
    return false;
  }
  path_ = std::move(path);
  return true;
}

bool TRegistry::KeyExists(const std::string& key) const {
  std::vector<std::string> path;
  return platform::SplitRegistryPath(key, path) &&
         platform::win32::RegistryOpenKey(root_, platform::JoinRegistryPath(path)) == kDone;
}

bool TRegistry::QueryRaw(const std::string& name, std::uint32_t& type, std::string& data) const {
  if (platform::win32::RegistryQueryValue(root_, GetCurrentPath(), name, type, data) != kDone) {
    return false;
  }
  // The system stores strings with their terminating null.
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == '\0') {
    data.pop_back();
  }
  return true;
}

void TRegistry::WriteRaw(const std::string& name, std::uint32_t type, std::string data) {
  if (type == REG_SZ) data += '\0';
  if (data.size() > std::numeric_limits<std::uint32_t>::max() ||
      platform::win32::RegistrySetValue(root_, GetCurrentPath(), name, type, data) != kDone) {
    throw ERegistryException("Failed to set data for '" + name + "'");
  }
}

void TRegistry::WriteRawValues(std::vector<RawValue> values) {
  std::vector<platform::win32::RegistryValueData> native;
  for (RawValue& v : values) {
    if (v.type == REG_SZ) v.data += '\0';
    if (v.data.size() > std::numeric_limits<std::uint32_t>::max())
      throw ERegistryException("Failed to set data for '" + v.name + "'");
    native.push_back({v.name, v.type, std::move(v.data)});
  }
  if (!native.empty() &&
      platform::win32::RegistrySetValues(root_, GetCurrentPath(), native) != kDone) {
    throw ERegistryException("Failed to set data for '" + native.front().name + "'");
  }
}
