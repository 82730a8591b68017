#include "platform/dsound/standin.h"
#include "platform/dsound/win32/system_sound.h"
#include "platform/wave/win32/winmm.h"

// On Windows the sound-buffer calls go to the system's DSOUND.DLL, or, while the
// process's audio back-end is not the system's, to the stand-in over it.

HRESULT DirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, void* outer) {
  return platform::UsesSystemAudio() ? platform::SystemDirectSoundCreate(guid, device, outer)
                                     : platform::standin::DirectSoundCreate(guid, device, outer);
}

HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  return platform::UsesSystemAudio() ? platform::SystemDirectSoundEnumerateA(callback, context)
                                     : platform::standin::DirectSoundEnumerateA(callback, context);
}
