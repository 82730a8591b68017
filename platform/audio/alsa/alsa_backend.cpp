#include "platform/audio/alsa/alsa_backend.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

// A hint's value, freed.
std::string HintValue(const void* hint, const char* id) {
  char* value = snd_device_name_get_hint(hint, id);
  if (value == nullptr) return "";
  std::string text = value;
  std::free(value);
  return text;
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// Whether a PCM the configuration defines by a plain name is a device of
// its own: defined without arguments, not the null device and not a
// client of a sound server.
bool OwnDevicePcm(snd_config_t* top, const std::string& name) {
  snd_config_t* pcms = nullptr;
  snd_config_t* node = nullptr;
  if (snd_config_search(top, "pcm", &pcms) < 0 || snd_config_search(pcms, name.c_str(), &node) < 0)
    return false;
  snd_config_t* args = nullptr;
  if (snd_config_get_type(node) == SND_CONFIG_TYPE_COMPOUND &&
      snd_config_search(node, "@args", &args) == 0) {
    return false;
  }
  snd_config_t* definition = nullptr;
  if (snd_config_search_definition(top, "pcm", name.c_str(), &definition) < 0) return false;
  std::string type;
  snd_config_t* type_node = nullptr;
  const char* text = nullptr;
  if (snd_config_search(definition, "type", &type_node) == 0 &&
      snd_config_get_string(type_node, &text) == 0) {
    type = text;
  }
  snd_config_delete(definition);
  return !type.empty() && type != "null" && type != "pulse" && type != "jack" && type != "pipewire";
}

// Whether the PCM opens in this direction (a busy device does, in use).
// The configuration's own PCMs carry no direction in their hints: one that
// only records, or only plays (asym with one side, dsnoop, dmix), refuses the
// other.
bool Opens(const std::string& name, AudioDirection direction) {
  snd_pcm_t* pcm = nullptr;
  const int err = snd_pcm_open(
      &pcm, name.c_str(),
      direction == AudioDirection::kInput ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
      SND_PCM_NONBLOCK);
  if (err == 0) snd_pcm_close(pcm);
  return err == 0 || err == -EBUSY || err == -EAGAIN;
}

// "hw:CARD=PCH,DEV=3" -> "CARD=PCH,DEV=3"; empty for other names.
std::string HardwareDevice(const std::string& name) {
  const std::string prefix = "hw:";
  if (name.compare(0, prefix.size(), prefix) != 0) return "";
  return name.substr(prefix.size());
}

// ALSA's library prints its own failures on standard error; here they reach
// the user as the back-end's messages instead.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

AlsaAudioBackend::AlsaAudioBackend() {
  snd_lib_error_set_handler(Quiet);
}

AlsaAudioBackend::~AlsaAudioBackend() {
  StopWatching();
}

std::vector<AudioEndpoint> AlsaAudioBackend::Endpoints(AudioDirection direction) {
  std::vector<AudioEndpoint> endpoints;
  // The configuration read anew when its files changed.
  if (reread_.exchange(false)) snd_config_update_free_global();
  snd_config_t* top = nullptr;
  if (snd_config_update_ref(&top) < 0) return endpoints;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
    snd_config_unref(top);
    return endpoints;
  }
  const char* refused = direction == AudioDirection::kInput ? "Output" : "Input";
  bool has_default = false;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const std::string name = HintValue(*hint, "NAME");
    const std::string description = FirstLine(HintValue(*hint, "DESC"));
    if (name.empty() || HintValue(*hint, "IOID") == refused) continue;
    AudioEndpoint endpoint;
    endpoint.name = description.empty() ? name : description;
    if (const std::string device = HardwareDevice(name); !device.empty()) {
      endpoint.id = "plughw:" + device;
    } else if (name.find(':') == std::string::npos && OwnDevicePcm(top, name) &&
               Opens(name, direction)) {
      endpoint.id = "plug:" + name;
      endpoint.is_default = name == "default";
      has_default = has_default || endpoint.is_default;
    } else {
      continue;
    }
    endpoints.push_back(std::move(endpoint));
  }
  snd_device_name_free_hint(hints);
  snd_config_unref(top);
  if (!has_default && !endpoints.empty()) endpoints.front().is_default = true;
  return endpoints;
}

std::unique_ptr<AudioBackend> AlsaBackendWithDevices() {
  auto backend = std::make_unique<AlsaAudioBackend>();
  if (backend->Endpoints(AudioDirection::kInput).empty() &&
      backend->Endpoints(AudioDirection::kOutput).empty()) {
    return nullptr;
  }
  return backend;
}

}  // namespace platform
