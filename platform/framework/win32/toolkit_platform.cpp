#include "platform/framework/toolkit_platform.h"

namespace platform {

bool WindowPositionsKnown() {
  // Windows places top-level windows where they are asked to be and says where they are.
  return true;
}

}  // namespace platform
