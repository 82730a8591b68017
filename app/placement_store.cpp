#include "app/placement_store.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/registry/registry.h"

namespace {

void SelectRoot(TRegistry& reg, HKEY root) {
  if (IsPredefinedRootKey(root)) reg.SetRootKey(root);
}

template <typename T>
void WriteEightBytes(TRegistry& reg, const std::string& name, T value) {
  static_assert(sizeof(T) == 8);
  reg.WriteBinaryData(name, &value, sizeof value);
}

// Raises unless the stored value is exactly eight raw bytes.
template <typename T>
T ReadEightBytes(const TRegistry& reg, const std::string& name) {
  static_assert(sizeof(T) == 8);
  const std::vector<std::uint8_t> bytes = reg.ReadBinaryData(name);
  if (bytes.size() != sizeof(T)) throw ERegistryException("Invalid data size for '" + name + "'");
  T value;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

// The integer in the default's integer type; out of range keeps the default.
TVariant IntegerAs(TVariantType type, std::int32_t value, const TVariant& def) {
  switch (type) {
    case vtInt16:
      if (value < std::numeric_limits<std::int16_t>::min() ||
          value > std::numeric_limits<std::int16_t>::max()) {
        return def;
      }
      return TVariant(static_cast<std::int16_t>(value));
    case vtByte:
      if (value < 0 || value > 255) return def;
      return TVariant(static_cast<std::uint8_t>(value));
    default:
      return TVariant(value);
  }
}

}  // namespace

void WriteRegValue(HKEY root, const std::string& key, const std::string& name,
                   const TVariant& value) {
  try {
    TRegistry reg;
    SelectRoot(reg, root);
    // A key that cannot be opened gets nothing; the value never lands in the root.
    if (!reg.OpenKey(key, true)) return;
    switch (value.VarType()) {
      case vtNull:
        reg.WriteInteger(name, 0);
        break;
      case vtInt16:
      case vtInt32:
      case vtByte:
      case vtBoolean:
        reg.WriteInteger(name, value.AsInteger());
        break;
      case vtSingle:
      case vtDouble:
      case vtDate:
        WriteEightBytes(reg, name, value.AsDouble());
        break;
      case vtCurrency:
        WriteEightBytes(reg, name, value.AsCurrency());
        break;
      case vtWideString:
      case vtString:
        reg.WriteString(name, value.AsString());
        break;
      default:
        break;
    }
    reg.CloseKey();
  } catch (...) {
    // Storing is best effort.
  }
}

void WriteRegIntegers(HKEY root, const std::string& key,
                      const std::vector<std::pair<std::string, std::int32_t>>& values) {
  try {
    TRegistry reg;
    SelectRoot(reg, root);
    if (!reg.OpenKey(key, true)) return;
    reg.WriteIntegers(values);
    reg.CloseKey();
  } catch (...) {
    // Storing is best effort.
  }
}

TVariant ReadRegValue(HKEY root, const std::string& key, const std::string& name,
                      const TVariant& def) {
  TVariant result = def;
  try {
    TRegistry reg;
    SelectRoot(reg, root);
    if (!reg.OpenKey(key, false)) return result;
    if (reg.ValueExists(name)) {
      switch (def.VarType()) {
        case vtNull:
          result = TVariant(reg.ReadInteger(name));
          break;
        case vtInt16:
        case vtInt32:
        case vtByte:
          result = IntegerAs(def.VarType(), reg.ReadInteger(name), def);
          break;
        case vtBoolean:
          result = TVariant(reg.ReadInteger(name) != 0);
          break;
        case vtSingle: {
          const double d = ReadEightBytes<double>(reg, name);
          // A finite double beyond the single range has no single value.
          if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) break;
          result = TVariant(static_cast<float>(d));
          break;
        }
        case vtDouble:
          result = TVariant(ReadEightBytes<double>(reg, name));
          break;
        case vtDate:
          result = TVariant::DateTime(ReadEightBytes<double>(reg, name));
          break;
        case vtCurrency:
          result = TVariant::Currency(ReadEightBytes<std::int64_t>(reg, name));
          break;
        case vtWideString:
          result = TVariant::WideString(reg.ReadString(name));
          break;
        case vtString:
          result = TVariant(reg.ReadString(name));
          break;
        default:
          break;
      }
    }
    reg.CloseKey();
  } catch (...) {
    // Any failure leaves the result as it stood.
  }
  return result;
}
