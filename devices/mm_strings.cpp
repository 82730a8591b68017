#include "devices/mm_strings.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
  int id;
  const char* text;
};

// Sorted by id.
constexpr Entry kStrings[] = {
    {kMMWaveFileFilter, "Wave Files(*.wav)|*.wav"},
    {kMMChangeWhileOpen, "Change to property while device was open"},
    {kMMErrorReadingWaveFile, "Error reading wave file"},
    {kMMCannotWriteMemoryWave, "Can't write to MemoryWave"},
    {kMMInvalidWaveFile, "Invalid wave file..."},
    {kMMCannotSetupFileBuffer, "Unable to setup file IO buffer"},
    {kMMCannotOpenWaveFile, "Unable to open wave file"},
    {kMMCannotCreateWaveFile, "Unable to create wave file"},
    {kMMErrorSeekingFile, "Error seeking file position"},
    {kMMNoWaveInDevice, "No wave audio recording device found"},
    {kMMNoWaveOutDevice, "No wave audio playing device found"},
    {kMMInvalidDeviceId, "Invalid DeviceID"},
    {kMMUnknownErrorNumber, "Specified error number is out of range (unknown error)"},
    {kMMInvalidWaveFormat, "Invalid wave format"},
    {kMMCannotRecordFormat, "The actual device can''t record this format"},
    {kMMCannotPlayFormat, "The actual device can''t play this format"},
    {kMMCannotOpenDevice, "Unable to open device"},
    {kMMCannotCloseDevice, "Unable to close device"},
    {kMMCannotStartDevice, "Unable to start device"},
    {kMMCannotAllocateHeader, "Unable to allocate memory for wave header"},
    {kMMErrorFillingBuffer, "Error filling wave buffer"},
    {kMMCannotCreateThread, "Could not create thread"},
};

constexpr bool SortedById() {
  for (size_t i = 1; i < std::size(kStrings); ++i) {
    if (kStrings[i - 1].id >= kStrings[i].id) return false;
  }
  return true;
}
static_assert(SortedById(), "message table must be sorted by id without duplicates");

}  // namespace

std::string LoadMMString(int id) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                             [](const Entry& entry, int key) { return entry.id < key; });
  if (it == std::end(kStrings) || it->id != id) return std::string();
  return it->text;
}
