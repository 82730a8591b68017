#pragma once

struct WatchOptions {
  bool all = false;   // every input, not only the window's nine
  bool wave = false;  // the test sound through the wave output
};

// Shows every input (up to nine, or all) with its name and live left/right
// meters in the terminal, and the outputs; the keys 1 ... 9 play the test
// sound on that output with its meters, as the window's play buttons do. Runs
// until q, Ctrl+C or SIGTERM and leaves the terminal as it found it. Returns
// the exit code.
int RunTerminalWatch(const WatchOptions& options);
