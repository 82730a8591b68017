#include "app/cross_correlation.h"

#include <algorithm>
#include <complex>

#include "app/real_fft.h"

std::vector<std::vector<std::vector<double>>> CrossCorrelate(
    const std::vector<const std::vector<float>*>& probes,
    const std::vector<const std::vector<float>*>& signals, std::size_t lags) {
  std::vector<std::vector<std::vector<double>>> result(
      probes.size(), std::vector<std::vector<double>>(signals.size()));
  if (lags == 0 || probes.empty() || signals.empty()) return result;
  std::size_t probe_length = 0, signal_length = 0;
  for (const auto* probe : probes) probe_length = std::max(probe_length, probe->size());
  for (const auto* signal : signals) signal_length = std::max(signal_length, signal->size());
  // Long enough that no lag wraps a probe's end around onto the signal's
  // start, and that the whole signal fits.
  std::size_t size = 2;
  while (size < std::max(signal_length, probe_length + lags)) size *= 2;
  const auto fft = MakeRealFft(size);
  const std::size_t bins = size / 2 + 1;

  std::vector<double> samples(size);
  auto spectrum = [&](const std::vector<float>& channel) {
    std::fill(samples.begin(), samples.end(), 0.0);
    std::copy(channel.begin(), channel.end(), samples.begin());
    std::vector<std::complex<double>> out(bins);
    fft->Forward(samples.data(), out.data());
    return out;
  };
  std::vector<std::vector<std::complex<double>>> signal_spectra;
  for (const auto* signal : signals) signal_spectra.push_back(spectrum(*signal));
  std::vector<std::complex<double>> product(bins);
  for (std::size_t p = 0; p < probes.size(); ++p) {
    const auto probe = spectrum(*probes[p]);
    for (std::size_t s = 0; s < signals.size(); ++s) {
      for (std::size_t k = 0; k < bins; ++k)
        product[k] = std::conj(probe[k]) * signal_spectra[s][k];
      fft->Inverse(product.data(), samples.data());
      std::vector<double>& out = result[p][s];
      out.resize(lags);
      const double scale = 1.0 / static_cast<double>(size);
      for (std::size_t lag = 0; lag < lags; ++lag) out[lag] = samples[lag] * scale;
    }
  }
  return result;
}
