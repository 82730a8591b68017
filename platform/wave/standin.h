#pragma once

// The stand-in wave services over the process's audio back-end (platform/audio),
// under the wave interface's names. On Linux they are the wave services; on
// Windows they serve the virtual back-end, and the system's services the rest
// (see wave_calls.h).

#include "platform/wave/wave_call_list.h"
#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_in.h"
#include "platform/wave/wave_out.h"

namespace platform::standin {

#define TESSALINE_DECLARE_WAVE_CALL(result, name, parameters, arguments) result name parameters;
TESSALINE_WAVE_CALLS(TESSALINE_DECLARE_WAVE_CALL)
#undef TESSALINE_DECLARE_WAVE_CALL

}  // namespace platform::standin
