#include "playback/pitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "devices/wave_format.h"
#include "platform/framework/properties.h"

namespace {

constexpr float kMaxPitch = 50.0f;
constexpr const char* kInvalidWaveFormat = "Invalid WaveFormat";

std::uint32_t StepOf(float pitch) {
  return static_cast<std::uint32_t>(
      std::trunc((static_cast<double>(pitch) + 50.0) * 65536.0 / 100.0 + 32768.0));
}

}  // namespace

bool TMMPitch::GetEnabled() const {
  std::lock_guard<std::mutex> lock(lock_);
  return enabled_;
}

void TMMPitch::SetEnabled(bool value) {
  std::lock_guard<std::mutex> lock(lock_);
  enabled_ = value;
}

float TMMPitch::GetPitch() const {
  std::lock_guard<std::mutex> lock(lock_);
  return pitch_;
}

void TMMPitch::SetPitch(float value) {
  if (std::isnan(value)) value = 0;
  value = std::clamp(value, -kMaxPitch, kMaxPitch);
  std::lock_guard<std::mutex> lock(lock_);
  pitch_ = value;
  step_ = StepOf(value);
}

std::uint32_t TMMPitch::Step() const {
  std::lock_guard<std::mutex> lock(lock_);
  return step_;
}

void TMMPitch::SetInputFormat(const WAVEFORMATEX* format) {
  // 8- and 16-bit PCM of any shape is taken; what the stage cannot resample
  // (more channels, other rates) passes through unchanged.
  if (format != nullptr && !Is8Or16BitPCMFormat(format)) throw EMMPitchError(kInvalidWaveFormat);
  TMMDSPComponent::SetInputFormat(format);
}

void TMMPitch::Clear() {
  std::lock_guard<std::mutex> lock(lock_);
  held_.clear();
  position_ = 0;
  input_ended_ = false;
}

void TMMPitch::Opened() {
  Clear();
  TMMDSPComponent::Opened();
}

void TMMPitch::Started() {
  Clear();
  TMMDSPComponent::Started();
}

void TMMPitch::Stopped() {
  Clear();
  TMMDSPComponent::Stopped();
}

void TMMPitch::Reset() {
  Clear();
  TMMDSPComponent::Reset();
}

bool TMMPitch::PullInput(PWaveHdr h, std::uint32_t block) {
  const DWORD size = std::max<DWORD>(h->dwBufferLength, block);
  scratch_.resize(size);
  TMMWaveHdr in{};
  in.lpData = scratch_.data();
  in.dwBufferLength = size;
  in.bLooping = h->bLooping;
  in.dwLoopCount = h->dwLoopCount;
  in.dwLoopsLeft = h->dwLoopsLeft;
  bool more = false;
  TMMDSPComponent::BufferLoad(&in, more);
  h->dwLoopsLeft = in.dwLoopsLeft;
  if (in.bLoopDone) h->bLoopDone = -1;
  // Whole frames only; a source never gets to claim more than the buffer holds.
  const DWORD got = std::min(in.dwBytesRecorded, size) / block * block;
  held_.insert(held_.end(), scratch_.data(), scratch_.data() + got);
  return more && got > 0;
}

std::int32_t TMMPitch::Sample(std::size_t index, unsigned channel, unsigned bits) const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  const std::size_t at = index * f->nBlockAlign + channel * (bits / 8);
  if (bits == 8) return static_cast<std::int32_t>(static_cast<std::uint8_t>(held_[at])) - 128;
  std::int16_t v;
  std::memcpy(&v, held_.data() + at, sizeof v);
  return v;
}

void TMMPitch::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  std::unique_lock<std::mutex> lock(lock_);
  const WAVEFORMATEX* f = GetPWaveFormat();
  const bool resample = enabled_ && f != nullptr && IsSupportedPCMFormat(f) &&
                        (step_ != kMMPitchUnityStep || !held_.empty());
  if (!resample) {
    lock.unlock();
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  PWaveHdr h = lpWaveHdr;
  const std::uint32_t block = f->nBlockAlign;
  const unsigned bits = f->wBitsPerSample;
  const unsigned channels = f->nChannels;
  const std::size_t capacity = h->dwBufferLength / block;
  std::size_t out = 0;
  while (out < capacity) {
    const std::size_t frames = held_.size() / block;
    const std::size_t index = static_cast<std::size_t>(position_ >> 16);
    // A frame is made from two neighbours; only the input's last one stands alone.
    if (index + 1 >= frames && !input_ended_) {
      if (!PullInput(h, block)) input_ended_ = true;
      continue;
    }
    if (index >= frames) break;
    const auto frac = static_cast<std::int64_t>(position_ & 0xFFFF);
    char* frame = h->lpData + out * block;
    for (unsigned c = 0; c < channels; ++c) {
      const std::int64_t a = Sample(index, c, bits);
      const std::int64_t b = index + 1 < frames ? Sample(index + 1, c, bits) : a;
      const auto v = static_cast<std::int32_t>(a + (b - a) * frac / 65536);
      if (bits == 8) {
        frame[c] = static_cast<char>(static_cast<std::uint8_t>(v + 128));
      } else {
        const auto s = static_cast<std::int16_t>(v);
        std::memcpy(frame + c * 2, &s, sizeof s);
      }
    }
    ++out;
    position_ += step_;
  }
  const std::size_t consumed =
      std::min(static_cast<std::size_t>(position_ >> 16), held_.size() / block);
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(consumed * block));
  position_ -= static_cast<std::uint64_t>(consumed) << 16;
  h->dwBytesRecorded = static_cast<DWORD>(out * block);
  // More follows while a frame can still be made.
  MoreBuffers = !input_ended_ || static_cast<std::size_t>(position_ >> 16) < held_.size() / block;
}

const TClassInfo& TMMPitch::StaticClassInfo() {
  using P = TMMPitch;
  static const TClassInfo info =
      TClassInfoBuilder<P>("TMMPitch", &TMMDSPComponent::StaticClassInfo())
          .Creatable()
          .Ref<TMMDSPComponent>("Input", &P::GetInput, &P::SetInput)
          .Ref<TMMDSPComponent>("Output", &P::GetOutput, &P::SetOutput)
          .Bool("Enabled", &P::GetEnabled, &P::SetEnabled)
          .Float("Pitch", &P::GetPitch, &P::SetPitch)
          .Build();
  return info;
}
