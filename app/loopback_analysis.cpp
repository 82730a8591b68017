#include "app/loopback_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

// The delay is searched at an eighth of the rate first, then refined at the
// full rate around the best coarse lag.
constexpr std::size_t kDecimation = 8;
// A word lies between its channel's first and last sample of at least this
// share of the channel's peak.
constexpr double kWordEdge = 0.01;
// How far (in frames at 44.1 kHz, about 0.25 s) a word may lie from where
// the whole sound puts it.
constexpr std::size_t kWordSearch = 11025;

using Channels = std::vector<double>[2];

void Decimate(const StereoSamples& in, std::size_t frames, Channels& out) {
  const std::vector<float>* source[2] = {&in.left, &in.right};
  for (int c = 0; c < 2; ++c) {
    out[c].assign(frames / kDecimation, 0.0);
    for (std::size_t k = 0; k < out[c].size(); ++k) {
      double sum = 0;
      for (std::size_t i = 0; i < kDecimation; ++i) sum += (*source[c])[k * kDecimation + i];
      out[c][k] = sum / kDecimation;
    }
  }
}

// How strongly the recording matches the sent sound when shifted by `lag`,
// whatever channel each of the sound's channels arrived on and in which
// polarity: the sum of the squared correlations of all four channel pairs.
template <typename Sent, typename Recorded>
double MatchScore(const Sent* sent[2], std::size_t sent_frames, const Recorded* recorded[2],
                  std::size_t recorded_frames, std::size_t lag) {
  const std::size_t count = std::min(sent_frames, recorded_frames - lag);
  double sums[4] = {0, 0, 0, 0};
  for (std::size_t n = 0; n < count; ++n) {
    const double s0 = sent[0][n], s1 = sent[1][n];
    const double r0 = recorded[0][n + lag], r1 = recorded[1][n + lag];
    sums[0] += s0 * r0;
    sums[1] += s0 * r1;
    sums[2] += s1 * r0;
    sums[3] += s1 * r1;
  }
  return sums[0] * sums[0] + sums[1] * sums[1] + sums[2] * sums[2] + sums[3] * sums[3];
}

template <typename Sent, typename Recorded>
std::size_t BestLag(const Sent* sent[2], std::size_t sent_frames, const Recorded* recorded[2],
                    std::size_t recorded_frames, std::size_t first, std::size_t last) {
  std::size_t best = first;
  double best_score = -1;
  for (std::size_t lag = first; lag <= last; ++lag) {
    const double score = MatchScore(sent, sent_frames, recorded, recorded_frames, lag);
    if (score > best_score) {
      best_score = score;
      best = lag;
    }
  }
  return best;
}

// The first and last sample (exclusive) of the word a sent channel carries,
// and its peak; an empty range for a silent channel.
struct Word {
  std::size_t begin = 0, end = 0;
  double peak = 0;
};

Word FindWord(const std::vector<float>& channel, std::size_t frames) {
  Word word;
  for (std::size_t n = 0; n < frames; ++n)
    word.peak = std::max(word.peak, double(std::fabs(channel[n])));
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
  return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

// Projects the recorded channel, over the word's span, onto the word: the
// projection is what of the word arrived there; the rest counts as noise.
void MeasureArrival(const std::vector<float>& sent, const Word& word, const float* recorded,
                    std::size_t recorded_frames, std::size_t lag, int channel,
                    WordArrival* arrival) {
  double ss = 0, sr = 0, rr = 0;
  std::size_t count = 0;
  for (std::size_t n = word.begin; n < word.end && n + lag < recorded_frames; ++n) {
    const double s = sent[n], r = recorded[n + lag];
    ss += s * s;
    sr += s * r;
    rr += r * r;
    ++count;
  }
  arrival->level_dbfs[channel] = -std::numeric_limits<double>::infinity();
  arrival->detection_db[channel] = -std::numeric_limits<double>::infinity();
  if (ss == 0 || sr == 0) return;
  const double gain = std::fabs(sr / ss);
  const double matched = sr * sr / ss;
  // Noise power per sample; a floor keeps a noiseless copy finite.
  const double noise = std::max((rr - matched) / count, 1e-24);
  arrival->detection_db[channel] = 10 * std::log10(matched / noise);
  // What does not stand out from the noise is no measure of the word.
  if (arrival->detection_db[channel] >= kLoopbackDetectionDb) {
    arrival->level_dbfs[channel] = Db(gain * word.peak);
  }
}

void DecideHeard(WordArrival* arrival) {
  const double loudest = std::max(arrival->level_dbfs[0], arrival->level_dbfs[1]);
  for (int c = 0; c < 2; ++c) {
    arrival->heard[c] = std::isfinite(arrival->level_dbfs[c]) &&
                        arrival->level_dbfs[c] >= loudest - kLoopbackCrosstalkDb;
  }
}

LoopbackVerdict Decide(const WordArrival& left, const WordArrival& right) {
  const bool any_left = left.heard[0] || right.heard[0];
  const bool any_right = left.heard[1] || right.heard[1];
  if (!any_left && !any_right) return LoopbackVerdict::silent;
  if (left.heard[0] && !left.heard[1] && right.heard[1] && !right.heard[0]) {
    return LoopbackVerdict::ok;
  }
  if (left.heard[1] && !left.heard[0] && right.heard[0] && !right.heard[1]) {
    return LoopbackVerdict::swapped;
  }
  if (!any_right) return LoopbackVerdict::leftOnly;
  if (!any_left) return LoopbackVerdict::rightOnly;
  // Both channels heard something, and not one word each: a word reached both.
  return LoopbackVerdict::mono;
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
  const std::size_t sent_frames = std::min(sent.left.size(), sent.right.size());
  const std::size_t recorded_frames = std::min(recorded.left.size(), recorded.right.size());
  for (WordArrival* word : {&result.left_word, &result.right_word}) {
    for (int c = 0; c < 2; ++c) {
      word->level_dbfs[c] = word->detection_db[c] = -std::numeric_limits<double>::infinity();
    }
  }
  if (sent_frames < kDecimation || recorded_frames < kDecimation || !(rate > 0)) return result;

  const double max_delay = std::max(0.0, max_delay_ms) * rate / 1000;
  const std::size_t max_lag = std::min<std::size_t>(
      recorded_frames - 1, static_cast<std::size_t>(std::min(max_delay, 1e12)));

  Channels sent_coarse, recorded_coarse;
  Decimate(sent, sent_frames, sent_coarse);
  Decimate(recorded, recorded_frames, recorded_coarse);
  const double* sent_c[2] = {sent_coarse[0].data(), sent_coarse[1].data()};
  const double* recorded_c[2] = {recorded_coarse[0].data(), recorded_coarse[1].data()};
  const std::size_t coarse_frames = recorded_coarse[0].size();
  const std::size_t coarse = BestLag(sent_c, sent_coarse[0].size(), recorded_c, coarse_frames, 0,
                                     std::min(max_lag / kDecimation, coarse_frames - 1));

  const float* sent_f[2] = {sent.left.data(), sent.right.data()};
  const float* recorded_f[2] = {recorded.left.data(), recorded.right.data()};
  const std::size_t centre = coarse * kDecimation;
  const std::size_t lag = BestLag(sent_f, sent_frames, recorded_f, recorded_frames,
                                  centre > 2 * kDecimation ? centre - 2 * kDecimation : 0,
                                  std::min(max_lag, centre + 2 * kDecimation));

  const Word words[2] = {FindWord(sent.left, sent_frames), FindWord(sent.right, sent_frames)};
  WordArrival* arrivals[2] = {&result.left_word, &result.right_word};
  std::size_t word_lags[2] = {lag, lag};
  for (int w = 0; w < 2; ++w) {
    // Each word is looked for again near where the whole sound was found: a
    // device that dropped or repeated samples between the words moves the
    // second one.
    std::size_t word_lag = lag;
    const Word& word = words[w];
    const std::size_t begin = word.begin / kDecimation;
    const std::size_t length = (word.end - word.begin) / kDecimation;
    if (length > 0 && begin < coarse_frames && word.begin + kDecimation < recorded_frames) {
      const double* word_sent[2] = {sent_c[0] + begin, sent_c[1] + begin};
      const double* word_recorded[2] = {recorded_c[0] + begin, recorded_c[1] + begin};
      const std::size_t frames = coarse_frames - begin;
      const std::size_t window = kWordSearch / kDecimation;
      const std::size_t around =
          BestLag(word_sent, length, word_recorded, frames, coarse > window ? coarse - window : 0,
                  std::min(coarse + window, frames - 1)) *
          kDecimation;
      const float* fine_sent[2] = {sent_f[0] + word.begin, sent_f[1] + word.begin};
      const float* fine_recorded[2] = {recorded_f[0] + word.begin, recorded_f[1] + word.begin};
      const std::size_t last = std::min(around + 2 * kDecimation, recorded_frames - word.begin - 1);
      word_lag =
          BestLag(fine_sent, word.end - word.begin, fine_recorded, recorded_frames - word.begin,
                  std::min(around > 2 * kDecimation ? around - 2 * kDecimation : 0, last), last);
    }
    for (int c = 0; c < 2; ++c) {
      MeasureArrival(w == 0 ? sent.left : sent.right, word, recorded_f[c], recorded_frames,
                     word_lag, c, arrivals[w]);
    }
    DecideHeard(arrivals[w]);
    word_lags[w] = word_lag;
  }
  result.verdict = Decide(result.left_word, result.right_word);
  if (result.verdict != LoopbackVerdict::silent) {
    // The sound arrived where its first word that was heard puts it.
    const bool heard[2] = {result.left_word.heard[0] || result.left_word.heard[1],
                           result.right_word.heard[0] || result.right_word.heard[1]};
    int first = heard[0] ? 0 : 1;
    if (heard[0] && heard[1] && words[1].begin < words[0].begin) first = 1;
    result.arrival_ms = word_lags[first] * 1000.0 / rate;
  }
  return result;
}
