#include "platform/dsound/standin.h"

// On Linux the sound-buffer service is the stand-in.

HRESULT DirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer) {
  return platform::standin::DirectSoundCreate(guid, device, outer);
}

HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  return platform::standin::DirectSoundEnumerateA(callback, context);
}
