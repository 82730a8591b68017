#include "app/loopback_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// A test sound like the real one: a "word" of band-limited noise under a
// smooth envelope on the left channel, a pause, then another on the right.
StereoSamples TestSound() {
  StereoSamples sound;
  const std::size_t frames = static_cast<std::size_t>(1.4 * kRate);
  sound.left.assign(frames, 0.0f);
  sound.right.assign(frames, 0.0f);
  std::mt19937 random(7);
  std::normal_distribution<double> normal(0.0, 1.0);
  auto word = [&](std::vector<float>& channel, double from, double seconds) {
    const std::size_t begin = static_cast<std::size_t>(from * kRate);
    const std::size_t length = static_cast<std::size_t>(seconds * kRate);
    std::vector<double> samples(length);
    double low = 0, peak = 0;
    for (std::size_t n = 0; n < length; ++n) {
      low += 0.3 * (normal(random) - low);
      samples[n] = low * (0.5 - 0.5 * std::cos(2 * kPi * n / length));
      peak = std::max(peak, std::fabs(samples[n]));
    }
    // Peaks at -6 dBFS, as the real test sound does about.
    for (std::size_t n = 0; n < length; ++n) {
      channel[begin + n] = static_cast<float>(0.5 * samples[n] / peak);
    }
  };
  word(sound.left, 0.1, 0.4);
  word(sound.right, 0.8, 0.4);
  return sound;
}

struct Path {
  const char* name;
  double route[2][2];  // input channel <- sent channel
  double delay_ms = 0;
  double gain_db = 0;
  double noise_dbfs = -200;
  double echo_db = -200;
  double echo_ms = 0;
};

// What an input would record of `sound` through `path`, for 2 s.
StereoSamples Record(const StereoSamples& sound, const Path& path) {
  StereoSamples recorded;
  const std::size_t frames = static_cast<std::size_t>(2.0 * kRate);
  recorded.left.assign(frames, 0.0f);
  recorded.right.assign(frames, 0.0f);
  std::vector<float>* out[2] = {&recorded.left, &recorded.right};
  const std::vector<float>* in[2] = {&sound.left, &sound.right};
  const double gain = std::pow(10, path.gain_db / 20);
  const double echo = std::pow(10, path.echo_db / 20);
  const auto delay = static_cast<std::size_t>(path.delay_ms * kRate / 1000);
  const auto echo_delay = delay + static_cast<std::size_t>(path.echo_ms * kRate / 1000);
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0.0, std::pow(10, path.noise_dbfs / 20));
  for (int c = 0; c < 2; ++c) {
    for (std::size_t n = 0; n < frames; ++n) {
      double sample = noise(random);
      for (int s = 0; s < 2; ++s) {
        const double weight = gain * path.route[c][s];
        if (n >= delay && n - delay < in[s]->size()) sample += weight * (*in[s])[n - delay];
        if (n >= echo_delay && n - echo_delay < in[s]->size()) {
          sample += echo * weight * (*in[s])[n - echo_delay];
        }
      }
      (*out[c])[n] = static_cast<float>(sample);
    }
  }
  return recorded;
}

TEST(LoopbackAnalysis, GivesEachPathItsVerdictThroughNoiseEchoDelayAndLowGain) {
  const StereoSamples sound = TestSound();
  struct Case {
    double route[2][2];
    LoopbackVerdict verdict;
  };
  const Case cases[] = {
      {{{1, 0}, {0, 1}}, LoopbackVerdict::ok},
      // An acoustic path: each microphone channel also hears the far speaker.
      {{{1, 0.15}, {0.15, 1}}, LoopbackVerdict::ok},
      {{{0, 1}, {1, 0}}, LoopbackVerdict::swapped},
      {{{0.5, 0.5}, {0.5, 0.5}}, LoopbackVerdict::mono},
      {{{1, 0}, {1, 0}}, LoopbackVerdict::mono},
      {{{1, 0}, {0, 0}}, LoopbackVerdict::leftOnly},
      {{{0, 0}, {0, 1}}, LoopbackVerdict::rightOnly},
      {{{0, 0}, {0, 0}}, LoopbackVerdict::silent},
  };
  struct Condition {
    const char* name;
    double delay_ms, gain_db, noise_dbfs, echo_db, echo_ms;
  };
  const Condition conditions[] = {
      {"clean", 0, 0, -200, -200, 0},
      {"noise -40 dBFS", 120, 0, -40, -200, 0},
      {"echo -10 dB after 30 ms", 75.5, 0, -200, -10, 30},
      {"delay 500 ms", 500, 0, -200, -200, 0},
      {"gain -30 dB", 20, -30, -200, -200, 0},
      {"all at once", 487.3, -30, -40, -10, 30},
  };
  for (const Condition& condition : conditions) {
    for (const Case& c : cases) {
      Path path{"",
                {{c.route[0][0], c.route[0][1]}, {c.route[1][0], c.route[1][1]}},
                condition.delay_ms,
                condition.gain_db,
                condition.noise_dbfs,
                condition.echo_db,
                condition.echo_ms};
      const LoopbackResult result = AnalyseLoopback(sound, Record(sound, path), kRate, 1000);
      const std::string what =
          std::string(condition.name) + ", expecting " + LoopbackVerdictName(c.verdict);
      EXPECT_EQ(LoopbackVerdictName(result.verdict), std::string(LoopbackVerdictName(c.verdict)))
          << what;
      if (c.verdict == LoopbackVerdict::silent) {
        EXPECT_LT(result.arrival_ms, 0) << what;
        continue;
      }
      EXPECT_NEAR(result.arrival_ms, condition.delay_ms, 2.0) << what;
      // A word heard on a channel is measured at its real level: the word's
      // peak times the route's weight and the path's gain. Crosstalk is
      // measured as well where it stands out from the noise; a channel that
      // holds nothing of the word has no level.
      const WordArrival* words[2] = {&result.left_word, &result.right_word};
      for (int w = 0; w < 2; ++w) {
        const std::vector<float>& sent = w == 0 ? sound.left : sound.right;
        double peak = 0;
        for (float s : sent) peak = std::max(peak, double(std::fabs(s)));
        for (int ch = 0; ch < 2; ++ch) {
          const double weight = c.route[ch][w];
          const std::string where =
              what + ", word " + std::to_string(w) + " on " + std::to_string(ch);
          EXPECT_EQ(words[w]->heard[ch], weight >= 0.5) << where;
          const double level = words[w]->level_dbfs[ch];
          if (weight >= 0.5 || (weight > 0 && std::isfinite(level))) {
            EXPECT_NEAR(level, 20 * std::log10(peak * weight) + condition.gain_db, 1.0) << where;
          } else if (weight == 0) {
            EXPECT_TRUE(std::isinf(level)) << where;
          }
        }
      }
    }
  }
}

TEST(LoopbackAnalysis, FindsEachWordWhereADropOutBetweenThemMovedIt) {
  const StereoSamples sound = TestSound();
  Path straight{"", {{1, 0}, {0, 1}}, 200, -20, -40};
  StereoSamples recorded = Record(sound, straight);
  // 80 ms of the recording between the words went missing, as when an input
  // drops samples: the right word comes 80 ms early.
  const auto from = static_cast<std::ptrdiff_t>(0.75 * kRate);
  const auto lost = static_cast<std::ptrdiff_t>(0.08 * kRate);
  for (std::vector<float>* channel : {&recorded.left, &recorded.right}) {
    channel->erase(channel->begin() + from, channel->begin() + from + lost);
  }
  const LoopbackResult result = AnalyseLoopback(sound, recorded, kRate, 1000);
  EXPECT_EQ(std::string(LoopbackVerdictName(result.verdict)), "ok");
  EXPECT_NEAR(result.arrival_ms, 200, 2.0);
  EXPECT_NEAR(result.right_word.level_dbfs[1], -6 - 20, 1.0);
}

TEST(LoopbackAnalysis, AnswersSilentWithoutMaterial) {
  const StereoSamples sound = TestSound();
  StereoSamples empty;
  EXPECT_EQ(AnalyseLoopback(sound, empty, kRate, 1000).verdict, LoopbackVerdict::silent);
  EXPECT_EQ(AnalyseLoopback(empty, sound, kRate, 1000).verdict, LoopbackVerdict::silent);
  // A recording shorter than the search range and than the sound itself.
  StereoSamples shortened = sound;
  shortened.left.resize(1000);
  shortened.right.resize(1000);
  const LoopbackResult result = AnalyseLoopback(sound, shortened, kRate, 1000);
  EXPECT_EQ(result.verdict, LoopbackVerdict::silent);
  // A sound whose right channel holds nothing: its right word is never heard.
  StereoSamples left_only = sound;
  std::fill(left_only.right.begin(), left_only.right.end(), 0.0f);
  Path straight{"", {{1, 0}, {0, 1}}};
  const LoopbackResult half = AnalyseLoopback(left_only, Record(left_only, straight), kRate, 1000);
  EXPECT_EQ(half.verdict, LoopbackVerdict::leftOnly);
  EXPECT_TRUE(std::isinf(half.right_word.level_dbfs[1]));
  EXPECT_EQ(std::string(LoopbackVerdictName(LoopbackVerdict::rightOnly)), "right-only");
}

}  // namespace
