// Sound device objects, device creation and enumeration.

#include "platform/dsound/dsound_device.h"

#include <cstring>
#include <vector>

#include "platform/dsound/standin.h"
#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_device.h"

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

namespace platform {

ULONG SoundObject::AddRef() {
  return ++references_;
}

ULONG SoundObject::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

bool SoundBufferFormat(const WAVEFORMATEX& f) {
  if (!IntegerPcmTag(f)) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nChannels < 1 || f.nChannels > 8) return false;
  if (f.nSamplesPerSec < DSBFREQUENCY_MIN || f.nSamplesPerSec > DSBFREQUENCY_MAX) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

namespace {

// 64-bit FNV-1a of the text, from a seed.
std::uint64_t Hash(const std::string& text, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

class DirectSoundDevice : public IDirectSound {
 public:
  explicit DirectSoundDevice(std::shared_ptr<SoundDevice> device) : device_(std::move(device)) {}

  HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer,
                            void* outer) override {
    if (outer != nullptr) return DSERR_NOAGGREGATION;
    if (desc == nullptr || buffer == nullptr || desc->dwSize < sizeof(DSBUFFERDESC)) {
      return DSERR_INVALIDPARAM;
    }
    {
      std::lock_guard<std::mutex> lock(device_->mutex);
      if (device_->level == 0) return DSERR_PRIOLEVELNEEDED;
    }
    if ((desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0) {
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr) return DSERR_INVALIDPARAM;
      *buffer = NewPrimaryBuffer(device_, desc->dwFlags);
      return DS_OK;
    }
    return CreateSecondaryBuffer(device_, *desc, buffer);
  }

  HRESULT GetCaps(LPDSCAPS caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    std::memset(caps, 0, sizeof(DSCAPS));
    caps->dwSize = sizeof(DSCAPS);
    caps->dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                    DSCAPS_PRIMARY16BIT | DSCAPS_CONTINUOUSRATE | DSCAPS_SECONDARYMONO |
                    DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT;
    caps->dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
    caps->dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
    caps->dwPrimaryBuffers = 1;
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->window = window;
    device_->level = level;
    return DS_OK;
  }

 private:
  const std::shared_ptr<SoundDevice> device_;
};

std::vector<AudioEndpoint> Outputs(const std::shared_ptr<AudioBackend>& backend) {
  return backend ? backend->Endpoints(AudioDirection::kOutput) : std::vector<AudioEndpoint>{};
}

}  // namespace

GUID OutputGuid(const std::string& endpoint_id) {
  const std::uint64_t high = Hash(endpoint_id, 0xCBF29CE484222325ull);
  const std::uint64_t low = Hash(endpoint_id, 0x84222325CBF29CE4ull);
  GUID guid;
  guid.Data1 = static_cast<std::uint32_t>(high >> 32);
  guid.Data2 = static_cast<std::uint16_t>(high >> 16);
  // Marked as a name-based identifier (version 5, variant 1).
  guid.Data3 = static_cast<std::uint16_t>((high & 0x0FFF) | 0x5000);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  guid.Data4[0] = static_cast<std::uint8_t>((guid.Data4[0] & 0x3F) | 0x80);
  return guid;
}

}  // namespace platform

namespace platform::standin {

HRESULT DirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer) {
  if (device == nullptr) return DSERR_INVALIDPARAM;
  *device = nullptr;
  if (outer != nullptr) return DSERR_NOAGGREGATION;
  std::shared_ptr<platform::AudioBackend> backend = platform::CurrentAudioBackend();
  std::vector<platform::AudioEndpoint> outputs = platform::Outputs(backend);
  const platform::AudioEndpoint* endpoint = nullptr;
  if (guid == nullptr) {
    endpoint = platform::ChooseEndpoint(outputs, WAVE_MAPPER);
  } else {
    for (const platform::AudioEndpoint& output : outputs) {
      if (platform::OutputGuid(output.id) == *guid) endpoint = &output;
    }
  }
  if (endpoint == nullptr) return DSERR_NODRIVER;
  auto shared = std::make_shared<platform::SoundDevice>();
  shared->backend = backend;
  shared->endpoint_id = endpoint->id;
  *device = new platform::DirectSoundDevice(std::move(shared));
  return DS_OK;
}

HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  if (callback == nullptr) return DSERR_INVALIDPARAM;
  std::vector<platform::AudioEndpoint> outputs = platform::Outputs(platform::CurrentAudioBackend());
  if (outputs.empty()) return DS_OK;
  if (!callback(nullptr, platform::kWaveOutMapperName, "", context)) return DS_OK;
  for (const platform::AudioEndpoint& output : outputs) {
    GUID guid = platform::OutputGuid(output.id);
    if (!callback(&guid, output.name.c_str(), output.id.c_str(), context)) break;
  }
  return DS_OK;
}

}  // namespace platform::standin
