#pragma once

// The system's own audio back-end: the sound server on Linux (pulse/), the
// operating system's services on Windows (win32/).

#include <memory>
#include <string>

#include "platform/audio/audio_backend.h"

namespace platform {

// Its selection name: "pulse" on Linux, "windows" on Windows.
const char* SystemAudioBackendName();
// Connects to it; nullptr (and *reason, when given) when it does not answer.
std::unique_ptr<AudioBackend> ConnectSystemAudioBackend(std::string* reason);

}  // namespace platform
