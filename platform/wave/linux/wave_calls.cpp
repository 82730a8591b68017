#include "platform/wave/standin.h"

// On Linux the wave services are the stand-ins.

#define TESSALINE_FORWARD_WAVE_CALL(result, name, parameters, arguments) \
  result name parameters {                                               \
    return platform::standin::name arguments;                            \
  }
TESSALINE_WAVE_CALLS(TESSALINE_FORWARD_WAVE_CALL)
#undef TESSALINE_FORWARD_WAVE_CALL
