#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/endpoint_watcher.h"

namespace platform {

// A virtual input: silence, or a sine of one frequency with its own level on
// each channel (dBFS of the peak; 0 dBFS is a full-scale sine).
struct VirtualInput {
  std::string name;
  bool has_tone = false;
  double frequency_hz = 0;
  double left_dbfs = 0;
  double right_dbfs = 0;
  // Delivers what it recorded this much later, as a device with a buffer of
  // its own does, and reports the frames on their way as held.
  double latency_ms = 0;
};

struct VirtualOutput {
  std::string name;
  // False: not plugged in until PlugOutput.
  bool plugged = true;
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

// The signal of a virtual input, exactly. For frame n (counted from 0, the
// first frame the stream ever delivered; a stop and a new start go on with the
// next n), channel c carries the left signal when c is even and the right one
// when c is odd (so mono is the left signal, and 4 or more channels repeat
// left, right). With level L dBFS of that side and
//   x = std::sin(2.0 * pi * frequency_hz * n / rate)   (double, in this order)
//   a = std::pow(10.0, L / 20.0)
// the sample is
//   16 bit: std::lround(32767.0 * a * x), signed little-endian;
//    8 bit: 128 + std::lround(127.0 * a * x), unsigned.
// Silence is 0 (16 bit) or 128 (8 bit).
int VirtualSampleValue(const VirtualInput& input, unsigned channel, std::uint64_t n,
                       std::uint32_t rate, unsigned bits);

// The clock of the virtual streams. By default it is real time: every started
// stream has a thread that delivers (or consumes) every 10 ms, paced by the
// steady clock so that it never drifts: by time t after a start it has
// delivered floor(t * rate) frames. In manual mode the streams' threads do
// nothing; Advance moves the clock on and does, synchronously on the caller's
// thread, what every started stream owes by the new time (the streams'
// callbacks run inside Advance). Process-wide; thread-safe.
class VirtualClock {
 public:
  // Switching re-bases every started stream at the current time of the new
  // clock: no frames are lost or delivered twice.
  static void SetManual(bool manual);
  static bool IsManual();
  // Manual mode only (nothing otherwise).
  static void Advance(unsigned milliseconds);
};

// Deterministic devices: the first device of each direction is the default.
class VirtualAudioBackend : public AudioBackend {
 public:
  explicit VirtualAudioBackend(VirtualDeviceSet devices);
  ~VirtualAudioBackend() override;

  std::string Name() const override { return "virtual"; }
  // Inputs are "in:<index>", outputs "out:<index>", indexes of the device set;
  // removed inputs are not listed.
  std::vector<AudioEndpoint> Endpoints(AudioDirection direction) override;

  // Streams deliver in periods of 10 ms of frames (at least one frame), or of
  // preferred_chunk_bytes when that is smaller.
  std::unique_ptr<CaptureStream> OpenCapture(const std::string& endpoint_id,
                                             const PcmFormat& format,
                                             std::size_t preferred_chunk_bytes,
                                             CaptureCallbacks callbacks,
                                             std::string* reason) override;

  // A playback stream consumes frames at its rate on the clock: by time t of
  // playing it has consumed floor(t * rate) frames, unless it ran out of
  // pulled data, in which case the time passes in silence. It pulls ahead of
  // what it consumed up to the latency asked for (0: 20 ms; at least one
  // frame), at Start, at Wake (on the caller's thread) and after consuming.
  // Its output keeps what it took (Played): the frames consumed, with the
  // stream's volume applied, and, at a rate other than the format's, resampled
  // to the format's rate by repeating or skipping frames.
  std::unique_ptr<PlaybackStream> OpenPlayback(const std::string& endpoint_id,
                                               const PcmFormat& format,
                                               const PlaybackOptions& options,
                                               PlaybackCallbacks callbacks,
                                               std::string* reason) override;

  // Unplugs a device: it is no longer listed or opened, and every open stream
  // on it reports `lost` (on the caller's thread) and does nothing more.
  void RemoveInput(const std::string& endpoint_id);
  void RemoveOutput(const std::string& endpoint_id);
  // Plugs in an output of the device set that is not listed: it is listed
  // and opened from now on.
  void PlugOutput(const std::string& endpoint_id);
  // Told of each of the three above, on the thread that made the change.
  void WatchEndpoints(std::function<void()> changed) override { watcher_.Set(std::move(changed)); }

  // Everything the streams of an output consumed since the back-end was made
  // or the record was cleared, in the order it was played: the bytes pulled,
  // scaled by the stream's gains at the time (unchanged at full volume).
  // Empty for an unknown output.
  std::vector<std::uint8_t> Played(const std::string& endpoint_id) const;
  // How many of the bytes Played gives have been heard: all but what the
  // output still holds when it has a latency of its own (SetOutputLatency).
  std::size_t Heard(const std::string& endpoint_id) const;
  void ClearPlayed(const std::string& endpoint_id);
  // The channel map the last stream opened on the output was opened with
  // (one position per channel); empty before any, or for an unknown output.
  std::vector<ChannelPosition> OpenedChannelMap(const std::string& endpoint_id) const;

  const VirtualDeviceSet& Devices() const { return devices_; }

  // Streams opened from now on pull at least this far ahead, as a sound
  // server that keeps more than it is asked for does (0: what is asked).
  void SetLeastPlaybackLatency(std::chrono::milliseconds least) { least_latency_ = least; }

  // Streams opened on the output from now on hear what the device took this
  // much later, as a device with a latency of its own (a headset over a
  // radio link) does; they report it as held in the device. 0 by default.
  void SetOutputLatency(const std::string& endpoint_id, std::chrono::milliseconds latency);

  // What an output keeps: its bytes guarded by the virtual clock's lock.
  struct OutputRecord {
    std::vector<std::uint8_t> bytes;
    std::uint64_t heard = 0;  // of those, bytes heard
    std::atomic<std::uint64_t> latency_ms{0};
    std::vector<ChannelPosition> channel_map;
  };

 private:
  void MarkLost(const std::string& endpoint_id);

  EndpointWatcher watcher_;

  VirtualDeviceSet devices_;
  std::mutex removed_mutex_;
  std::vector<bool> removed_inputs_;
  std::vector<bool> removed_outputs_;
  std::vector<std::shared_ptr<OutputRecord>> records_;
  std::atomic<std::chrono::milliseconds> least_latency_{std::chrono::milliseconds(0)};
};

}  // namespace platform
