#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/framework/exception.h"
#include "platform/registry/registry_types.h"

// A failed registry read or write: the value is missing, has another type, or the store
// could not be written.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// Type of a stored value as the accessor reports it.
enum TRegDataType : std::uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// Accessor of the per-user registry: on Windows the system's registry, on Linux a file
// (see platform/registry/registry_store.h). It works on one root key (HKEY_CURRENT_USER
// unless changed) and one current key, which is the root itself until OpenKey succeeds and
// again after CloseKey. Key paths are always relative to the root, backslash separated;
// key and value names ignore ASCII letter case. Every call reads the store afresh, and
// every write is complete or not done at all, so several accessors (and processes) see
// each other's completed writes.
class TRegistry {
 public:
  TRegistry() = default;

  HKEY GetRootKey() const { return root_; }
  // Selects a predefined root and closes the current key; other handles raise
  // ERegistryException.
  void SetRootKey(HKEY root);

  // Makes `key` the current key. When it does not exist it is created with its missing
  // parents if canCreate, else the result is false and nothing is created. False also
  // for an invalid path or when creating fails.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey();
  // Path of the current key relative to the root; empty for the root.
  std::string GetCurrentPath() const;

  bool KeyExists(const std::string& key) const;
  bool ValueExists(const std::string& name) const;
  // rdUnknown for a missing value.
  TRegDataType GetDataType(const std::string& name) const;

  // Writers raise ERegistryException when the store cannot be written.
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteString(const std::string& name, const std::string& value);
  void WriteBinaryData(const std::string& name, const void* data, std::size_t size);
  // Writes the integers as one change: a concurrent writer of the same names (in this
  // or another process) leaves either all of these or all of its own, never a mix.
  void WriteIntegers(const std::vector<std::pair<std::string, std::int32_t>>& values);

  // Readers raise ERegistryException when the value is missing or of another type.
  // Integers are REG_DWORD, strings REG_SZ, binary data REG_BINARY.
  std::int32_t ReadInteger(const std::string& name) const;
  std::string ReadString(const std::string& name) const;
  std::vector<std::uint8_t> ReadBinaryData(const std::string& name) const;

 private:
  // The binding's part (linux/ or win32/ registry.cpp). QueryRaw gives the current key's
  // value (false when it or the key is missing); REG_SZ data is the text without a
  // terminating null. WriteRaw creates the current key should it have vanished meanwhile
  // and raises ERegistryException when the store cannot be written.
  bool QueryRaw(const std::string& name, std::uint32_t& type, std::string& data) const;
  struct RawValue {
    std::string name;
    std::uint32_t type;
    std::string data;
  };
  void WriteRaw(const std::string& name, std::uint32_t type, std::string data);
  // Writes every value as one change (see WriteIntegers); raises as WriteRaw does.
  void WriteRawValues(std::vector<RawValue> values);

  std::string ReadRaw(const std::string& name, std::uint32_t type) const;

  HKEY root_ = HKEY_CURRENT_USER;
  std::vector<std::string> path_;
};
