#pragma once

// The system's wave output held to the platform layer's contract
// (platform/wave/wave_out.h) where the system, under Wine, falls short of it:
//  - The system returns a device's last header a few milliseconds before the
//    sound server has played it, and pausing, resetting or closing the
//    device then drops what it still holds. Once every written header has
//    come back (the device ran out by itself), pausing, resetting and closing
//    first wait until that tail has been heard.
//  - A device whose sink goes away stands still without a word: no header
//    comes back, the position stays, every call succeeds. A playing device
//    with headers queued whose position stands still for a while is lost: its
//    headers come back done, in order, and writing, preparing, restarting and
//    the position fail with MMSYSERR_NODRIVER from then on.
// The system never sees the caller's headers: each prepared header has a
// shadow header of the binding's, with a copy of the data written, which is
// what the system queues. A lost device's system may still hold shadows;
// they are freed only once the system has let them go, so the caller may
// free its headers as soon as they come back.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/wave/wave_out.h"

namespace platform::win32 {

// The system's wave output calls the binding goes through.
struct WaveOutCalls {
  MMRESULT (*open)(LPHWAVEOUT, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
  MMRESULT (*close)(HWAVEOUT);
  MMRESULT (*prepare)(HWAVEOUT, LPWAVEHDR, UINT);
  MMRESULT (*unprepare)(HWAVEOUT, LPWAVEHDR, UINT);
  MMRESULT (*write)(HWAVEOUT, LPWAVEHDR, UINT);
  MMRESULT (*pause)(HWAVEOUT);
  MMRESULT (*restart)(HWAVEOUT);
  MMRESULT (*reset)(HWAVEOUT);
  MMRESULT (*position)(HWAVEOUT, LPMMTIME, UINT);
};

struct WaveOutTimings {
  // How long after its last header came back a device is still heard.
  std::chrono::milliseconds held;
  // How long the position of a playing device with headers queued may stand
  // still before the device counts as lost.
  std::chrono::milliseconds stalled_after;
  // How often an open device's position is looked at.
  std::chrono::milliseconds watch_every;
};

// Under Wine the last header comes back 4 ... 6 ms before the sink has
// played it (0 ... 3 ms with 100 ms at the sound server), up to 20 ms on a
// loaded machine; 60 ms leaves a margin.
inline constexpr WaveOutTimings kSystemWaveOutTimings{
    std::chrono::milliseconds(60), std::chrono::milliseconds(1000), std::chrono::milliseconds(100)};

// The wave output calls over the system's, with the layer's names and
// results. Handles are the system's; a handle this object did not open
// (a device opened with CALLBACK_EVENT) goes to the system as it is. A lost
// device that the system does not let go of is kept while this object lives.
class SystemWaveOut {
 public:
  SystemWaveOut(const WaveOutCalls& calls, WaveOutTimings timings);
  ~SystemWaveOut();
  SystemWaveOut(const SystemWaveOut&) = delete;
  SystemWaveOut& operator=(const SystemWaveOut&) = delete;

  MMRESULT Open(LPHWAVEOUT phwo, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                DWORD_PTR instance, DWORD flags);
  MMRESULT Close(HWAVEOUT hwo);
  MMRESULT Prepare(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
  MMRESULT Unprepare(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
  MMRESULT Write(HWAVEOUT hwo, LPWAVEHDR header, UINT size);
  MMRESULT Pause(HWAVEOUT hwo);
  MMRESULT Restart(HWAVEOUT hwo);
  MMRESULT Reset(HWAVEOUT hwo);
  MMRESULT GetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size);

  struct Device;

 private:
  Device* Find(HWAVEOUT hwo);

  const WaveOutCalls calls_;
  const WaveOutTimings timings_;
  std::mutex mutex_;
  std::map<HWAVEOUT, std::unique_ptr<Device>> devices_;
  // Closed for the caller, but still the system's.
  std::vector<std::unique_ptr<Device>> kept_;
};

// The process's wave output over the system's multimedia library.
SystemWaveOut& SystemWaveOutput();

}  // namespace platform::win32
