#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class AudioDirection { kInput, kOutput };

// One device as a back-end reports it.
struct AudioEndpoint {
  std::string id;    // the back-end's own key for the device (stable while it exists)
  std::string name;  // display name, UTF-8
  bool is_default = false;
};

// The narrow interface every audio back-end implements. Enumeration answers a
// fresh query each time; the order is stable (the back-end's own device order).
// A back-end that cannot reach its devices reports an empty list; it never throws.
class AudioBackend {
 public:
  virtual ~AudioBackend() = default;

  // Short name of the back-end ("pulse", "virtual", "none").
  virtual std::string Name() const = 0;

  virtual std::vector<AudioEndpoint> Endpoints(AudioDirection direction) = 0;
};

// Creates the back-end a selection text names: "pulse", "virtual",
// "virtual:<device list>", "none", or "" for the automatic choice (pulse when a
// server answers, else none). Returns nullptr and sets *reason when the back-end
// is not available or the text is not understood.
std::unique_ptr<AudioBackend> CreateAudioBackend(const std::string& spec, std::string* reason);

// The back-end of this process. Chosen on first use from TESSALINE_AUDIO
// (automatic when unset); nullptr means no devices. Thread-safe; the returned
// pointer stays usable even if another thread selects a different back-end.
std::shared_ptr<AudioBackend> CurrentAudioBackend();

// Replaces the process's back-end (for tests and tools). On failure the process
// has no back-end (no devices), false is returned and *reason tells why.
bool SelectAudioBackend(const std::string& spec, std::string* reason = nullptr);

}  // namespace platform
