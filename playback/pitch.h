#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/framework/exception.h"
#include "stream/dsp_component.h"

class EMMPitchError : public Exception {
 public:
  using Exception::Exception;
};

// Step of the pitch stage at which the data pass unchanged (16.16 fixed point).
inline constexpr std::uint32_t kMMPitchUnityStep = 65536;

// Changes the playback speed of a PCM stream by a factor (100 + Pitch) / 100:
// each buffer pulled through it is filled from as many input frames as that
// factor says, by linear interpolation between neighbouring frames, and keeps
// the format's rate. At the unity step (Pitch 0), or when disabled, every
// pull is passed straight to its Input, so the data reach the output
// unchanged. Only 8- and 16-bit PCM is accepted; what it cannot resample
// (other than 1, 2 or 4 channels, rates outside 4000 ... 100000 Hz) passes
// through unchanged at every pitch.
//
// BufferLoad runs on the thread that pulls (the output's); the notifications
// and property changes on the GUI thread. A lock keeps the two apart.
class TMMPitch : public TMMDSPComponent {
 public:
  explicit TMMPitch(TComponent* owner) : TMMDSPComponent(owner) {}

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  bool GetEnabled() const;
  void SetEnabled(bool value);
  float GetPitch() const;
  // Percent, limited to -50 ... 50.
  void SetPitch(float value);
  // The rate factor as a 16.16 step: Trunc((Pitch + 50) * 65536 / 100 + 32768).
  std::uint32_t Step() const;

  // Raises EMMPitchError "Invalid WaveFormat" for anything but 8- or 16-bit
  // PCM.
  void SetInputFormat(const WAVEFORMATEX* format) override;

  // A new run or a jump of position drops the frames held back.
  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;

  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  void Clear();
  // Pulls one buffer from Input into the held frames; false at the end of
  // the input. Loop fields go up with it and the answers come back into h.
  bool PullInput(PWaveHdr h, std::uint32_t block);
  // Frame `index` of the held frames, channel `channel`, as a signed value.
  std::int32_t Sample(std::size_t index, unsigned channel, unsigned bits) const;

  mutable std::mutex lock_;
  bool enabled_ = true;
  float pitch_ = 0;
  std::uint32_t step_ = kMMPitchUnityStep;
  // Input frames not yet passed, and the read position into them (16.16).
  std::vector<char> held_;
  std::uint64_t position_ = 0;
  bool input_ended_ = false;
  std::vector<char> scratch_;
};
