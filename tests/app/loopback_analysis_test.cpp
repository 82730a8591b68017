#include "app/loopback_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "app/cross_correlation.h"
#include "app/real_fft.h"
#include "tests/support/stereo_sound.h"

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

// The test sound the programs play, as the tests find it in the build folder.
StereoSamples RealTestSound() {
  return ReadStereoSound("app/YesLR.wav");
}

// A path from stereo speakers (or a cable) to a stereo input, as a 16-bit
// capture records it.
struct RoomPath {
  const char* name;
  LoopbackVerdict verdict;
  // The far speaker on each input channel, relative to the near one, in dB;
  // it arrives 2 ms later.
  double crosstalk_db = -300;
  bool crossed = false;
  // Both input channels carry the sound's left channel.
  bool duplicated = false;
  double delay_s = 0.05;
  double max_delay_s = 3;
  double gain_db = -6;
  double noise_dbfs = -70;
  // A diffuse tail after each arrival, its start this far below the direct
  // sound, dying away by 60 dB in 0.5 s.
  double reverb_db = -300;
  bool invert_right = false;
};

StereoSamples RecordRoom(const StereoSamples& sound, const RoomPath& path) {
  const double sound_s = static_cast<double>(sound.left.size()) / kRate;
  // As the check records: the longest delay, the sound, and a little more.
  const auto frames = static_cast<std::size_t>((path.max_delay_s + sound_s + 0.5) * kRate);
  std::vector<double> mix[2] = {std::vector<double>(frames), std::vector<double>(frames)};
  std::mt19937 random(5);
  // The reverb: 60 echoes at random times within 0.5 s, decaying.
  std::uniform_real_distribution<double> when(0.005, 0.5);
  struct Tap {
    std::size_t offset;
    double weight;
  };
  std::vector<Tap> taps{{0, 1.0}};
  if (path.reverb_db > -300) {
    for (int k = 0; k < 60; ++k) {
      const double t = when(random);
      taps.push_back({static_cast<std::size_t>(t * kRate),
                      (k % 2 ? 1 : -1) * std::pow(10, (path.reverb_db - 120 * t) / 20)});
    }
  }
  const double gain = std::pow(10, path.gain_db / 20);
  const double far = std::pow(10, path.crosstalk_db / 20);
  const std::vector<float>* sent[2] = {&sound.left, &sound.right};
  for (int input = 0; input < 2; ++input) {
    for (int s = 0; s < 2; ++s) {
      int near = path.crossed ? 1 - s : s;
      double weight = input == near ? 1.0 : far;
      auto offset = static_cast<std::size_t>((path.delay_s + (input == near ? 0 : 0.002)) * kRate);
      if (path.duplicated) {
        weight = s == 0 ? 1.0 : 0.0;
        offset = static_cast<std::size_t>(path.delay_s * kRate);
      }
      if (weight == 0) continue;
      for (const Tap& tap : taps) {
        const double w = gain * weight * tap.weight * (path.invert_right && input == 1 ? -1 : 1);
        for (std::size_t n = 0; n < sent[s]->size() && n + offset + tap.offset < frames; ++n) {
          mix[input][n + offset + tap.offset] += w * (*sent[s])[n];
        }
      }
    }
  }
  std::normal_distribution<double> noise(0.0, std::pow(10, path.noise_dbfs / 20));
  StereoSamples recorded;
  std::vector<float>* out[2] = {&recorded.left, &recorded.right};
  for (int input = 0; input < 2; ++input) {
    for (double value : mix[input]) {
      const double code =
          std::clamp(std::round((value + noise(random)) * 32768), -32768.0, 32767.0);
      out[input]->push_back(static_cast<float>(code / 32768));
    }
  }
  return recorded;
}

TEST(LoopbackAnalysis, TellsRoomsCablesAndLongPathsApartWithTheTestSound) {
  const StereoSamples sound = RealTestSound();
  ASSERT_GT(sound.left.size(), 44100u);
  const auto ok = LoopbackVerdict::ok;
  std::vector<RoomPath> paths;
  for (double crosstalk : {-3.0, -6.0, -8.0, -16.0, -40.0}) {
    for (bool crossed : {false, true}) {
      RoomPath path{"stereo microphone", crossed ? LoopbackVerdict::swapped : ok};
      path.crosstalk_db = crosstalk;
      path.crossed = crossed;
      paths.push_back(path);
      path.name = "stereo microphone in a reverberant room";
      path.reverb_db = -12;
      path.noise_dbfs = -55;
      paths.push_back(path);
    }
  }
  paths.push_back({"duplicated mono channel", LoopbackVerdict::mono});
  paths.back().duplicated = true;
  paths.push_back({"both speakers alike", LoopbackVerdict::mono});
  paths.back().crosstalk_db = -0.5;
  paths.push_back({"clipped by 20 dB too much gain", ok});
  paths.back().gain_db = 20;
  paths.push_back({"right input channel wired the wrong way round", ok});
  paths.back().invert_right = true;
  paths.back().crosstalk_db = -10;
  for (int half_seconds = 0; half_seconds < 20; ++half_seconds) {
    paths.push_back({"long path", ok});
    paths.back().delay_s = half_seconds * 0.5 + 0.0123;
    paths.back().max_delay_s = std::max(3.0, std::ceil(paths.back().delay_s));
  }
  // Later than the search reaches: neither a channel verdict nor a word
  // matched against the other one.
  for (double delay : {1.37, 3.2, 4.4}) {
    paths.push_back({"beyond the search", LoopbackVerdict::silent});
    paths.back().delay_s = delay;
    paths.back().max_delay_s = delay < 3 ? 1 : 3;
  }
  paths.push_back({"beyond the longest search", LoopbackVerdict::silent});
  paths.back().delay_s = 10.4;
  paths.back().max_delay_s = 10;

  for (const RoomPath& path : paths) {
    const LoopbackResult result =
        AnalyseLoopback(sound, RecordRoom(sound, path), kRate, path.max_delay_s * 1000);
    const std::string what = std::string(path.name) + ", crosstalk " +
                             std::to_string(path.crosstalk_db) + " dB, delay " +
                             std::to_string(path.delay_s) + " s";
    EXPECT_EQ(std::string(LoopbackVerdictName(result.verdict)), LoopbackVerdictName(path.verdict))
        << what;
    if (path.verdict == LoopbackVerdict::silent) {
      EXPECT_EQ(result.reason, "nothing matched within " + std::to_string(int(path.max_delay_s)) +
                                   " s; --max-delay extends the search")
          << what;
      EXPECT_LT(result.arrival_ms, 0) << what;
      continue;
    }
    EXPECT_TRUE(result.reason.empty()) << what;
    EXPECT_NEAR(result.arrival_ms, path.delay_s * 1000, 1.0) << what;
    const WordArrival* words[2] = {&result.left_word, &result.right_word};
    for (int w = 0; w < 2; ++w) {
      const WordArrival& word = *words[w];
      const int near = path.crossed ? 1 - w : w;
      const std::string which = what + (w == 0 ? ", left word" : ", right word");
      for (int ch = 0; ch < 2; ++ch) {
        EXPECT_LE(word.level_dbfs[ch], 0.0) << which;
        EXPECT_EQ(word.inverted[ch], path.invert_right && ch == 1 && word.detected[ch]) << which;
        EXPECT_EQ(word.clipped[ch], path.gain_db > 0 && ch == near) << which;
      }
      if (path.verdict == LoopbackVerdict::mono) {
        if (path.duplicated && w == 1) continue;  // the right word is never sent on
        EXPECT_TRUE(word.heard[0] && word.heard[1]) << which;
        EXPECT_GT(word.crosstalk_db, -kLoopbackMonoDb) << which;
        continue;
      }
      EXPECT_TRUE(word.heard[near] && !word.heard[1 - near]) << which;
      if (path.gain_db > 0) continue;
      // The test sound's words peak at about -3 dBFS.
      EXPECT_NEAR(word.level_dbfs[near], -3 + path.gain_db, path.reverb_db > -300 ? 1.5 : 0.5)
          << which;
      if (path.crosstalk_db > -300) {
        EXPECT_NEAR(word.crosstalk_db, path.crosstalk_db, path.reverb_db > -300 ? 1.5 : 0.5)
            << which;
      } else {
        // Nothing of the word reached the other channel: no crosstalk at all.
        EXPECT_TRUE(std::isinf(word.crosstalk_db)) << which;
      }
    }
  }
}

// The correlation the analysis runs on, through both transforms the builds
// have, against the sums it stands for.
TEST(LoopbackAnalysis, CorrelatesAsTheDirectSumsDoThroughEitherTransform) {
  std::mt19937 random(3);
  std::uniform_real_distribution<float> value(-1, 1);
  std::vector<float> probes[2], signals[2];
  for (auto& p : probes) {
    for (int n = 0; n < 37; ++n) p.push_back(value(random));
  }
  for (auto& s : signals) {
    for (int n = 0; n < 300; ++n) s.push_back(value(random));
  }
  signals[1].resize(250);  // shorter: zero beyond its end
  const std::size_t lags = 300;
  const auto result = CrossCorrelate({&probes[0], &probes[1]}, {&signals[0], &signals[1]}, lags);
  for (int p = 0; p < 2; ++p) {
    for (int s = 0; s < 2; ++s) {
      ASSERT_EQ(result[p][s].size(), lags);
      for (std::size_t lag = 0; lag < lags; ++lag) {
        double sum = 0;
        for (std::size_t n = 0; n < probes[p].size() && n + lag < signals[s].size(); ++n) {
          sum += double(probes[p][n]) * signals[s][n + lag];
        }
        ASSERT_NEAR(result[p][s][lag], sum, 1e-9) << p << s << " lag " << lag;
      }
    }
  }
  const std::size_t size = 1024;
  std::vector<double> samples(size);
  for (double& s : samples) s = value(random);
  std::vector<std::complex<double>> ours(size / 2 + 1), best(size / 2 + 1);
  MakePortableRealFft(size)->Forward(samples.data(), ours.data());
  MakeRealFft(size)->Forward(samples.data(), best.data());
  for (std::size_t k = 0; k <= size / 2; ++k) ASSERT_NEAR(std::abs(ours[k] - best[k]), 0, 1e-9);
  std::vector<double> back(size);
  MakePortableRealFft(size)->Inverse(ours.data(), back.data());
  for (std::size_t n = 0; n < size; ++n) ASSERT_NEAR(back[n], samples[n] * size, 1e-8);
}

}  // namespace
