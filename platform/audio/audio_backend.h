#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/channel_map.h"

namespace platform {

enum class AudioDirection { kInput, kOutput };

// One device as a back-end reports it.
struct AudioEndpoint {
  std::string id;    // the back-end's own key for the device (stable while it exists)
  std::string name;  // display name, UTF-8
  bool is_default = false;
};

// Integer PCM: bits 8 (unsigned) or 16 (signed little-endian), interleaved.
struct PcmFormat {
  std::uint32_t rate = 44100;
  std::uint16_t bits = 16;
  std::uint16_t channels = 2;
  std::size_t FrameBytes() const { return std::size_t{channels} * (bits / 8u); }
};

// What a capture stream tells its owner. All three run on a back-end thread (or, for
// the virtual back-end's manual clock, on the thread that advances the clock);
// they must return quickly and never wait on the GUI thread.
struct CaptureCallbacks {
  // Recorded bytes, whole frames, in recording order.
  std::function<void(const std::uint8_t* data, std::size_t bytes)> data;
  // The device went away; the stream delivers nothing more. Called at most once.
  std::function<void()> lost;
  // Timing, from back-ends that know it, once asked for (ReportHeld): of what
  // the device has recorded by now, `in_device` bytes (whole frames) come
  // after all those delivered so far; they wait in the device (a source's
  // buffer, the server's queue). Reported now and then, on the thread that
  // delivers the data.
  std::function<void(std::uint64_t in_device)> held;
};

// An open capture stream; it starts stopped. None of its calls may be made
// from inside its own callbacks.
class CaptureStream {
 public:
  // Closes the stream: once the destructor returns no callback runs any more.
  virtual ~CaptureStream() = default;
  virtual void Start() = 0;
  // Once Stop returns no data or held callback runs until the next Start.
  virtual void Stop() = 0;
  // Reports `held` from now on. Finding it out may cost a question to the
  // device or the server for each delivery, which streams whose timing nobody
  // asks about are spared.
  virtual void ReportHeld() {}
};

// What a playback stream asks of and tells its owner. All three run on a
// back-end thread (or, for the virtual back-end's manual clock, on the thread
// that advances the clock or calls Wake); they must return quickly, never wait
// on the GUI thread, and never call the stream.
struct PlaybackCallbacks {
  // The back-end wants the next bytes to play: the owner writes at most
  // `bytes` (a whole number of frames) to `data` and returns how many it
  // wrote, whole frames. 0 means nothing for now: the device then plays
  // silence, which counts for nothing, and asks again after Wake (or on its
  // own, a little later).
  std::function<std::size_t(std::uint8_t* data, std::size_t bytes)> pull;
  // Progress: of all the bytes pulled since the stream was opened, `total`
  // have now been played by the device (consumed, audible), or dropped by a
  // Flush. It never decreases and never exceeds what was pulled. `in_device`
  // of the bytes after them have left the stream's queue and are in the
  // device itself (its own latency: a sink's buffer, a headset's link), so
  // that pulled - total - in_device bytes still wait in the queue.
  std::function<void(std::uint64_t total, std::uint64_t in_device)> consumed;
  // The device went away; nothing more is pulled or consumed. At most once.
  std::function<void()> lost;
};

// An open playback stream; it starts stopped. The back-end pulls a little
// ahead of what is audible (about the latency asked for at open) and reports
// what has been consumed. None of its calls may be made from inside its own
// callbacks.
class PlaybackStream {
 public:
  // Closes the stream: once the destructor returns no callback runs any more.
  virtual ~PlaybackStream() = default;
  // Plays: what was pulled plays on, and more is pulled as it is consumed.
  virtual void Start() = 0;
  // Pauses at once: nothing more is consumed until the next Start; what was
  // pulled stays and plays first after it.
  virtual void Stop() = 0;
  // Drops everything pulled and not yet consumed. The consumed total then
  // counts those bytes: every later report is at least the pulled total at
  // the time of the call. No pull runs while Flush runs.
  virtual void Flush() = 0;
  // There is new data: the back-end pulls soon, possibly on the calling thread.
  virtual void Wake() = 0;
  // Linear gain per side, 0 (silent) ... 1 (unchanged); even channels take
  // the left gain and odd channels the right one, a single channel the
  // louder of the two. Applied to what is heard from now on.
  virtual void SetVolume(double left, double right) = 0;
  // Plays the frames at this rate (frames per second) instead of the
  // format's, resampled to the device: slower or faster, lower or higher.
  // False when the rate cannot be used, or the stream was not opened with a
  // variable rate.
  virtual bool SetRate(std::uint32_t frames_per_second) = 0;
};

struct PlaybackOptions {
  // About how far ahead of what is audible the back-end pulls (0: its own
  // choice, about 20 ms).
  std::size_t latency_bytes = 0;
  // The rate may be changed while playing (SetRate). Without it the frames
  // reach the device unchanged where the device runs at the format's rate.
  bool variable_rate = false;
  // Where each channel is heard, one position per channel; empty (or of
  // another length): the wave layout for the channel count,
  // WaveChannelMap(channels, 0). A device with other speakers gets the
  // server's own mix of the channels so placed.
  std::vector<ChannelPosition> channel_map;
};

// The channel map a stream of this format is opened with under these options.
std::vector<ChannelPosition> ChosenChannelMap(const PcmFormat& format,
                                              const PlaybackOptions& options);

// The narrow interface every audio back-end implements. Enumeration answers a
// fresh query each time; the order is stable (the back-end's own device order).
// A back-end that cannot reach its devices reports an empty list; it never throws.
class AudioBackend {
 public:
  virtual ~AudioBackend() = default;

  // Short name of the back-end ("pulse", "alsa", "virtual", "none").
  virtual std::string Name() const = 0;

  virtual std::vector<AudioEndpoint> Endpoints(AudioDirection direction) = 0;

  // Opens a capture stream on the input endpoint with this id. The back-end
  // delivers in pieces of about preferred_chunk_bytes (never much larger), for
  // low latency. nullptr and *reason when the device or format is refused.
  virtual std::unique_ptr<CaptureStream> OpenCapture(const std::string& endpoint_id,
                                                     const PcmFormat& format,
                                                     std::size_t preferred_chunk_bytes,
                                                     CaptureCallbacks callbacks,
                                                     std::string* reason) = 0;

  // Opens a playback stream on the output endpoint with this id. nullptr and
  // *reason when the device or format is refused.
  virtual std::unique_ptr<PlaybackStream> OpenPlayback(const std::string& endpoint_id,
                                                       const PcmFormat& format,
                                                       const PlaybackOptions& options,
                                                       PlaybackCallbacks callbacks,
                                                       std::string* reason) = 0;

  // Calls `changed` whenever an input or output is added or removed, from now
  // on until another function (or an empty one, which stops it) is given;
  // once this returns the function given before never runs again. It runs on
  // a back-end thread (or the thread that changed a virtual device), must
  // return quickly and never wait on the GUI thread. A back-end that cannot
  // tell never calls it.
  virtual void WatchEndpoints(std::function<void()> changed) { (void)changed; }
};

// Creates the back-end a selection text names: "pulse", "alsa" (Linux),
// "virtual", "virtual:<device list>", "none", or "" for the automatic choice
// (pulse when a server answers, else ALSA where it lists devices, else none). Returns nullptr and
// sets *reason when the back-end is not available or the text is not understood.
std::unique_ptr<AudioBackend> CreateAudioBackend(const std::string& selection, std::string* reason);

// The back-end of this process. Chosen on first use from TESSALINE_AUDIO
// (automatic when unset); nullptr means no devices. Thread-safe; the returned
// pointer stays usable even if another thread selects a different back-end.
std::shared_ptr<AudioBackend> CurrentAudioBackend();

// Why the back-end TESSALINE_AUDIO names could not be had (a value not
// understood, or "pulse" with no server answering), as one line; empty when
// it could, or when the choice was automatic. Makes the choice if not yet made.
std::string AudioBackendProblem();

// Why the automatic choice (TESSALINE_AUDIO unset) has no devices: the system
// back-end's own message when it did not answer (no sound server); empty when
// it answered or the back-end was named. Makes the choice if not yet made.
std::string AudioBackendAbsence();

// Replaces the process's back-end (for tests and tools). On failure the process
// has no back-end (no devices), false is returned and *reason tells why.
bool SelectAudioBackend(const std::string& selection, std::string* reason = nullptr);
// Replaces the process's back-end with this one (for tests).
void UseAudioBackend(std::shared_ptr<AudioBackend> backend);

}  // namespace platform
