#pragma once

// The registry of file types an audio file probes, in ascending order numbers (a type
// registered with the order of an existing one goes behind it). Each class is registered
// once; a second registration of the same class name is ignored. Registrations happen on
// the GUI thread.

#include <cstdint>
#include <string>
#include <vector>

#include "files/custom_file.h"

// Order numbers of the standard types: MPEG audio and CD audio come before wave. Only the
// wave type is built; the others keep their places free.
inline constexpr std::int32_t kMMMpegFileOrder = 1;
inline constexpr std::int32_t kMMCDAFileOrder = 4;
inline constexpr std::int32_t kMMWaveFileOrder = 5;

struct TRegisterRec {
  const TMMFileTypeClass* Class;
  std::int32_t Order;
};

class TMMFileTypeRegistry {
 public:
  void Register(const TMMFileTypeClass& type, std::int32_t order);
  // The first registered class of that kind, or none.
  const TMMFileTypeClass* Find(TMMAudioFileType kind) const;
  // The filters of all classes in order, joined by "|"; with withAll and more than one
  // class, led by "All Audio Files (patterns)|patterns|".
  std::string BuildFilter(bool withAll) const;
  const std::vector<TRegisterRec>& Entries() const { return entries_; }

 private:
  std::vector<TRegisterRec> entries_;
};

// The process's registry, holding the start-up registrations (the wave type).
TMMFileTypeRegistry& FileTypeRegistry();

void RegisterFileType(const TMMFileTypeClass& type, std::int32_t order);
const TMMFileTypeClass* FindFileType(TMMAudioFileType kind);
std::string BuildFilter(bool withAll);
