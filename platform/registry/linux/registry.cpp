#include "platform/registry/registry.h"

#include <mutex>

#include "platform/registry/registry_store.h"

namespace {

// Serialises read-modify-write cycles of the accessors of this process.
std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}

const platform::RegistryValue* FindValue(platform::RegistryStore& store, HKEY root,
                                         const std::vector<std::string>& path,
                                         const std::string& name) {
  platform::RegistryKey* key = store.Find(root, path);
  if (key == nullptr) return nullptr;
  const auto it = key->values.find(platform::FoldRegistryName(name));
  return it == key->values.end() ? nullptr : &it->second;
}

}  // namespace

void TRegistry::SetRootKey(HKEY root) {
  if (!IsPredefinedRootKey(root)) throw ERegistryException("Invalid registry root key");
  root_ = root;
  path_.clear();
}

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

void TRegistry::CloseKey() {
  path_.clear();
}

std::string TRegistry::GetCurrentPath() const {
  std::string result;
  for (const std::string& segment : path_) {
    if (!result.empty()) result += '\\';
    result += segment;
  }
  return result;
}

bool TRegistry::KeyExists(const std::string& key) const {
  std::vector<std::string> path;
  if (!platform::SplitRegistryPath(key, path)) return false;
  std::lock_guard lock(StoreMutex());
  return platform::LoadRegistryFile().store.Exists(root_, path);
}

bool TRegistry::ValueExists(const std::string& name) const {
  return GetDataType(name) != rdUnknown;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  std::lock_guard lock(StoreMutex());
  platform::RegistryFile file = platform::LoadRegistryFile();
  const platform::RegistryValue* value = FindValue(file.store, root_, path_, name);
  if (value == nullptr) return rdUnknown;
  switch (value->type) {
    case REG_SZ:
      return rdString;
    case REG_DWORD:
      return rdInteger;
    case REG_BINARY:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

std::string TRegistry::ReadRaw(const std::string& name, std::uint32_t type) const {
  std::lock_guard lock(StoreMutex());
  platform::RegistryFile file = platform::LoadRegistryFile();
  const platform::RegistryValue* value = FindValue(file.store, root_, path_, name);
  if (value == nullptr) throw ERegistryException("Failed to get data for '" + name + "'");
  if (value->type != type) throw ERegistryException("Invalid data type for '" + name + "'");
  return value->data;
}

void TRegistry::WriteRaw(const std::string& name, std::uint32_t type, std::string data) {
  std::lock_guard lock(StoreMutex());
  platform::RegistryFile file = platform::LoadRegistryFile();
  // The current key is recreated should it have vanished from the file meanwhile.
  platform::RegistryKey& key = file.store.Create(root_, path_);
  platform::RegistryValue& value = key.values[platform::FoldRegistryName(name)];
  if (value.name.empty()) value.name = name;
  value.type = type;
  value.data = std::move(data);
  if (!platform::SaveRegistryFile(file, file.store)) {
    throw ERegistryException("Failed to set data for '" + name + "'");
  }
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  std::string data;
  for (int i = 0; i < 4; ++i) data += static_cast<char>(bits >> (8 * i) & 0xFF);
  WriteRaw(name, REG_DWORD, std::move(data));
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  WriteRaw(name, REG_SZ, value);
}

void TRegistry::WriteBinaryData(const std::string& name, const void* data, std::size_t size) {
  WriteRaw(name, REG_BINARY,
           size == 0 ? std::string() : std::string(static_cast<const char*>(data), size));
}

std::int32_t TRegistry::ReadInteger(const std::string& name) const {
  const std::string data = ReadRaw(name, REG_DWORD);
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) {
    bits = bits << 8 | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
  }
  return static_cast<std::int32_t>(bits);
}

std::string TRegistry::ReadString(const std::string& name) const {
  return ReadRaw(name, REG_SZ);
}

std::vector<std::uint8_t> TRegistry::ReadBinaryData(const std::string& name) const {
  const std::string data = ReadRaw(name, REG_BINARY);
  return std::vector<std::uint8_t>(data.begin(), data.end());
}
