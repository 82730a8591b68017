#include <fftw3.h>

#include <mutex>

#include "app/real_fft.h"

namespace {

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex planner_lock;

// The transform through FFTW: plans made once per object (estimated, not
// measured, so that making one costs no time), run on buffers of FFTW's own
// alignment.
class FftwRealFft : public RealFft {
 public:
  explicit FftwRealFft(std::size_t size)
      : RealFft(size), samples_(fftw_alloc_real(size)), bins_(fftw_alloc_complex(size / 2 + 1)) {
    std::lock_guard<std::mutex> hold(planner_lock);
    const int n = static_cast<int>(size);
    forward_ = fftw_plan_dft_r2c_1d(n, samples_, bins_, FFTW_ESTIMATE);
    inverse_ = fftw_plan_dft_c2r_1d(n, bins_, samples_, FFTW_ESTIMATE);
  }

  ~FftwRealFft() override {
    std::lock_guard<std::mutex> hold(planner_lock);
    fftw_destroy_plan(forward_);
    fftw_destroy_plan(inverse_);
    fftw_free(samples_);
    fftw_free(bins_);
  }

  FftwRealFft(const FftwRealFft&) = delete;
  FftwRealFft& operator=(const FftwRealFft&) = delete;

  void Forward(const double* samples, std::complex<double>* bins) override {
    for (std::size_t n = 0; n < Size(); ++n) samples_[n] = samples[n];
    fftw_execute(forward_);
    for (std::size_t k = 0; k <= Size() / 2; ++k) bins[k] = {bins_[k][0], bins_[k][1]};
  }

  void Inverse(const std::complex<double>* bins, double* samples) override {
    // The inverse plan overwrites its input; it is our own copy.
    for (std::size_t k = 0; k <= Size() / 2; ++k) {
      bins_[k][0] = bins[k].real();
      bins_[k][1] = bins[k].imag();
    }
    fftw_execute(inverse_);
    for (std::size_t n = 0; n < Size(); ++n) samples[n] = samples_[n];
  }

 private:
  double* samples_;
  fftw_complex* bins_;
  fftw_plan forward_ = nullptr;
  fftw_plan inverse_ = nullptr;
};

}  // namespace

std::unique_ptr<RealFft> MakeRealFft(std::size_t size) {
  return std::make_unique<FftwRealFft>(size);
}
