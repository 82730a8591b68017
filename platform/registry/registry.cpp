#include "platform/registry/registry.h"

#include "platform/registry/registry_path.h"

// The accessor's parts that do not depend on the store behind it.

void TRegistry::SetRootKey(HKEY root) {
  if (!IsPredefinedRootKey(root)) throw ERegistryException("Invalid registry root key");
  root_ = root;
  path_.clear();
}

void TRegistry::CloseKey() {
  path_.clear();
}

std::string TRegistry::GetCurrentPath() const {
  return platform::JoinRegistryPath(path_);
}

bool TRegistry::ValueExists(const std::string& name) const {
  return GetDataType(name) != rdUnknown;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  std::uint32_t type = REG_NONE;
  std::string data;
  if (!QueryRaw(name, type, data)) return rdUnknown;
  switch (type) {
    case REG_SZ:
      return rdString;
    case REG_EXPAND_SZ:
      return rdExpandString;
    case REG_DWORD:
      return rdInteger;
    case REG_BINARY:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

std::string TRegistry::ReadRaw(const std::string& name, std::uint32_t type) const {
  std::uint32_t found = REG_NONE;
  std::string data;
  if (!QueryRaw(name, found, data))
    throw ERegistryException("Failed to get data for '" + name + "'");
  if (found != type) throw ERegistryException("Invalid data type for '" + name + "'");
  return data;
}

namespace {

// REG_DWORD data: four bytes, least significant first.
std::string DwordData(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  std::string data;
  for (int i = 0; i < 4; ++i) data += static_cast<char>(bits >> (8 * i) & 0xFF);
  return data;
}

}  // namespace

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  WriteRaw(name, REG_DWORD, DwordData(value));
}

void TRegistry::WriteIntegers(const std::vector<std::pair<std::string, std::int32_t>>& values) {
  std::vector<RawValue> raw;
  for (const auto& [name, value] : values) raw.push_back({name, REG_DWORD, DwordData(value)});
  WriteRawValues(std::move(raw));
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
  if (data.size() != 4) throw ERegistryException("Invalid data size for '" + name + "'");
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
