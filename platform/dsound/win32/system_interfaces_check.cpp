// Compares the method tables of system_interfaces.h with the system's own
// declarations: the same members at the same places. Nothing to run.
#define CINTERFACE
#include <windows.h>
// After windows.h, whose types they use.
#include <mmsystem.h>
// After mmsystem.h, whose wave format record it uses.
#include <dsound.h>

#include <cstddef>

#include "platform/dsound/win32/system_interfaces.h"

#define SAME_PLACE(ours, theirs, method) \
  static_assert(offsetof(platform::win32::ours, method) == offsetof(theirs, method), #method)

SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, QueryInterface);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetCaps);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetCurrentPosition);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetFormat);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetVolume);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetPan);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetFrequency);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, GetStatus);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, Lock);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, Play);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, SetCurrentPosition);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, SetFormat);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, SetVolume);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, SetPan);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, SetFrequency);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, Stop);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, Unlock);
SAME_PLACE(SystemSoundBufferMethods, IDirectSoundBufferVtbl, Restore);
static_assert(sizeof(platform::win32::SystemSoundBufferMethods) == sizeof(IDirectSoundBufferVtbl));

SAME_PLACE(SystemSoundMethods, IDirectSoundVtbl, Release);
SAME_PLACE(SystemSoundMethods, IDirectSoundVtbl, CreateSoundBuffer);
SAME_PLACE(SystemSoundMethods, IDirectSoundVtbl, GetCaps);
SAME_PLACE(SystemSoundMethods, IDirectSoundVtbl, SetCooperativeLevel);
SAME_PLACE(SystemSoundMethods, IDirectSoundVtbl, Initialize);
static_assert(sizeof(platform::win32::SystemSoundMethods) == sizeof(IDirectSoundVtbl));

static_assert(sizeof(DSBUFFERDESC) == 40 && sizeof(DSBCAPS) == 20 && sizeof(DSCAPS) == 96);
