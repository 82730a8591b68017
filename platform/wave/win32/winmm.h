#pragma once

// The wave calls of Windows' multimedia library (WINMM.DLL), declared with the
// platform layer's records, whose layouts are the library's own.

#include "platform/wave/wave_call_list.h"
#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_in.h"
#include "platform/wave/wave_out.h"

namespace platform::winmm {

extern "C" {

#define TESSALINE_DECLARE_WAVE_CALL(result, name, parameters, arguments) result name parameters;
TESSALINE_WAVE_CALLS(TESSALINE_DECLARE_WAVE_CALL)
#undef TESSALINE_DECLARE_WAVE_CALL
}  // extern "C"

}  // namespace platform::winmm

namespace platform {

// Whether the process's audio back-end is the system's (the wave and sound-buffer
// calls then go to Windows' own services).
bool UsesSystemAudio();

}  // namespace platform
