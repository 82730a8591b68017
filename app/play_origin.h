#pragma once

#include <cstdint>
#include <vector>

// Both devices' positions, read one after the other, each with the wall
// clock just after it was read (a read may wait, e.g. for the device's lock,
// and what it gives is then that much fresher).
struct PositionReading {
  std::int64_t played_us = 0;
  double played_frames = 0;  // the output's position: frames heard
  std::int64_t recorded_us = 0;
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
