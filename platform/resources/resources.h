#pragma once

// Program resources: blocks of data compiled into the program and found by name and type,
// with the usual find/load/lock/size calls. Names and types compare without regard to
// letter case. Data is registered by static ResourceRegistration objects (for example in a
// generated .cpp that holds the bytes); the bytes must stay valid for the program's life.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/wave/wave_types.h"

namespace platform {
struct ResourceEntry;
}

using HMODULE = void*;
using HRSRC = const platform::ResourceEntry*;
using HGLOBAL = void*;

// The resource `name` of `type` in the program, or null. `module` is ignored (one program).
HRSRC FindResourceA(HMODULE module, const char* name, const char* type);
// A handle to the resource's bytes; null for no resource.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The first byte of a loaded resource (read-only memory).
const void* LockResource(HGLOBAL loaded);
// Size in bytes; 0 for no resource.
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Resources live as long as the program: nothing to release. Returns false (success).
bool FreeResource(HGLOBAL loaded);

namespace platform {

struct ResourceEntry {
  std::string Name;
  std::string Type;
  const std::uint8_t* Data;
  std::size_t Size;
};

// Adds (or replaces) the resource `name` of `type`.
void RegisterResource(const std::string& name, const std::string& type, const void* data,
                      std::size_t size);
// Removes a resource; true when it existed.
bool UnregisterResource(const std::string& name, const std::string& type);

// Registers a resource when constructed, so a static object compiles data in.
class ResourceRegistration {
 public:
  ResourceRegistration(const char* name, const char* type, const void* data, std::size_t size) {
    RegisterResource(name, type, data, size);
  }
};

}  // namespace platform
