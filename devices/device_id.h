#pragma once

#include <cstdint>
#include <string>

// A wave device number as the platform counts its devices of one direction.
using TMMDeviceId = std::int32_t;

// The platform's wave mapper: the choice of any suitable (the default) device.
inline constexpr TMMDeviceId MapperId = -1;
// No usable device.
inline constexpr TMMDeviceId InvalidId = -2;

// Names of the special identifiers as stored in layouts: -2 gives "InvalidId",
// -1 "MapperId"; every other value has no name (false).
bool DeviceIdToIdent(TMMDeviceId id, std::string& ident);

// "InvalidId" and "MapperId" in any letter case; anything else has no name
// (false) and is read as a number by the caller.
bool IdentToDeviceId(const std::string& ident, TMMDeviceId& id);
