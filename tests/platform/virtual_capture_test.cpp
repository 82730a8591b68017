#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/virtual/virtual_backend.h"

namespace platform {
namespace {

// Collects what a stream delivers.
struct Collected {
  std::mutex mutex;
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> pieces;
  std::atomic<int> lost{0};

  CaptureCallbacks Callbacks() {
    CaptureCallbacks callbacks;
    callbacks.data = [this](const std::uint8_t* data, std::size_t size) {
      std::lock_guard<std::mutex> lock(mutex);
      bytes.insert(bytes.end(), data, data + size);
      pieces.push_back(size);
    };
    callbacks.lost = [this] { ++lost; };
    return callbacks;
  }
  std::size_t Size() {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes.size();
  }
};

class ManualClock : public ::testing::Test {
 protected:
  void SetUp() override { VirtualClock::SetManual(true); }
  void TearDown() override { VirtualClock::SetManual(false); }
};

TEST(VirtualSignal, ExactValues) {
  // 1000 Hz at 4000 Hz: the sine is exactly 0, 1, 0, -1 at n = 0, 1, 2, 3.
  VirtualInput full{"Full", true, 1000, 0, -6};
  EXPECT_EQ(VirtualSampleValue(full, 0, 0, 4000, 16), 0);
  EXPECT_EQ(VirtualSampleValue(full, 0, 1, 4000, 16), 32767);
  EXPECT_EQ(VirtualSampleValue(full, 0, 2, 4000, 16), 0);
  EXPECT_EQ(VirtualSampleValue(full, 0, 3, 4000, 16), -32767);
  EXPECT_EQ(VirtualSampleValue(full, 0, 1, 4000, 8), 255);
  EXPECT_EQ(VirtualSampleValue(full, 0, 2, 4000, 8), 128);
  EXPECT_EQ(VirtualSampleValue(full, 0, 3, 4000, 8), 1);
  // -6 dBFS: 32767 * 0.501187... = 16422.3 and 127 * 0.501187... = 63.65.
  EXPECT_EQ(VirtualSampleValue(full, 1, 1, 4000, 16), 16422);
  EXPECT_EQ(VirtualSampleValue(full, 1, 3, 4000, 16), -16422);
  EXPECT_EQ(VirtualSampleValue(full, 1, 1, 4000, 8), 128 + 64);
  EXPECT_EQ(VirtualSampleValue(full, 1, 3, 4000, 8), 128 - 64);
  // Channels 2 and 3 repeat left and right.
  EXPECT_EQ(VirtualSampleValue(full, 2, 1, 4000, 16), 32767);
  EXPECT_EQ(VirtualSampleValue(full, 3, 1, 4000, 16), 16422);
  // Silence.
  VirtualInput quiet{"Quiet"};
  EXPECT_EQ(VirtualSampleValue(quiet, 0, 1, 4000, 16), 0);
  EXPECT_EQ(VirtualSampleValue(quiet, 1, 1, 4000, 8), 128);
}

TEST_F(ManualClock, FourChannelsRepeatTheStereoPatternAndFramesFollowTheClock) {
  VirtualAudioBackend backend(*ParseVirtualDeviceList("in=Tone@1000:0:-6", nullptr));
  Collected got;
  PcmFormat format{4000, 16, 4};
  auto stream = backend.OpenCapture("in:0", format, 0, got.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  stream->Start();
  VirtualClock::Advance(1);  // 4 frames
  ASSERT_EQ(got.Size(), 4u * 8u);
  auto sample = [&](std::size_t frame, std::size_t channel) {
    std::size_t at = (frame * 4 + channel) * 2;
    return static_cast<std::int16_t>(got.bytes[at] | (got.bytes[at + 1] << 8));
  };
  EXPECT_EQ(sample(1, 0), 32767);
  EXPECT_EQ(sample(1, 1), 16422);
  EXPECT_EQ(sample(1, 2), 32767);
  EXPECT_EQ(sample(1, 3), 16422);
  EXPECT_EQ(sample(3, 2), -32767);
  EXPECT_EQ(sample(3, 3), -16422);
}

TEST_F(ManualClock, DeliversFloorOfTimeTimesRateInSmallPieces) {
  VirtualAudioBackend backend(*ParseVirtualDeviceList("in=Tone@440:-3:-3", nullptr));
  Collected got;
  PcmFormat format{11025, 16, 2};
  // A preferred chunk below 10 ms makes the pieces smaller.
  auto stream = backend.OpenCapture("in:0", format, 200, got.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  VirtualClock::Advance(50);  // not started: nothing
  EXPECT_EQ(got.Size(), 0u);
  stream->Start();
  for (int ms = 1; ms <= 1000; ms += 7) {
    VirtualClock::Advance(7);
    std::uint64_t frames = static_cast<std::uint64_t>(ms + 6) * 11025 / 1000;
    ASSERT_EQ(got.Size(), frames * 4) << "after " << ms + 6 << " ms";
  }
  for (std::size_t piece : got.pieces) EXPECT_LE(piece, 200u);

  // A stop delivers nothing while stopped; the signal goes on where it was.
  std::size_t before = got.Size();
  stream->Stop();
  VirtualClock::Advance(100);
  EXPECT_EQ(got.Size(), before);
  stream->Start();
  VirtualClock::Advance(10);
  ASSERT_EQ(got.Size(), before + 110 * 4);
  VirtualInput input = backend.Devices().inputs[0];
  std::uint64_t n = before / 4;
  std::int16_t first = static_cast<std::int16_t>(got.bytes[before] | (got.bytes[before + 1] << 8));
  EXPECT_EQ(first, VirtualSampleValue(input, 0, n, 11025, 16));
}

TEST_F(ManualClock, RemovedInputIsLostOnce) {
  VirtualAudioBackend backend(*ParseVirtualDeviceList("in=A|B", nullptr));
  Collected got;
  auto stream = backend.OpenCapture("in:0", PcmFormat{8000, 8, 1}, 0, got.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  stream->Start();
  VirtualClock::Advance(10);
  EXPECT_EQ(got.Size(), 80u);
  for (std::uint8_t b : got.bytes) EXPECT_EQ(b, 128);
  backend.RemoveInput("in:0");
  backend.RemoveInput("in:0");
  EXPECT_EQ(got.lost.load(), 1);
  VirtualClock::Advance(10);
  stream->Start();
  VirtualClock::Advance(10);
  EXPECT_EQ(got.Size(), 80u);
  std::vector<AudioEndpoint> inputs = backend.Endpoints(AudioDirection::kInput);
  ASSERT_EQ(inputs.size(), 1u);
  EXPECT_EQ(inputs[0].id, "in:1");
  EXPECT_TRUE(inputs[0].is_default);
  std::string reason;
  EXPECT_EQ(backend.OpenCapture("in:0", PcmFormat{}, 0, {}, &reason), nullptr);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(backend.OpenCapture("in:7", PcmFormat{}, 0, {}, nullptr), nullptr);
  EXPECT_EQ(backend.OpenCapture("out:0", PcmFormat{}, 0, {}, nullptr), nullptr);
}

TEST(VirtualRealTimeClock, KeepsPaceWithoutRunningAhead) {
  VirtualAudioBackend backend(*ParseVirtualDeviceList("in=Tone@440:-6:-6", nullptr));
  Collected got;
  auto stream = backend.OpenCapture("in:0", PcmFormat{8000, 16, 1}, 0, got.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  auto start = std::chrono::steady_clock::now();
  stream->Start();
  // 0.3 s of frames (4800 bytes) can never arrive in less than 0.3 s.
  while (got.Size() < 4800 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  stream->Stop();
  ASSERT_GE(got.Size(), 4800u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
  std::lock_guard<std::mutex> lock(got.mutex);
  for (std::size_t piece : got.pieces) EXPECT_LE(piece, 80u * 2);  // 10 ms
  for (std::size_t n = 0; n < 2400; ++n) {
    auto value = static_cast<std::int16_t>(got.bytes[2 * n] | (got.bytes[2 * n + 1] << 8));
    ASSERT_EQ(value, VirtualSampleValue(backend.Devices().inputs[0], 0, n, 8000, 16)) << n;
  }
}

}  // namespace
}  // namespace platform
