#include "app/real_fft.h"

// Debian has no build of the FFT library for MinGW-w64: the Windows programs
// use the portable transform.
std::unique_ptr<RealFft> MakeRealFft(std::size_t size) {
  return MakePortableRealFft(size);
}
