#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"

namespace platform {

// A virtual input: silence, or a sine of one frequency with its own level on
// each channel (dBFS of the peak; 0 dBFS is a full-scale sine).
struct VirtualInput {
  std::string name;
  bool has_tone = false;
  double frequency_hz = 0;
  double left_dbfs = 0;
  double right_dbfs = 0;
};

struct VirtualOutput {
  std::string name;
};

struct VirtualDeviceSet {
  std::vector<VirtualInput> inputs;
  std::vector<VirtualOutput> outputs;
};

// Reads the device list after "virtual:":  in=<input>|<input>...;out=<output>|...
//   - an input is "Name" (silence) or "Name@<Hz>:<left dBFS>:<right dBFS>";
//   - the suffix counts only in exactly that form: Hz a plain decimal number
//     above 0, levels plain decimal numbers (optional sign) not above 0, and a
//     non-empty name before the last '@'; otherwise the whole entry is the name,
//     so "Mic @ home" or "Mic@440:loud:-6" are names;
//   - names are taken verbatim (spaces, commas, any UTF-8); '|' and ';' separate
//     and cannot be part of a name; empty entries are skipped;
//   - a missing part gives no devices of that direction.
// A part that is neither "in=" nor "out=", or a part given twice, makes the
// list malformed: nothing is returned and *reason says why.
std::optional<VirtualDeviceSet> ParseVirtualDeviceList(const std::string& list,
                                                       std::string* reason);

// Reads one input entry by the rule above.
VirtualInput ParseVirtualInput(const std::string& entry);

// The set that "virtual" alone gives: three inputs with different sine levels
// and two outputs.
VirtualDeviceSet DemoVirtualDeviceSet();

// Deterministic devices: the first device of each direction is the default.
class VirtualAudioBackend : public AudioBackend {
 public:
  explicit VirtualAudioBackend(VirtualDeviceSet devices);

  std::string Name() const override { return "virtual"; }
  std::vector<AudioEndpoint> Endpoints(AudioDirection direction) override;

  const VirtualDeviceSet& Devices() const { return devices_; }

 private:
  VirtualDeviceSet devices_;
};

}  // namespace platform
