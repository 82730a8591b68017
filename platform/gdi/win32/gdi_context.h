#pragma once

#include <cstdint>

#include "platform/gdi/gdi.h"

// Device context over one of the system's; for the platform's window glue only.
struct TDeviceContext : TDeviceContextState {
  explicit TDeviceContext(std::uintptr_t system_dc) : dc(system_dc) {}
  std::uintptr_t dc;
};
