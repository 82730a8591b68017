#pragma once

#include <string>
#include <vector>

// Finds out how a stereo test sound that carries one word on its left
// channel and another on its right one arrived at a recording input: on which
// input channel each word arrived (the one where it is loudest), how loud the
// other channel heard it (crosstalk), whether it was clipped or inverted, and
// after what delay. Works on a cable loopback as on an acoustic path (stereo
// speakers to a stereo microphone) with noise, reverb and a low gain, since
// each word is found by correlation with what was sent, not by level alone.

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
  // Peak of the part of the channel that matches the word, in dBFS, at most
  // 0; -inf when the channel holds nothing of it that stands out from its
  // noise.
  double level_dbfs[2];
  // How far the match stands above what noise alone gives, in dB.
  double detection_db[2];
  // The match stands out from the noise (kLoopbackDetectionDb).
  bool detected[2];
  // Where the word arrived: its loudest channel, and the other one too when
  // it is within kLoopbackMonoDb of it. Neither when it was not detected.
  bool heard[2];
  // The quieter channel's level relative to the loudest one, in dB (-inf
  // when the quieter channel holds nothing of the word); -inf too when the
  // word was not heard.
  double crosstalk_db;
  // The word reached full scale on the channel.
  bool clipped[2];
  // The word arrived there with its polarity reversed.
  bool inverted[2];
};

struct LoopbackResult {
  LoopbackVerdict verdict = LoopbackVerdict::silent;
  WordArrival left_word{};
  WordArrival right_word{};
  // Where the test sound's first sample lies in the recording, in ms from
  // the recording's first sample; negative when nothing was heard.
  double arrival_ms = -1;
  // Why the verdict is silent; empty otherwise.
  std::string reason;
};

// A word counts as detected on a channel when its match stands at least this
// far above noise.
constexpr double kLoopbackDetectionDb = 20.0;
// A word whose two channels are within this many dB of each other arrived on
// both (mono); a quieter channel below that is crosstalk.
constexpr double kLoopbackMonoDb = 2.0;

// Compares the recording with the sound that was sent (both at `rate`),
// looking for the sound's start within the first `max_delay_ms` of the
// recording. The left word is what the sound's left channel carries, the
// right word what its right channel carries.
LoopbackResult AnalyseLoopback(const StereoSamples& sent, const StereoSamples& recorded,
                               double rate, double max_delay_ms);
