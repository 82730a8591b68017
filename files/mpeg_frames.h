#pragma once

// Counting the samples of an MPEG audio Layer-3 stream from its frame headers alone, for
// wave files that give neither an average byte rate nor a sample count: each frame holds a
// fixed number of samples (1152 for MPEG-1, 576 for MPEG-2 and 2.5), and its header gives
// its size, so the count needs no decoding.

#include <cstddef>
#include <cstdint>

class TMpegFrameCounter {
 public:
  // Takes the next `size` bytes of the stream; pieces may split frames and headers anywhere.
  void Feed(const std::uint8_t* data, std::size_t size);
  // Samples (frames of all channels) of the whole frames seen so far.
  std::int64_t Samples() const { return samples_; }

 private:
  std::int64_t samples_ = 0;
  std::int64_t skip_ = 0;       // bytes of the current frame still to pass over
  std::uint8_t carry_[3] = {};  // the start of a header split between two pieces
  std::size_t carried_ = 0;
};
