#include "platform/audio/audio_backend.h"

#include <cstdlib>
#include <mutex>

#include "platform/audio/system_backend.h"
#include "platform/audio/virtual/virtual_backend.h"

namespace platform {
namespace {

// "none": a machine without audio devices.
class NoAudioBackend : public AudioBackend {
 public:
  std::string Name() const override { return "none"; }
  std::vector<AudioEndpoint> Endpoints(AudioDirection) override { return {}; }
  std::unique_ptr<CaptureStream> OpenCapture(const std::string&, const PcmFormat&, std::size_t,
                                             CaptureCallbacks, std::string* reason) override {
    if (reason) *reason = "no audio devices";
    return nullptr;
  }
  std::unique_ptr<PlaybackStream> OpenPlayback(const std::string&, const PcmFormat&,
                                               const PlaybackOptions&, PlaybackCallbacks,
                                               std::string* reason) override {
    if (reason) *reason = "no audio devices";
    return nullptr;
  }
};

std::mutex current_mutex;
std::shared_ptr<AudioBackend> current;
bool current_chosen = false;
std::string current_problem;  // why the named back-end could not be had
std::string current_absence;  // why the automatic choice found no system back-end

}  // namespace

std::unique_ptr<AudioBackend> CreateAudioBackend(const std::string& selection,
                                                 std::string* reason) {
  if (selection.empty()) {
    // Automatic: the system's back-end when it answers, else the fallback
    // where it has devices (ALSA on a machine without a sound server), else
    // no devices.
    std::unique_ptr<AudioBackend> system = ConnectSystemAudioBackend(nullptr);
    if (system) return system;
    if (std::unique_ptr<AudioBackend> fallback = FallbackSystemAudioBackend()) return fallback;
    return std::make_unique<NoAudioBackend>();
  }
  if (selection == "none") return std::make_unique<NoAudioBackend>();
  if (selection == SystemAudioBackendName()) return ConnectSystemAudioBackend(reason);
  if (std::unique_ptr<AudioBackend> other;
      CreateOtherSystemAudioBackend(selection, &other, reason)) {
    return other;
  }
  if (selection == "virtual") return std::make_unique<VirtualAudioBackend>(DemoVirtualDeviceSet());
  const std::string prefix = "virtual:";
  if (selection.compare(0, prefix.size(), prefix) == 0) {
    std::optional<VirtualDeviceSet> devices =
        ParseVirtualDeviceList(selection.substr(prefix.size()), reason);
    if (!devices) return nullptr;
    return std::make_unique<VirtualAudioBackend>(std::move(*devices));
  }
  if (reason) *reason = "unknown audio back-end \"" + selection + "\"";
  return nullptr;
}

std::shared_ptr<AudioBackend> CurrentAudioBackend() {
  std::lock_guard<std::mutex> lock(current_mutex);
  if (!current_chosen) {
    const char* selection = std::getenv("TESSALINE_AUDIO");
    std::string reason;
    if (selection == nullptr || *selection == '\0') {
      // Automatic: as CreateAudioBackend(""), keeping why the system's
      // back-end did not answer.
      current = ConnectSystemAudioBackend(&current_absence);
      if (!current) current = FallbackSystemAudioBackend();
      if (!current) current = CreateAudioBackend("none", &reason);
    } else {
      current = CreateAudioBackend(selection, &reason);
    }
    if (!current)
      current_problem =
          "TESSALINE_AUDIO=\"" + std::string(selection ? selection : "") + "\": " + reason;
    current_chosen = true;
  }
  return current;
}

std::string AudioBackendProblem() {
  CurrentAudioBackend();
  std::lock_guard<std::mutex> lock(current_mutex);
  return current_problem;
}

std::string AudioBackendAbsence() {
  CurrentAudioBackend();
  std::lock_guard<std::mutex> lock(current_mutex);
  return current ? (current->Name() == "none" ? current_absence : std::string()) : std::string();
}

bool SelectAudioBackend(const std::string& selection, std::string* reason) {
  // Created outside the lock: connecting to a server may take a while.
  std::shared_ptr<AudioBackend> backend = CreateAudioBackend(selection, reason);
  std::lock_guard<std::mutex> lock(current_mutex);
  current = backend;
  current_chosen = true;
  current_problem.clear();
  current_absence.clear();
  return backend != nullptr;
}

void UseAudioBackend(std::shared_ptr<AudioBackend> backend) {
  std::lock_guard<std::mutex> lock(current_mutex);
  current = std::move(backend);
  current_chosen = true;
  current_problem.clear();
  current_absence.clear();
}

}  // namespace platform
