#pragma once

// The system's sound-buffer service (DSOUND.DLL, loaded on first use) behind
// the platform layer's device and buffer objects. Where the library cannot be
// loaded, or lacks its entry points, creating a device gives DSERR_NODRIVER and
// enumeration reports no device.

#include <chrono>

#include "platform/dsound/dsound.h"

namespace platform {
namespace win32 {
struct SystemSound;
}

// How long a playing buffer's play cursor may stand still before the buffer
// counts as lost: the service under Wine reports nothing when its output goes
// away (its mixer's device calls fail, it mixes no more), and the play cursor
// stops where it was.
inline constexpr std::chrono::milliseconds kSystemBufferStalledAfter{1000};

// The platform layer's device object over a system device; it takes over the
// caller's reference. Its secondary buffers count as lost once playing with
// the play cursor standing still for `stalled_after`; the first one starts a
// looping silent buffer that keeps the device's output running.
IDirectSound* WrapSystemDevice(win32::SystemSound* device,
                               std::chrono::milliseconds stalled_after = kSystemBufferStalledAfter);

HRESULT SystemDirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer);
HRESULT SystemDirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);

}  // namespace platform
