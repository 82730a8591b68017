#include "platform/resources/resources.h"

#include <algorithm>
#include <cctype>
#include <list>
#include <mutex>

namespace platform {
namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// A list keeps entry addresses stable, so handles stay valid while others are added.
struct Registry {
  std::mutex Lock;
  std::list<ResourceEntry> Entries;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterResource(const std::string& name, const std::string& type, const void* data,
                      std::size_t size) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string n = Upper(name), t = Upper(type);
  for (ResourceEntry& e : r.Entries) {
    if (e.Name == n && e.Type == t) {
      e.Data = static_cast<const std::uint8_t*>(data);
      e.Size = size;
      return;
    }
  }
  r.Entries.push_back({n, t, static_cast<const std::uint8_t*>(data), size});
}

bool UnregisterResource(const std::string& name, const std::string& type) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string n = Upper(name), t = Upper(type);
  const auto before = r.Entries.size();
  r.Entries.remove_if([&](const ResourceEntry& e) { return e.Name == n && e.Type == t; });
  return r.Entries.size() != before;
}

}  // namespace platform

HRSRC FindResourceA(HMODULE, const char* name, const char* type) {
  if (name == nullptr || type == nullptr) return nullptr;
  platform::Registry& r = platform::TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string n = platform::Upper(name), t = platform::Upper(type);
  for (const platform::ResourceEntry& e : r.Entries) {
    if (e.Name == n && e.Type == t) return &e;
  }
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr || resource->Data == nullptr) return nullptr;
  return const_cast<std::uint8_t*>(resource->Data);
}

const void* LockResource(HGLOBAL loaded) {
  return loaded;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource == nullptr ? 0 : static_cast<DWORD>(resource->Size);
}

bool FreeResource(HGLOBAL) {
  return false;
}
