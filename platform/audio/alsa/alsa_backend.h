#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/endpoint_watcher.h"

namespace platform {

// The ALSA back-end, for machines without a sound server. Devices are the
// PCMs of ALSA's hint list, each once:
//   - every hardware device (card and device number), named by the first line
//     of its hint's description and opened as "plughw:CARD=<card>,DEV=<n>"
//     (ALSA's plug plugin converts rate, format and channels where the device
//     needs it); the other names the hint list offers for the same device
//     (plughw, sysdefault, front, dmix, dsnoop, ...) are left out;
//   - every PCM the configuration defines by a plain name (no arguments) with
//     a hint description, opened as "plug:<name>", except the null device and
//     the clients of a sound server (pulse, jack, pipewire), which are not
//     devices of this machine.
// Inputs are those whose hint allows capture, outputs those that allow
// playback. The default is the PCM named "default" where it is listed, else
// the first device. Every stream has a thread of its own.
class AlsaAudioBackend : public AudioBackend {
 public:
  AlsaAudioBackend();
  ~AlsaAudioBackend() override;

  std::string Name() const override { return "alsa"; }

  std::vector<AudioEndpoint> Endpoints(AudioDirection direction) override;

  // The PCM endpoint_id in the format asked, read by the stream's thread in
  // periods of about preferred_chunk_bytes. A PCM that fails for good (an
  // unplugged card, a plugin whose server or file fails) ends the stream with
  // `lost`. Callbacks run on the stream's thread.
  std::unique_ptr<CaptureStream> OpenCapture(const std::string& endpoint_id,
                                             const PcmFormat& format,
                                             std::size_t preferred_chunk_bytes,
                                             CaptureCallbacks callbacks,
                                             std::string* reason) override;

  // The PCM endpoint_id in the format asked, holding about
  // options.latency_bytes in the device and at least 100 ms. What it reports
  // as consumed is what was written less the device's delay; once the owner
  // has nothing more the device plays out what it holds. The rate cannot
  // change while playing. Callbacks run on the stream's thread.
  std::unique_ptr<PlaybackStream> OpenPlayback(const std::string& endpoint_id,
                                               const PcmFormat& format,
                                               const PlaybackOptions& options,
                                               PlaybackCallbacks callbacks,
                                               std::string* reason) override;

  // Follows the cards coming and going (the device nodes in /dev/snd) and
  // changes to the ALSA configuration files (which define PCMs), on a thread
  // of the back-end's own.
  void WatchEndpoints(std::function<void()> changed) override;

 private:
  void StopWatching();

  EndpointWatcher watcher_;
  // A configuration file changed: ALSA reads again only the files it was
  // started from, not those they include (the user's .asoundrc), so the
  // next enumeration drops its configuration and reads it all anew.
  std::atomic<bool> reread_{false};
  std::thread watch_thread_;
  int watch_stop_[2] = {-1, -1};
};

// The ALSA back-end when ALSA lists at least one device, else nullptr.
std::unique_ptr<AudioBackend> AlsaBackendWithDevices();

}  // namespace platform
