#pragma once

// The stand-in sound-buffer service over the process's audio back-end
// (platform/audio). On Linux it is the service; on Windows it serves the virtual
// back-end, and the system's DSOUND.DLL the rest.

#include "platform/dsound/dsound.h"

namespace platform::standin {

HRESULT DirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer);
HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);

}  // namespace platform::standin
