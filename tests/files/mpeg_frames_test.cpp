#include "files/mpeg_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A Layer-3 frame: its header and a body that looks like headers, which must be passed over.
void AddFrame(Bytes& stream, std::uint8_t b1, std::uint8_t b2, std::size_t size) {
  const std::size_t start = stream.size();
  stream.resize(start + size, 0xFF);
  stream[start] = 0xFF;
  stream[start + 1] = b1;
  stream[start + 2] = b2;
  stream[start + 3] = 0x00;
}

}  // namespace

TEST(MpegFrameCounter, CountsSamplesOfWholeFramesHoweverTheStreamIsCut) {
  Bytes stream = {'I', 'D', 0xFF, 0x00};                  // leading bytes that are no frame
  AddFrame(stream, 0xFB, 0x90, 417);                      // MPEG-1, 128 kbit/s, 44100 Hz: 417 bytes
  AddFrame(stream, 0xFB, 0x92, 418);                      // the same with its padding byte
  AddFrame(stream, 0xF3, 0x18, 36);                       // MPEG-2, 8 kbit/s, 16000 Hz
  AddFrame(stream, 0xE3, 0x18, 72);                       // MPEG-2.5, 8 kbit/s, 8000 Hz
  stream.insert(stream.end(), {0xFF, 0xFD, 0x90, 0x00});  // Layer II: not counted
  const std::int64_t want = 1152 + 1152 + 576 + 576;

  TMpegFrameCounter whole;
  whole.Feed(stream.data(), stream.size());
  EXPECT_EQ(whole.Samples(), want);
  for (std::size_t piece : {1u, 2u, 3u, 5u, 417u}) {
    TMpegFrameCounter cut;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      cut.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    }
    EXPECT_EQ(cut.Samples(), want) << "pieces of " << piece;
  }
  // Reserved version, bit rate and sample rate indexes are no headers.
  for (const Bytes& bad : {Bytes{0xFF, 0xEB, 0x90, 0}, Bytes{0xFF, 0xFB, 0xF0, 0},
                           Bytes{0xFF, 0xFB, 0x0C, 0}, Bytes{0xFF, 0xFB, 0x9C, 0}}) {
    TMpegFrameCounter none;
    none.Feed(bad.data(), bad.size());
    EXPECT_EQ(none.Samples(), 0);
  }
}
