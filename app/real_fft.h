#pragma once

#include <complex>
#include <cstddef>
#include <memory>

// The discrete Fourier transform of real signals whose length is a power of
// two. One object serves one length; an object is used by one thread at a
// time.
class RealFft {
 public:
  virtual ~RealFft() = default;
  std::size_t Size() const { return size_; }
  // Size() samples to the Size() / 2 + 1 bins from 0 Hz to half the rate.
  virtual void Forward(const double* samples, std::complex<double>* bins) = 0;
  // The other way, unscaled: Forward then Inverse gives Size() times the
  // samples.
  virtual void Inverse(const std::complex<double>* bins, double* samples) = 0;

 protected:
  explicit RealFft(std::size_t size) : size_(size) {}

 private:
  std::size_t size_;
};

// The fastest transform this build has for `size` (a power of two, at least
// 2): the system's FFT library where the build has one, else the portable
// one.
std::unique_ptr<RealFft> MakeRealFft(std::size_t size);
// Our own radix-2 transform, for builds without the library.
std::unique_ptr<RealFft> MakePortableRealFft(std::size_t size);
