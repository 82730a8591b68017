// Microsoft ADPCM and IMA ADPCM (4 bits a sample) to 16-bit PCM, block by block, with the
// formats' reference arithmetic: IMA builds each difference from the step and its halves,
// Microsoft ADPCM predicts with an arithmetic shift, so that every decoder that follows the
// reference gives the same samples.

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/acm/acm_codec.h"
#include "platform/acm/acm_formats.h"
#include "platform/acm/msacm.h"

namespace platform {

namespace {

constexpr std::array<std::int16_t, 89> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 8> kImaIndexSteps = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr std::array<int, 16> kMsAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                               768, 614, 512, 409, 307, 230, 230, 230};
constexpr std::array<std::array<int, 2>, 7> kMsStandardCoefs = {
    {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};
// Larger steps would overflow the next adaptation.
constexpr int kMsMaxDelta = 0x7FFFFFFF / 768;

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

std::int16_t Le16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

void Put16(std::uint8_t* p, std::int16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

// What both formats share: blocks of a known number of samples per channel, and a partial
// last block that gives the samples its bytes hold, as far as they go.
class BlockDecoder : public AcmCodec {
 public:
  BlockDecoder(int channels, std::uint32_t block, int samplesPerBlock)
      : channels_(channels), block_(block), samples_(samplesPerBlock) {}

  std::uint32_t SourceBlock() const override { return block_; }
  std::uint64_t OutputBound(std::uint64_t sourceBytes) const override {
    return (sourceBytes + block_ - 1) / block_ * FrameBytes() * samples_;
  }
  std::uint64_t InputFor(std::uint64_t destBytes) const override {
    return destBytes / (FrameBytes() * samples_) * block_;
  }
  bool Convert(const std::uint8_t* src, std::uint32_t bytes, AcmBytes& out) override {
    for (std::uint32_t at = 0; at + block_ <= bytes; at += block_) Decode(src + at, samples_, out);
    return true;
  }
  bool Flush(const std::uint8_t* tail, std::uint32_t bytes, AcmBytes& out) override {
    const int samples = bytes < block_ ? std::min(PartialSamples(bytes), samples_) : 0;
    if (samples > 0) Decode(tail, samples, out);
    return true;
  }
  void Restart() override {}

 protected:
  // Frames that a partial block of `bytes` bytes holds completely; 0 without a whole header.
  virtual int PartialSamples(std::uint32_t bytes) const = 0;
  // Writes `samples` frames of interleaved 16-bit PCM from the block at `in`; false when
  // its header cannot be decoded.
  virtual bool DecodeBlock(const std::uint8_t* in, int samples, std::uint8_t* out) const = 0;

  int channels_;
  std::uint32_t block_;
  int samples_;

 private:
  std::uint64_t FrameBytes() const { return std::uint64_t(channels_) * 2; }
  // A block whose header cannot be decoded gives nothing.
  void Decode(const std::uint8_t* in, int samples, AcmBytes& out) const {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(samples) * FrameBytes());
    if (!DecodeBlock(in, samples, out.data() + start)) out.resize(start);
  }
};

class ImaDecoder final : public BlockDecoder {
 public:
  ImaDecoder(int channels, std::uint32_t block)
      : BlockDecoder(channels, block, static_cast<int>(block - 4 * channels) * 2 / channels + 1) {}

 private:
  // The header's sample, then eight samples for every whole 4-byte word of each channel.
  int PartialSamples(std::uint32_t bytes) const override {
    const std::uint32_t header = 4 * static_cast<std::uint32_t>(channels_);
    if (bytes < header) return 0;
    return static_cast<int>((bytes - header) / header) * 8 + 1;
  }

  bool DecodeBlock(const std::uint8_t* in, int samples, std::uint8_t* out) const override {
    const int frame = channels_ * 2;
    for (int c = 0; c < channels_; ++c) {
      const std::uint8_t* header = in + 4 * c;
      int sample = Le16(header);
      int index = header[2];
      // An out-of-range step index starts from the smallest step.
      if (index > 88) index = 0;
      Put16(out + c * 2, static_cast<std::int16_t>(sample));
      // Each channel's data: 4-byte words, one word per channel in turn, low nibble first.
      const std::uint8_t* data = in + 4 * channels_ + 4 * c;
      for (int n = 1; n < samples; ++n) {
        const int k = n - 1;
        const std::uint8_t byte = data[(k / 8) * 4 * channels_ + (k % 8) / 2];
        const int code = (k % 2 == 0) ? (byte & 0x0F) : (byte >> 4);
        const int step = kImaSteps[static_cast<std::size_t>(index)];
        int diff = step >> 3;
        if (code & 4) diff += step;
        if (code & 2) diff += step >> 1;
        if (code & 1) diff += step >> 2;
        sample = Clamp16((code & 8) ? sample - diff : sample + diff);
        index = std::clamp(index + kImaIndexSteps[code & 7], 0, 88);
        Put16(out + n * frame + c * 2, static_cast<std::int16_t>(sample));
      }
    }
    return true;
  }
};

class MsDecoder final : public BlockDecoder {
 public:
  MsDecoder(int channels, std::uint32_t block, int samplesPerBlock,
            std::vector<std::array<int, 2>> coefs)
      : BlockDecoder(channels, block, samplesPerBlock), coefs_(std::move(coefs)) {}

 private:
  struct State {
    int c1, c2, delta, s1, s2;
  };

  // The header's two samples, then one sample for every nibble of each channel.
  int PartialSamples(std::uint32_t bytes) const override {
    const std::uint32_t header = 7 * static_cast<std::uint32_t>(channels_);
    if (bytes < header) return 0;
    return static_cast<int>(2 * (bytes - header) / static_cast<std::uint32_t>(channels_)) + 2;
  }

  bool DecodeBlock(const std::uint8_t* in, int samples, std::uint8_t* out) const override {
    const int frame = channels_ * 2;
    std::array<State, 2> state{};
    for (int c = 0; c < channels_; ++c) {
      const unsigned predictor = in[c];
      if (predictor >= coefs_.size()) return false;
      State& s = state[static_cast<std::size_t>(c)];
      s.c1 = coefs_[predictor][0];
      s.c2 = coefs_[predictor][1];
      s.delta = std::min<int>(Le16(in + channels_ + 2 * c), kMsMaxDelta);
      s.s1 = Le16(in + 3 * channels_ + 2 * c);
      s.s2 = Le16(in + 5 * channels_ + 2 * c);
      // The block begins with the older of the two samples.
      Put16(out + c * 2, static_cast<std::int16_t>(s.s2));
      Put16(out + frame + c * 2, static_cast<std::int16_t>(s.s1));
    }
    const std::uint8_t* data = in + 7 * channels_;
    // Nibbles in order, high first: channels alternate from nibble to nibble.
    for (int i = 0; i < (samples - 2) * channels_; ++i) {
      const int code = (i % 2 == 0) ? (data[i / 2] >> 4) : (data[i / 2] & 0x0F);
      const int c = i % channels_;
      State& s = state[static_cast<std::size_t>(c)];
      const std::int64_t prediction = (std::int64_t{s.s1} * s.c1 + std::int64_t{s.s2} * s.c2) >> 8;
      const int signed_code = code - ((code & 8) << 1);
      const std::int16_t sample = Clamp16(prediction + std::int64_t{signed_code} * s.delta);
      s.delta = std::clamp((kMsAdaptation[static_cast<std::size_t>(code)] * s.delta) >> 8, 16,
                           kMsMaxDelta);
      s.s2 = s.s1;
      s.s1 = sample;
      Put16(out + (2 + i / channels_) * frame + c * 2, sample);
    }
    return true;
  }

  std::vector<std::array<int, 2>> coefs_;
};

// The coefficient pairs and samples per block a Microsoft ADPCM header carries after its
// 18 bytes; the standard pairs when it carries none.
void MsExtra(const WAVEFORMATEX& src, int& samplesPerBlock,
             std::vector<std::array<int, 2>>& coefs) {
  const int channels = src.nChannels;
  samplesPerBlock = (static_cast<int>(src.nBlockAlign) - 7 * channels) * 2 / channels + 2;
  coefs.assign(kMsStandardCoefs.begin(), kMsStandardCoefs.end());
  if (src.cbSize < 4) return;
  const auto* extra = reinterpret_cast<const std::uint8_t*>(&src) + sizeof(WAVEFORMATEX);
  const int stated = static_cast<std::uint16_t>(Le16(extra));
  if (stated >= 2 && stated <= samplesPerBlock) samplesPerBlock = stated;
  const int count = static_cast<std::uint16_t>(Le16(extra + 2));
  if (count < 1 || src.cbSize < 4 + 4 * count) return;
  coefs.clear();
  for (int i = 0; i < count; ++i) {
    coefs.push_back({Le16(extra + 4 + 4 * i), Le16(extra + 6 + 4 * i)});
  }
}

}  // namespace

std::unique_ptr<AcmCodec> MakeAdpcmDecoder(const WAVEFORMATEX& src) {
  if (ClassifyAcmSource(src).route != AcmRoute::Adpcm) return nullptr;
  if (src.wFormatTag == WAVE_FORMAT_IMA_ADPCM) {
    return std::make_unique<ImaDecoder>(src.nChannels, src.nBlockAlign);
  }
  int samplesPerBlock = 0;
  std::vector<std::array<int, 2>> coefs;
  MsExtra(src, samplesPerBlock, coefs);
  return std::make_unique<MsDecoder>(src.nChannels, src.nBlockAlign, samplesPerBlock,
                                     std::move(coefs));
}

}  // namespace platform
