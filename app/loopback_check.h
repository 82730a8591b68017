#pragma once

#include <limits>
#include <string>

#include "app/loopback_analysis.h"

// Plays a sound on one output while recording one input, and finds out how
// the sound arrived there.
struct LoopbackCheck {
  std::string output_name;
  std::string input_name;
  LoopbackResult result;
  // From the output playing the sound's first frame to the input recording
  // it, by the two devices' positions, in ms; NaN when nothing arrived. An
  // input that hears the output before its clock says the sound was played
  // (a monitor of the output) makes it negative.
  double delay_ms = std::numeric_limits<double>::quiet_NaN();
};

// How long after its start the sound may arrive: by default (Bluetooth,
// network speakers and streaming receivers take up to about 2 s), and at
// most.
constexpr double kLoopbackMaxDelayMs = 3000;
constexpr double kLoopbackLongestDelayMs = 10000;

// Plays `sound` through the player on output `output` (counted from 0 as the
// catalogue lists it; the wave output when `wave`, else the sound-buffer
// output) while recording input `input` at 44100 Hz, 16-bit stereo, for as
// long as the sound may take to arrive (`max_delay_ms`). Returns
// false with the system's message in *error when a device or the sound
// fails. Runs on the GUI thread.
bool RunLoopbackCheck(int output, int input, bool wave, const std::string& sound,
                      double max_delay_ms, LoopbackCheck* check, std::string* error);
