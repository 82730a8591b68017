#include "files/file_type_registry.h"

#include <algorithm>

#include "files/wave_file.h"

void TMMFileTypeRegistry::Register(const TMMFileTypeClass& type, std::int32_t order) {
  const std::string name = type.ClassName();
  for (const TRegisterRec& e : entries_) {
    if (e.Class->ClassName() == name) return;
  }
  const auto behind =
      std::upper_bound(entries_.begin(), entries_.end(), order,
                       [](std::int32_t o, const TRegisterRec& e) { return o < e.Order; });
  entries_.insert(behind, TRegisterRec{&type, order});
}

const TMMFileTypeClass* TMMFileTypeRegistry::Find(TMMAudioFileType kind) const {
  for (const TRegisterRec& e : entries_) {
    if (e.Class->FileType() == kind) return e.Class;
  }
  return nullptr;
}

std::string TMMFileTypeRegistry::BuildFilter(bool withAll) const {
  std::string joined;
  for (const TRegisterRec& e : entries_) {
    if (!joined.empty()) joined += '|';
    joined += e.Class->GetFilter();
  }
  if (!withAll || entries_.size() < 2) return joined;
  // The pattern fields are every second field, starting with the second.
  std::string patterns;
  std::size_t start = 0;
  for (int field = 0; start <= joined.size(); ++field) {
    std::size_t bar = joined.find('|', start);
    if (bar == std::string::npos) bar = joined.size();
    const std::string text = joined.substr(start, bar - start);
    if (field % 2 == 1 && !text.empty() && patterns.find(text) == std::string::npos) {
      if (!patterns.empty()) patterns += ';';
      patterns += text;
    }
    start = bar + 1;
  }
  return "All Audio Files (" + patterns + ")|" + patterns + "|" + joined;
}

TMMFileTypeRegistry& FileTypeRegistry() {
  static TMMFileTypeRegistry registry = [] {
    TMMFileTypeRegistry r;
    r.Register(FileTypeClass<TMMWaveFile>(), kMMWaveFileOrder);
    return r;
  }();
  return registry;
}

void RegisterFileType(const TMMFileTypeClass& type, std::int32_t order) {
  FileTypeRegistry().Register(type, order);
}

const TMMFileTypeClass* FindFileType(TMMAudioFileType kind) {
  return FileTypeRegistry().Find(kind);
}

std::string BuildFilter(bool withAll) {
  return FileTypeRegistry().BuildFilter(withAll);
}
