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
// made just after a step: the upper envelope of position - rate * time, as
// its 95th percentile, so that one stray reading does not decide it. A
// device that stalls (an output running dry, an input losing frames) only
// lowers its later readings, which the envelope passes over. Taken apart
// for each device, neither the other's steps nor the reader's own delays
// move it. NaN without readings.
double RecordingFrameAtPlayStart(const std::vector<PositionReading>& readings, double rate);
