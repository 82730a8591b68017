#include "platform/wave/wave_caps.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/wave/standin.h"
#include "platform/wave/text_cut.h"

namespace platform {

void CopyUtf8Field(const char* name, CHAR* field, size_t size) {
  if (size == 0) return;
  const size_t length = name ? CharacterCut(name, std::strlen(name), size - 1) : 0;
  if (length > 0) std::memcpy(field, name, length);
  std::memset(field + length, 0, size - length);
}

namespace {

std::vector<AudioEndpoint> Enumerate(AudioDirection direction) {
  std::shared_ptr<AudioBackend> backend = CurrentAudioBackend();
  if (!backend) return {};
  return backend->Endpoints(direction);
}

bool IsMapper(UINT_PTR id) {
  return id == static_cast<UINT_PTR>(WAVE_MAPPER) || id == static_cast<UINT_PTR>(-1);
}

// Name of device `id`, or false when there is no such device.
bool DeviceName(AudioDirection direction, UINT_PTR id, std::string* name) {
  std::vector<AudioEndpoint> endpoints = Enumerate(direction);
  if (IsMapper(id)) {
    if (endpoints.empty()) return false;
    *name = direction == AudioDirection::kInput ? kWaveInMapperName : kWaveOutMapperName;
    return true;
  }
  if (id >= endpoints.size()) return false;
  *name = endpoints[id].name;
  return true;
}

// Fills the fields the input and output records share.
template <typename Caps>
MMRESULT FillCaps(AudioDirection direction, UINT_PTR id, Caps* caps, UINT size) {
  if (caps == nullptr || size < sizeof(Caps)) return MMSYSERR_INVALPARAM;
  std::string name;
  if (!DeviceName(direction, id, &name)) return MMSYSERR_BADDEVICEID;
  std::memset(caps, 0, sizeof(Caps));
  caps->wMid = 0;
  caps->wPid = 0;
  caps->vDriverVersion = kWaveDriverVersion;
  CopyUtf8Field(name.c_str(), caps->szPname, sizeof(caps->szPname));
  caps->dwFormats = kAllStandardWaveFormats;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

}  // namespace
}  // namespace platform

namespace platform::standin {

UINT waveInGetNumDevs() {
  return static_cast<UINT>(platform::Enumerate(platform::AudioDirection::kInput).size());
}

UINT waveOutGetNumDevs() {
  return static_cast<UINT>(platform::Enumerate(platform::AudioDirection::kOutput).size());
}

MMRESULT waveInGetDevCapsA(UINT_PTR id, WAVEINCAPSA* caps, UINT size) {
  return platform::FillCaps(platform::AudioDirection::kInput, id, caps, size);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR id, WAVEOUTCAPSA* caps, UINT size) {
  MMRESULT result = platform::FillCaps(platform::AudioDirection::kOutput, id, caps, size);
  // No optional output functions (volume, pitch, rate) are offered.
  if (result == MMSYSERR_NOERROR) caps->dwSupport = 0;
  return result;
}

}  // namespace platform::standin
