#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry/registry_path.h"
#include "platform/registry/registry_types.h"

// The per-user file behind TRegistry: an in-memory tree of keys and typed values, its
// text form, and loading and atomic saving of the file.
//
// The file is $XDG_CONFIG_HOME/tessaline/registry (XDG_CONFIG_HOME defaulting to
// ~/.config), UTF-8 text:
//
//   tessaline registry 1
//
//   [HKEY_CURRENT_USER "Quorvane" "Tessaline"]
//   "top" = dword:129
//   "title" = sz:"two\nlines with \"quotes\" and \\"
//   "blob" = binary:00ff7f
//
// The first line is fixed. A key line names the root and each path segment as a quoted
// string; the value lines below it belong to that key. Quoted strings escape '"', '\\',
// line feed (\n), carriage return (\r), tab (\t) and every other control byte or byte that
// is not part of valid UTF-8 as \xHH; other text stays as it is. dword values are signed
// decimal; binary data is lower-case hex. Blank lines are allowed between lines. Anything
// else, including a duplicate key or value name, makes the whole file damaged.
namespace platform {

struct RegistryValue {
  std::string name;  // as first written
  std::uint32_t type = REG_NONE;
  std::string data;  // REG_SZ: the text; REG_BINARY: the bytes; REG_DWORD: 4 bytes LE
};

struct RegistryKey {
  HKEY root = HKEY_CURRENT_USER;
  std::vector<std::string> path;                // segments as first written
  std::map<std::string, RegistryValue> values;  // by case-folded name
};

// Key and value names compare without regard to ASCII letter case.
std::string FoldRegistryName(const std::string& name);

// Name of a predefined root ("HKEY_CURRENT_USER"); empty for other handles.
const char* RegistryRootName(HKEY root);

class RegistryStore {
 public:
  // The key, or null when it does not exist. The root itself (no segments) always
  // exists; it is returned as null too unless values were stored in it (see Exists).
  RegistryKey* Find(HKEY root, const std::vector<std::string>& path);
  bool Exists(HKEY root, const std::vector<std::string>& path) const;
  // The key, created with any missing parents.
  RegistryKey& Create(HKEY root, const std::vector<std::string>& path);

  std::string Serialize() const;
  // Replaces the content with the parsed text; false (and an empty store) when the text
  // is not exactly in the file format.
  bool Parse(const std::string& text);

  bool Empty() const { return keys_.empty(); }

 private:
  std::map<std::string, RegistryKey> keys_;  // by folded "ROOT\seg\seg"
};

enum class RegistryFileState {
  Missing,     // no file (or no folder): an empty store
  Ok,          // parsed
  Damaged,     // exists but does not parse: read as empty, backed up before a write
  Unreadable,  // exists but cannot be read, or is no regular file (a FIFO, a device, a
               // folder): read as empty, never written over
};

struct RegistryFile {
  std::string path;  // empty when no configuration folder can be determined
  RegistryFileState state = RegistryFileState::Missing;
  std::string raw;  // the file's bytes as read
  RegistryStore store;
};

// Path of the store file, from the environment at the time of the call.
std::string RegistryFilePath();

// Reads the store file; never fails (see RegistryFileState), never blocks and never
// creates anything.
RegistryFile LoadRegistryFile();

// Writes `store` over the file that `loaded` was read from: creates the folder when
// missing, keeps a copy of a damaged file beside it first (registry.damaged, or
// registry.damaged.N when copies exist already; never overwriting one), then writes a
// temporary file in the same folder, syncs it and renames it over the old file, whose
// permissions it takes. A store that is a symbolic link is written at the link's target.
// False on any failure, leaving the old file untouched; a read-only store file is such a
// failure.
bool SaveRegistryFile(const RegistryFile& loaded, const RegistryStore& store);

}  // namespace platform
