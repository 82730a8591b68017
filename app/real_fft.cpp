#include "app/real_fft.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

// An iterative radix-2 transform over complex data, of the real signal's
// length: simple rather than fast, for builds without the FFT library.
class PortableRealFft : public RealFft {
 public:
  explicit PortableRealFft(std::size_t size) : RealFft(size), data_(size), twiddles_(size / 2) {
    const double step = -2 * std::acos(-1.0) / static_cast<double>(size);
    for (std::size_t k = 0; k < size / 2; ++k) {
      twiddles_[k] = std::polar(1.0, step * static_cast<double>(k));
    }
  }

  void Forward(const double* samples, std::complex<double>* bins) override {
    for (std::size_t n = 0; n < Size(); ++n) data_[n] = samples[n];
    Transform(false);
    for (std::size_t k = 0; k <= Size() / 2; ++k) bins[k] = data_[k];
  }

  void Inverse(const std::complex<double>* bins, double* samples) override {
    // The spectrum of a real signal is symmetric: the upper half mirrors
    // the lower one.
    for (std::size_t k = 0; k <= Size() / 2; ++k) data_[k] = bins[k];
    for (std::size_t k = Size() / 2 + 1; k < Size(); ++k) data_[k] = std::conj(bins[Size() - k]);
    Transform(true);
    for (std::size_t n = 0; n < Size(); ++n) samples[n] = data_[n].real();
  }

 private:
  void Transform(bool inverse) {
    const std::size_t n = Size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
      std::size_t bit = n >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) std::swap(data_[i], data_[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
      const std::size_t stride = n / length;
      for (std::size_t start = 0; start < n; start += length) {
        for (std::size_t k = 0; k < length / 2; ++k) {
          std::complex<double> w = twiddles_[k * stride];
          if (inverse) w = std::conj(w);
          const std::complex<double> odd = w * data_[start + k + length / 2];
          data_[start + k + length / 2] = data_[start + k] - odd;
          data_[start + k] += odd;
        }
      }
    }
  }

  std::vector<std::complex<double>> data_;
  std::vector<std::complex<double>> twiddles_;
};

}  // namespace

std::unique_ptr<RealFft> MakePortableRealFft(std::size_t size) {
  return std::make_unique<PortableRealFft>(size);
}
