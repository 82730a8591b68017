#pragma once

// The system's own audio back-end: the sound server on Linux (pulse/, and
// alsa/ where no server answers), the operating system's services on Windows
// (win32/).

#include <memory>
#include <string>

#include "platform/audio/audio_backend.h"

namespace platform {

// Its selection name: "pulse" on Linux, "windows" on Windows.
const char* SystemAudioBackendName();
// Connects to it; nullptr (and *reason, when given) when it does not answer.
std::unique_ptr<AudioBackend> ConnectSystemAudioBackend(std::string* reason);

// The system's other back-ends, by selection name ("alsa" on Linux, none on
// Windows): false when the name is not one of them; else *backend is the
// back-end, or nullptr with *reason when it cannot be had.
bool CreateOtherSystemAudioBackend(const std::string& name, std::unique_ptr<AudioBackend>* backend,
                                   std::string* reason);
// The automatic choice where the system's own back-end does not answer
// (ALSA when it lists devices, on Linux); nullptr for none.
std::unique_ptr<AudioBackend> FallbackSystemAudioBackend();

}  // namespace platform
