#pragma once

#include <cstdint>
#include <mutex>

#include "app/loopback_analysis.h"
#include "stream/dsp_component.h"

// A chain component that keeps a copy of the PCM stream passing through it
// (8 or 16 bit; a single channel counts for both sides, channels beyond the
// second are ignored). Buffers pass on unchanged.
class TSampleTap : public TMMDSPComponent {
 public:
  explicit TSampleTap(TComponent* owner) : TMMDSPComponent(owner) {}

  // Called on whatever thread hands the chain its buffers.
  void BufferReady(PWaveHdr lpWaveHdr) override;

  StereoSamples Samples() const;
  std::size_t Frames() const;
  std::uint32_t SampleRate() const;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  mutable std::mutex lock_;
  StereoSamples samples_;
  std::uint32_t rate_ = 0;
};
