#pragma once

// The system's sound-buffer service (DSOUND.DLL, loaded on first use) behind
// the platform layer's device and buffer objects. Where the library cannot be
// loaded, or lacks its entry points, creating a device gives DSERR_NODRIVER and
// enumeration reports no device.

#include "platform/dsound/dsound.h"

namespace platform {

HRESULT SystemDirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer);
HRESULT SystemDirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);

}  // namespace platform
