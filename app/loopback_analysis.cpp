#include "app/loopback_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "app/cross_correlation.h"

namespace {

// A word lies between its channel's first and last sample of at least this
// share of the channel's peak.
constexpr double kWordEdge = 0.01;
// How far (in seconds) a word may lie from where the whole sound puts it: a
// device that dropped or repeated samples between the words moves the second
// one.
constexpr double kWordSearchSeconds = 0.25;
// How far (in seconds) a channel's copy of a word may lie from the word's
// arrival: a microphone hears the far speaker a few ms after the near one.
constexpr double kChannelSearchSeconds = 0.005;
// The largest value of a 16-bit sample, in full scale units: a recording
// that holds it reached the limit of what it can carry.
constexpr float kFullScale = 32767.0f / 32768.0f;

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

using Correlations = std::vector<std::vector<std::vector<double>>>;

// The first and last sample (exclusive) of the word a sent channel carries,
// and its peak; an empty range for a silent channel.
struct Word {
  std::size_t begin = 0, end = 0;
  double peak = 0;
};

Word FindWord(const std::vector<float>& channel, std::size_t frames) {
  Word word;
  for (std::size_t n = 0; n < frames; ++n) {
    word.peak = std::max(word.peak, double(std::fabs(channel[n])));
  }
  if (word.peak == 0) return word;
  const double edge = word.peak * kWordEdge;
  std::size_t n = 0;
  while (std::fabs(channel[n]) < edge) ++n;
  word.begin = n;
  for (std::size_t m = n; m < frames; ++m) {
    if (std::fabs(channel[m]) >= edge) word.end = m + 1;
  }
  return word;
}

double Db(double ratio) {
  return ratio > 0 ? 20 * std::log10(ratio) : kMinusInfinity;
}

// The lag in [centre - reach, centre + reach] (within 0 ... size - 1) where
// value(lag) is largest.
template <typename Value>
std::size_t BestLagAround(std::size_t centre, std::size_t reach, std::size_t size, Value value) {
  const std::size_t first = centre > reach ? centre - reach : 0;
  const std::size_t last = std::min(centre + reach, size - 1);
  std::size_t best = first;
  for (std::size_t lag = first + 1; lag <= last; ++lag) {
    if (value(lag) > value(best)) best = lag;
  }
  return best;
}

// Projects the recorded channel, over the word's span, onto the word: the
// projection is what of the word arrived there; the rest counts as noise.
void MeasureArrival(const std::vector<float>& sent, const Word& word,
                    const std::vector<float>& recorded, std::size_t lag, int channel,
                    WordArrival* arrival) {
  double ss = 0, sr = 0, rr = 0;
  std::size_t count = 0;
  bool full_scale = false;
  for (std::size_t n = word.begin; n < word.end && n + lag < recorded.size(); ++n) {
    const double s = sent[n], r = recorded[n + lag];
    ss += s * s;
    sr += s * r;
    rr += r * r;
    full_scale = full_scale || std::fabs(recorded[n + lag]) >= kFullScale;
    ++count;
  }
  if (ss == 0 || sr == 0) return;
  const double gain = std::fabs(sr / ss);
  const double matched = sr * sr / ss;
  // Noise power per sample; a floor keeps a noiseless copy finite.
  const double noise = std::max((rr - matched) / static_cast<double>(count), 1e-24);
  arrival->detection_db[channel] = 10 * std::log10(matched / noise);
  // What does not stand out from the noise is no measure of the word.
  if (arrival->detection_db[channel] < kLoopbackDetectionDb) return;
  arrival->detected[channel] = true;
  // A recording cannot hold more than full scale: a louder match is clipping.
  arrival->level_dbfs[channel] = std::min(0.0, Db(gain * word.peak));
  arrival->clipped[channel] = full_scale;
  arrival->inverted[channel] = sr < 0;
}

// The word arrived on its loudest channel; the other one heard crosstalk,
// unless it is so close to the loudest that the word arrived on both.
void DecideHeard(WordArrival* arrival) {
  if (!arrival->detected[0] && !arrival->detected[1]) return;
  const int loudest = arrival->level_dbfs[0] >= arrival->level_dbfs[1] ? 0 : 1;
  const int other = 1 - loudest;
  arrival->heard[loudest] = true;
  arrival->crosstalk_db = arrival->level_dbfs[other] - arrival->level_dbfs[loudest];
  arrival->heard[other] = arrival->detected[other] && arrival->crosstalk_db > -kLoopbackMonoDb;
}

// The input channel a word arrived on: 0, 1, 2 for both, -1 for none.
int ArrivedOn(const WordArrival& word) {
  if (word.heard[0] && word.heard[1]) return 2;
  return word.heard[0] ? 0 : word.heard[1] ? 1 : -1;
}

LoopbackVerdict Decide(const WordArrival& left, const WordArrival& right) {
  const int on[2] = {ArrivedOn(left), ArrivedOn(right)};
  if (on[0] < 0 && on[1] < 0) return LoopbackVerdict::silent;
  if (on[0] == 2 || on[1] == 2) return LoopbackVerdict::mono;
  if (on[0] == 0 && on[1] == 1) return LoopbackVerdict::ok;
  if (on[0] == 1 && on[1] == 0) return LoopbackVerdict::swapped;
  // Both words on one channel: mono when the other channel heard them too,
  // however weakly; one word only: the channel it arrived on.
  const int channel = on[0] >= 0 ? on[0] : on[1];
  const int other = 1 - channel;
  if (on[0] >= 0 && on[1] >= 0 && (left.detected[other] || right.detected[other])) {
    return LoopbackVerdict::mono;
  }
  return channel == 0 ? LoopbackVerdict::leftOnly : LoopbackVerdict::rightOnly;
}

std::string NothingWithin(double max_delay_ms) {
  char text[96];
  std::snprintf(text, sizeof(text), "nothing matched within %g s; --max-delay extends the search",
                max_delay_ms / 1000);
  return text;
}

}  // namespace

const char* LoopbackVerdictName(LoopbackVerdict verdict) {
  switch (verdict) {
    case LoopbackVerdict::ok:
      return "ok";
    case LoopbackVerdict::swapped:
      return "swapped";
    case LoopbackVerdict::mono:
      return "mono";
    case LoopbackVerdict::leftOnly:
      return "left-only";
    case LoopbackVerdict::rightOnly:
      return "right-only";
    case LoopbackVerdict::silent:
      break;
  }
  return "silent";
}

LoopbackResult AnalyseLoopback(const StereoSamples& sent, const StereoSamples& recorded,
                               double rate, double max_delay_ms) {
  LoopbackResult result;
  for (WordArrival* word : {&result.left_word, &result.right_word}) {
    for (int c = 0; c < 2; ++c) word->level_dbfs[c] = word->detection_db[c] = kMinusInfinity;
    word->crosstalk_db = kMinusInfinity;
  }
  max_delay_ms = std::max(0.0, max_delay_ms);
  result.reason = NothingWithin(max_delay_ms);
  const std::size_t sent_frames = std::min(sent.left.size(), sent.right.size());
  const std::size_t recorded_frames = std::min(recorded.left.size(), recorded.right.size());
  if (recorded_frames == 0) {
    result.reason = "nothing was recorded";
    return result;
  }
  if (sent_frames == 0 || !(rate > 0)) return result;
  const auto nonzero = [](float s) { return s != 0.0f; };
  if (std::none_of(recorded.left.begin(), recorded.left.end(), nonzero) &&
      std::none_of(recorded.right.begin(), recorded.right.end(), nonzero)) {
    result.reason = "the input recorded only silence";
    return result;
  }

  // The sound is searched at every lag the recording holds; the best one
  // beyond the window means the sound came later than the window allows, and
  // the best one within it would only be a part of the sound matching another.
  const std::size_t max_lag = std::min<std::size_t>(
      recorded_frames - 1, static_cast<std::size_t>(std::min(max_delay_ms * rate / 1000, 1e12)));
  StereoSamples trimmed{{sent.left.begin(), sent.left.begin() + sent_frames},
                        {sent.right.begin(), sent.right.begin() + sent_frames}};
  const std::vector<float> left(recorded.left.begin(), recorded.left.begin() + recorded_frames);
  const std::vector<float> right(recorded.right.begin(), recorded.right.begin() + recorded_frames);
  const Correlations c =
      CrossCorrelate({&trimmed.left, &trimmed.right}, {&left, &right}, recorded_frames);
  // The match whatever channel each of the sound's channels arrived on and
  // in which polarity.
  auto score = [&c](std::size_t lag) {
    double sum = 0;
    for (int s = 0; s < 2; ++s) {
      for (int r = 0; r < 2; ++r) sum += c[s][r][lag] * c[s][r][lag];
    }
    return sum;
  };
  std::size_t best = 0, best_within = 0;
  for (std::size_t lag = 1; lag < recorded_frames; ++lag) {
    if (score(lag) > score(best)) best = lag;
    if (lag <= max_lag && score(lag) > score(best_within)) best_within = lag;
  }
  if (best > max_lag) return result;

  const std::vector<float>* recorded_channels[2] = {&left, &right};
  const std::vector<float>* sent_channels[2] = {&trimmed.left, &trimmed.right};
  WordArrival* arrivals[2] = {&result.left_word, &result.right_word};
  const Word words[2] = {FindWord(trimmed.left, sent_frames), FindWord(trimmed.right, sent_frames)};
  std::size_t word_lags[2] = {best_within, best_within};
  const auto word_reach = static_cast<std::size_t>(kWordSearchSeconds * rate);
  const auto channel_reach = static_cast<std::size_t>(kChannelSearchSeconds * rate);
  for (int w = 0; w < 2; ++w) {
    if (words[w].end == 0) continue;
    const auto& pair = c[w];
    word_lags[w] = BestLagAround(best_within, word_reach, recorded_frames, [&pair](std::size_t l) {
      return pair[0][l] * pair[0][l] + pair[1][l] * pair[1][l];
    });
    for (int ch = 0; ch < 2; ++ch) {
      const auto& channel = pair[ch];
      const std::size_t lag =
          BestLagAround(word_lags[w], channel_reach, recorded_frames,
                        [&channel](std::size_t l) { return std::fabs(channel[l]); });
      MeasureArrival(*sent_channels[w], words[w], *recorded_channels[ch], lag, ch, arrivals[w]);
    }
    DecideHeard(arrivals[w]);
  }
  result.verdict = Decide(result.left_word, result.right_word);
  if (result.verdict == LoopbackVerdict::silent) return result;
  result.reason.clear();
  // The sound arrived where its first word that was heard puts it.
  const bool heard[2] = {ArrivedOn(result.left_word) >= 0, ArrivedOn(result.right_word) >= 0};
  int first = heard[0] ? 0 : 1;
  if (heard[0] && heard[1] && words[1].begin < words[0].begin) first = 1;
  result.arrival_ms = static_cast<double>(word_lags[first]) * 1000.0 / rate;
  return result;
}
