#include "platform/registry/registry.h"

#include <mutex>

#include "platform/registry/registry_store.h"

// The accessor over the file store: every call reads the file afresh.

namespace {

// Serialises read-modify-write cycles of the accessors of this process.
std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::vector<std::string> path;
  if (!platform::SplitRegistryPath(key, path)) return false;
  std::lock_guard lock(StoreMutex());
  platform::RegistryFile file = platform::LoadRegistryFile();
  if (!file.store.Exists(root_, path)) {
    if (!canCreate) return false;
    file.store.Create(root_, path);
    if (!platform::SaveRegistryFile(file, file.store)) return false;
  }
  path_ = std::move(path);
  return true;
}

bool TRegistry::KeyExists(const std::string& key) const {
  std::vector<std::string> path;
  if (!platform::SplitRegistryPath(key, path)) return false;
  std::lock_guard lock(StoreMutex());
  return platform::LoadRegistryFile().store.Exists(root_, path);
}

bool TRegistry::QueryRaw(const std::string& name, std::uint32_t& type, std::string& data) const {
  std::lock_guard lock(StoreMutex());
  platform::RegistryFile file = platform::LoadRegistryFile();
  platform::RegistryKey* key = file.store.Find(root_, path_);
  if (key == nullptr) return false;
  const auto it = key->values.find(platform::FoldRegistryName(name));
  if (it == key->values.end()) return false;
  type = it->second.type;
  data = std::move(it->second.data);
  return true;
}

void TRegistry::WriteRaw(const std::string& name, std::uint32_t type, std::string data) {
  WriteRawValues({RawValue{name, type, std::move(data)}});
}

void TRegistry::WriteRawValues(std::vector<RawValue> values) {
  if (values.empty()) return;
  std::lock_guard lock(StoreMutex());
  platform::RegistryFile file = platform::LoadRegistryFile();
  // The current key is recreated should it have vanished from the file meanwhile.
  platform::RegistryKey& key = file.store.Create(root_, path_);
  for (RawValue& raw : values) {
    platform::RegistryValue& value = key.values[platform::FoldRegistryName(raw.name)];
    if (value.name.empty()) value.name = raw.name;
    value.type = raw.type;
    value.data = std::move(raw.data);
  }
  // One file replaces the old one: all the values land together or none does.
  if (!platform::SaveRegistryFile(file, file.store)) {
    throw ERegistryException("Failed to set data for '" + values.front().name + "'");
  }
}
