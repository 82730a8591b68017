#include "platform/audio/system_backend.h"

#include "platform/audio/pulse/pulse_backend.h"

namespace platform {

const char* SystemAudioBackendName() {
  return "pulse";
}

std::unique_ptr<AudioBackend> ConnectSystemAudioBackend(std::string* reason) {
  return PulseAudioBackend::Connect(reason);
}

}  // namespace platform
