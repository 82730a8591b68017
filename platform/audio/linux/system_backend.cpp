#include "platform/audio/system_backend.h"

#include "platform/audio/alsa/alsa_backend.h"
#include "platform/audio/pulse/pulse_backend.h"

namespace platform {

const char* SystemAudioBackendName() {
  return "pulse";
}

std::unique_ptr<AudioBackend> ConnectSystemAudioBackend(std::string* reason) {
  return PulseAudioBackend::Connect(reason);
}

bool CreateOtherSystemAudioBackend(const std::string& name, std::unique_ptr<AudioBackend>* backend,
                                   std::string*) {
  if (name != "alsa") return false;
  // Named, it is had also without devices: the lists are then empty.
  *backend = std::make_unique<AlsaAudioBackend>();
  return true;
}

std::unique_ptr<AudioBackend> FallbackSystemAudioBackend() {
  return AlsaBackendWithDevices();
}

}  // namespace platform
