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
// Each device's clock is its position less the frames the wall clock
// counts, taken at each reading where the position moved (a step: a piece
// delivered, a progress report) and that came within twice the usual wait
// between readings (a step seen later says little about when it came), as
// the mean of the top quarter of those. Positions are seen late, never early,
// and a device that stalls for a while (an output running dry, an input
// losing frames) lowers only its later values, so the lower ones are left
// out; a device that hands on what it records in bursts hands each piece on
// early or late by up to tens of milliseconds, and the mean averages that
// instead of following the earliest. Taken the same way for both devices,
// a stall of the whole system, which lowers both alike, moves neither more
// than the other; taken apart, neither the other's steps nor the reader's
// own delays move it. NaN without readings.
double RecordingFrameAtPlayStart(const std::vector<PositionReading>& readings, double rate);
