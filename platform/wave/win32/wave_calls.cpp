#include "platform/audio/audio_backend.h"
#include "platform/wave/standin.h"
#include "platform/wave/win32/system_wave_calls.h"

// On Windows each wave call goes to the system's multimedia library (its wave
// output held to the layer's contract, see system_wave_out.h), or, while the
// process's audio back-end is not the system's (the virtual devices, or none), to
// the stand-in over that back-end.

#define TESSALINE_CHOOSE_WAVE_CALL(result, name, parameters, arguments)        \
  result name parameters {                                                     \
    return platform::UsesSystemAudio() ? platform::system_wave::name arguments \
                                       : platform::standin::name arguments;    \
  }
TESSALINE_WAVE_CALLS(TESSALINE_CHOOSE_WAVE_CALL)
#undef TESSALINE_CHOOSE_WAVE_CALL
