#pragma once

#include <cstdint>

// State of a device component, a set of these flags; a closed component
// holds exactly dsClosed.
enum TMMDeviceStateFlag : std::uint32_t { dsClosed = 1, dsOpen = 2, dsStarted = 4, dsPaused = 8 };
