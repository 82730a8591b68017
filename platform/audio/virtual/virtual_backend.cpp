#include "platform/audio/virtual/virtual_backend.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "platform/audio/virtual/virtual_stream.h"

namespace platform {
namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A plain decimal number: [sign] digits [. digits]. No exponent, no inf/nan.
bool ParseDecimal(std::string_view text, bool allow_sign, double* value) {
  size_t i = 0;
  if (allow_sign && i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (digits == 0) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    size_t fraction = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++fraction;
    if (fraction == 0) return false;
  }
  if (i != text.size()) return false;
  // from_chars does not take a leading '+'.
  std::string_view number = text[0] == '+' ? text.substr(1) : text;
  double parsed = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), parsed);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size()) return false;
  if (!std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

}  // namespace

VirtualInput ParseVirtualInput(const std::string& entry) {
  VirtualInput input;
  input.name = entry;
  size_t at = entry.rfind('@');
  if (at == std::string::npos || at == 0) return input;
  std::vector<std::string> fields = Split(std::string_view(entry).substr(at + 1), ':');
  if (fields.size() != 3) return input;
  double hz = 0, left = 0, right = 0;
  if (!ParseDecimal(fields[0], false, &hz) || !ParseDecimal(fields[1], true, &left) ||
      !ParseDecimal(fields[2], true, &right)) {
    return input;
  }
  if (hz <= 0 || left > 0 || right > 0) return input;
  input.name = entry.substr(0, at);
  input.has_tone = true;
  input.frequency_hz = hz;
  input.left_dbfs = left;
  input.right_dbfs = right;
  return input;
}

std::optional<VirtualDeviceSet> ParseVirtualDeviceList(const std::string& list,
                                                       std::string* reason) {
  VirtualDeviceSet set;
  bool seen_in = false, seen_out = false;
  for (const std::string& part : Split(list, ';')) {
    if (part.empty()) continue;
    bool is_in = part.rfind("in=", 0) == 0;
    bool is_out = part.rfind("out=", 0) == 0;
    if (!is_in && !is_out) {
      if (reason) *reason = "virtual device list: unknown part \"" + part + "\"";
      return std::nullopt;
    }
    bool& seen = is_in ? seen_in : seen_out;
    if (seen) {
      if (reason) *reason = "virtual device list: part given twice: \"" + part + "\"";
      return std::nullopt;
    }
    seen = true;
    std::string_view entries = std::string_view(part).substr(is_in ? 3 : 4);
    for (const std::string& entry : Split(entries, '|')) {
      if (entry.empty()) continue;
      if (is_in) {
        set.inputs.push_back(ParseVirtualInput(entry));
      } else {
        set.outputs.push_back(VirtualOutput{entry});
      }
    }
  }
  return set;
}

VirtualDeviceSet DemoVirtualDeviceSet() {
  VirtualDeviceSet set;
  set.inputs.push_back({"Virtual Microphone", true, 440, -6, -6});
  set.inputs.push_back({"Virtual Line In", true, 1000, -12, -20});
  set.inputs.push_back({"Virtual Headset Microphone", true, 250, -30, -3});
  set.outputs.push_back({"Virtual Speakers"});
  set.outputs.push_back({"Virtual Headphones"});
  return set;
}

VirtualAudioBackend::VirtualAudioBackend(VirtualDeviceSet devices)
    : devices_(std::move(devices)),
      removed_inputs_(devices_.inputs.size(), false),
      removed_outputs_(devices_.outputs.size(), false) {
  for (std::size_t i = 0; i < devices_.outputs.size(); ++i) {
    records_.push_back(std::make_shared<OutputRecord>());
    removed_outputs_[i] = !devices_.outputs[i].plugged;
  }
}

VirtualAudioBackend::~VirtualAudioBackend() = default;

std::vector<AudioEndpoint> VirtualAudioBackend::Endpoints(AudioDirection direction) {
  const bool input = direction == AudioDirection::kInput;
  const std::vector<bool>& removed = input ? removed_inputs_ : removed_outputs_;
  const std::size_t count = input ? devices_.inputs.size() : devices_.outputs.size();
  std::vector<AudioEndpoint> endpoints;
  std::lock_guard<std::mutex> lock(removed_mutex_);
  for (std::size_t i = 0; i < count; ++i) {
    if (removed[i]) continue;
    const std::string& name = input ? devices_.inputs[i].name : devices_.outputs[i].name;
    endpoints.push_back({(input ? "in:" : "out:") + std::to_string(i), name, endpoints.empty()});
  }
  return endpoints;
}

void VirtualAudioBackend::RemoveInput(const std::string& endpoint_id) {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "in:", devices_.inputs.size());
  if (index == devices_.inputs.size()) return;
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    removed_inputs_[index] = true;
  }
  MarkLost(endpoint_id);
  watcher_.Notify();
}

void VirtualAudioBackend::RemoveOutput(const std::string& endpoint_id) {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", devices_.outputs.size());
  if (index == devices_.outputs.size()) return;
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    removed_outputs_[index] = true;
  }
  MarkLost(endpoint_id);
  watcher_.Notify();
}

void VirtualAudioBackend::PlugOutput(const std::string& endpoint_id) {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", devices_.outputs.size());
  if (index == devices_.outputs.size()) return;
  {
    std::lock_guard<std::mutex> lock(removed_mutex_);
    removed_outputs_[index] = false;
  }
  watcher_.Notify();
}

void VirtualAudioBackend::MarkLost(const std::string& endpoint_id) {
  std::lock_guard<std::mutex> lock(ClockState().mutex);
  for (VirtualStream* stream : ClockState().streams) {
    if (stream->On(this, endpoint_id)) stream->MarkLost();
  }
}

std::vector<std::uint8_t> VirtualAudioBackend::Played(const std::string& endpoint_id) const {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", records_.size());
  if (index == records_.size()) return {};
  std::lock_guard<std::mutex> lock(ClockState().mutex);
  return records_[index]->bytes;
}

std::vector<ChannelPosition> VirtualAudioBackend::OpenedChannelMap(
    const std::string& endpoint_id) const {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", records_.size());
  if (index == records_.size()) return {};
  std::lock_guard<std::mutex> lock(ClockState().mutex);
  return records_[index]->channel_map;
}

void VirtualAudioBackend::SetOutputLatency(const std::string& endpoint_id,
                                           std::chrono::milliseconds latency) {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", records_.size());
  if (index == records_.size()) return;
  records_[index]->latency_ms =
      static_cast<std::uint64_t>(std::max<std::int64_t>(0, latency.count()));
}

std::size_t VirtualAudioBackend::Heard(const std::string& endpoint_id) const {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", records_.size());
  if (index == records_.size()) return 0;
  std::lock_guard<std::mutex> lock(ClockState().mutex);
  return static_cast<std::size_t>(records_[index]->heard);
}

void VirtualAudioBackend::ClearPlayed(const std::string& endpoint_id) {
  std::size_t index = VirtualEndpointIndex(endpoint_id, "out:", records_.size());
  if (index == records_.size()) return;
  std::lock_guard<std::mutex> lock(ClockState().mutex);
  records_[index]->bytes.clear();
  records_[index]->heard = 0;
}

}  // namespace platform
