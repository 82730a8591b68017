#pragma once

#include <vector>

// Finds out how a stereo test sound that carries one word on its left
// channel and another on its right one arrived at a recording input: on which
// input channels each word was heard, how loud, and after what delay. Works
// on a cable loopback as on an acoustic path (speaker to microphone) with
// noise, echo and a low gain, since each word is found by correlation with
// what was sent, not by level alone.

// Two channels of samples in full scale units (-1 ... 1).
struct StereoSamples {
  std::vector<float> left;
  std::vector<float> right;
};

enum class LoopbackVerdict { ok, swapped, mono, leftOnly, rightOnly, silent };

// "ok", "swapped", "mono", "left-only", "right-only", "silent".
const char* LoopbackVerdictName(LoopbackVerdict verdict);

// How one word of the test sound arrived at each input channel (0 left,
// 1 right).
struct WordArrival {
  // Peak of the part of the channel that matches the word, in dBFS; -inf
  // when the channel holds nothing of it that stands out from its noise.
  double level_dbfs[2];
  // How far the match stands above what noise alone gives, in dB.
  double detection_db[2];
  bool heard[2];
};

struct LoopbackResult {
  LoopbackVerdict verdict = LoopbackVerdict::silent;
  WordArrival left_word{};
  WordArrival right_word{};
  // Where the test sound's first sample lies in the recording, in ms from
  // the recording's first sample; negative when nothing was heard.
  double arrival_ms = -1;
};

// A word counts as heard on a channel when its match stands at least this
// far above noise...
constexpr double kLoopbackDetectionDb = 20.0;
// ...and is at most this far below the word's loudest channel; anything
// weaker is crosstalk.
constexpr double kLoopbackCrosstalkDb = 12.0;

// Compares the recording with the sound that was sent (both at `rate`),
// looking for the sound's start within the first `max_delay_ms` of the
// recording. The left word is what the sound's left channel carries, the
// right word what its right channel carries.
LoopbackResult AnalyseLoopback(const StereoSamples& sent, const StereoSamples& recorded,
                               double rate, double max_delay_ms);
