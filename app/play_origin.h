#pragma once

#include <cstdint>
#include <vector>

// Both devices' positions, read at one moment.
struct PositionReading {
  std::int64_t when_us = 0;    // the wall clock at the reading
  double played_frames = 0;    // the output's position: frames heard
  double recorded_frames = 0;  // the input's position: frames recorded
};

// The frame of the recording at which the output played its first frame,
// from readings taken while it played (both devices at `rate` frames per
// second).
//
// Each position moves in steps (pieces delivered, progress reports) and is
// seen late, never early, so each device's clock is read from the readings
// made just after a step: position - rate * time at its highest in each
// 100 ms window, and the upper quartile of those, so that neither one stray
// reading nor a device that stalled for a while (an output running dry, an
// input losing frames: that lowers only its later readings) decides it.
// Taken apart for each device, neither the other's steps nor the reader's
// own delays move it. NaN without readings.
double RecordingFrameAtPlayStart(const std::vector<PositionReading>& readings, double rate);
