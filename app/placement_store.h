#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/variant.h"
#include "platform/registry/registry_types.h"

// Single named values in the current user's registry, used to keep the main window's
// placement between runs. Neither routine ever lets an error out.
//
// A value is stored by its variant type: 16/32-bit integers, bytes and Booleans (0/1) as
// 32-bit integers; single, double and date-time as an 8-byte double in raw bytes;
// currency as its 8-byte scaled integer in raw bytes; both string types as text. A null
// variant is stored as the integer 0. Empty (and anything else) stores nothing.
//
// `root` selects one of the predefined root handles; any other number keeps the current
// user's root. `key` is relative to the root ("Quorvane\\Tessaline").

// Stores value under root\key\name, creating the key with its parents when needed; when
// the key cannot be opened nothing is stored.
void WriteRegValue(HKEY root, const std::string& key, const std::string& name,
                   const TVariant& value);

// Stores the named 32-bit integers under root\key as one record: another process that
// writes the same names at the same time leaves either all of these or all of its own.
// When the key cannot be opened or the store not written, nothing is stored.
void WriteRegIntegers(HKEY root, const std::string& key,
                      const std::vector<std::pair<std::string, std::int32_t>>& values);

// The stored value converted to the default's type, or `def` when the key or value is
// missing, is stored with another type, or does not fit the default's type. A null
// default reads an integer and yields it as a 32-bit integer. Reading never creates
// anything.
TVariant ReadRegValue(HKEY root, const std::string& key, const std::string& name,
                      const TVariant& def);
