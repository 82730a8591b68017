#pragma once

#include "platform/wave/wave_types.h"

// The platform's text for a result code of the wave calls, cut to size-1 bytes
// and zero-terminated. MMSYSERR_BADERRNUM for a code without a text (the
// buffer then holds an empty string); MMSYSERR_INVALPARAM for a null buffer or
// a size of 0.
MMRESULT waveInGetErrorTextA(MMRESULT error, LPSTR text, UINT size);
MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size);
