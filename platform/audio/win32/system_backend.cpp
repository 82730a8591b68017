#include "platform/audio/system_backend.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/wave/win32/system_wave_calls.h"

namespace platform {
namespace {

// Windows' own devices. The wave and sound-buffer calls reach them directly
// (platform/wave/win32, platform/dsound/win32); the back-end only lists them,
// as the wave catalogue does, the default (the wave mapper) first.
class WindowsAudioBackend : public AudioBackend {
 public:
  std::string Name() const override { return SystemAudioBackendName(); }

  std::vector<AudioEndpoint> Endpoints(AudioDirection direction) override {
    std::vector<AudioEndpoint> endpoints;
    const bool input = direction == AudioDirection::kInput;
    const UINT count = input ? system_wave::waveInGetNumDevs() : system_wave::waveOutGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
      WAVEINCAPSA in{};
      WAVEOUTCAPSA out{};
      const MMRESULT r = input ? system_wave::waveInGetDevCapsA(i, &in, sizeof in)
                               : system_wave::waveOutGetDevCapsA(i, &out, sizeof out);
      if (r != MMSYSERR_NOERROR) continue;
      const char* name = input ? in.szPname : out.szPname;
      endpoints.push_back(
          {std::to_string(i), std::string(name, strnlen(name, MAXPNAMELEN)), i == 0});
    }
    return endpoints;
  }

  std::unique_ptr<CaptureStream> OpenCapture(const std::string&, const PcmFormat&, std::size_t,
                                             CaptureCallbacks, std::string* reason) override {
    if (reason) *reason = kDirect;
    return nullptr;
  }

  std::unique_ptr<PlaybackStream> OpenPlayback(const std::string&, const PcmFormat&,
                                               const PlaybackOptions&, PlaybackCallbacks,
                                               std::string* reason) override {
    if (reason) *reason = kDirect;
    return nullptr;
  }

 private:
  static constexpr char kDirect[] =
      "the system's devices are opened through its wave and sound-buffer services";
};

}  // namespace

const char* SystemAudioBackendName() {
  return "windows";
}

std::unique_ptr<AudioBackend> ConnectSystemAudioBackend(std::string*) {
  return std::make_unique<WindowsAudioBackend>();
}

bool CreateOtherSystemAudioBackend(const std::string&, std::unique_ptr<AudioBackend>*,
                                   std::string*) {
  return false;
}

std::unique_ptr<AudioBackend> FallbackSystemAudioBackend() {
  return nullptr;
}

bool UsesSystemAudio() {
  const std::shared_ptr<AudioBackend> backend = CurrentAudioBackend();
  return backend && backend->Name() == SystemAudioBackendName();
}

}  // namespace platform
