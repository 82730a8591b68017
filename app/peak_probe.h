#pragma once

#include <atomic>

#include "stream/dsp_component.h"

// A chain component that measures the peak of each channel of the PCM
// stream passing through it (8 or 16 bit; channels beyond the second are
// ignored). Buffers pass on unchanged.
class TPeakProbe : public TMMDSPComponent {
 public:
  explicit TPeakProbe(TComponent* owner) : TMMDSPComponent(owner) {}

  void BufferReady(PWaveHdr lpWaveHdr) override;

  // Peaks as a fraction of full scale (0 ... 1) since the last ResetPeaks.
  double PeakLeft() const { return peak_[0] / full_scale_; }
  double PeakRight() const { return peak_[1] / full_scale_; }
  long long BytesSeen() const { return bytes_; }
  void ResetPeaks();

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  std::atomic<int> peak_[2] = {0, 0};
  double full_scale_ = 32768.0;
  std::atomic<long long> bytes_{0};
};

// "-6.0" for a peak of 0.5: one decimal of dBFS, "-inf" for silence.
std::string FormatDbfs(double peak);
