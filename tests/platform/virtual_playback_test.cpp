#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/audio/virtual/virtual_backend.h"

namespace platform {
namespace {

// Feeds a stream from a byte source and notes what the stream reports.
struct Source {
  std::mutex mutex;
  std::vector<std::uint8_t> data;
  std::size_t given = 0;
  std::uint64_t consumed = 0;
  std::uint64_t in_device = 0;
  int reports = 0;
  std::atomic<int> lost{0};

  PlaybackCallbacks Callbacks() {
    PlaybackCallbacks callbacks;
    callbacks.pull = [this](std::uint8_t* out, std::size_t bytes) {
      std::lock_guard<std::mutex> lock(mutex);
      std::size_t n = std::min(bytes, data.size() - given);
      std::memcpy(out, data.data() + given, n);
      given += n;
      return n;
    };
    callbacks.consumed = [this](std::uint64_t total, std::uint64_t held) {
      std::lock_guard<std::mutex> lock(mutex);
      EXPECT_GE(total, consumed);
      consumed = total;
      in_device = held;
      ++reports;
    };
    callbacks.lost = [this] { ++lost; };
    return callbacks;
  }
  void Add(std::size_t bytes, std::uint8_t first) {
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 0; i < bytes; ++i) data.push_back(static_cast<std::uint8_t>(first + i));
  }
  std::size_t Given() {
    std::lock_guard<std::mutex> lock(mutex);
    return given;
  }
  std::uint64_t Consumed() {
    std::lock_guard<std::mutex> lock(mutex);
    return consumed;
  }
  std::uint64_t InDevice() {
    std::lock_guard<std::mutex> lock(mutex);
    return in_device;
  }
};

std::vector<std::uint8_t> Samples16(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) {
    auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

class VirtualPlayback : public ::testing::Test {
 protected:
  void SetUp() override { VirtualClock::SetManual(true); }
  void TearDown() override { VirtualClock::SetManual(false); }
  VirtualAudioBackend backend{*ParseVirtualDeviceList("out=Speakers|Headset", nullptr)};
};

// 8000 Hz 8-bit mono: 8 bytes per millisecond.
TEST_F(VirtualPlayback, PullsAheadConsumesAtTheRateAndKeepsWhatItPlayed) {
  Source source;
  source.Add(1000, 0);
  PlaybackOptions options;
  options.latency_bytes = 160;  // 20 ms
  auto stream =
      backend.OpenPlayback("out:1", PcmFormat{8000, 8, 1}, options, source.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  // Stopped: it takes its latency's worth ahead but plays nothing.
  stream->Wake();
  EXPECT_EQ(source.Given(), 160u);
  VirtualClock::Advance(50);
  EXPECT_EQ(source.Consumed(), 0u);
  stream->Start();
  VirtualClock::Advance(10);
  EXPECT_EQ(source.Consumed(), 80u);
  EXPECT_EQ(source.Given(), 240u);  // topped up to 160 ahead
  VirtualClock::Advance(3);
  EXPECT_EQ(source.Consumed(), 104u);
  // Stopped: the clock goes on, nothing is consumed, nothing is lost.
  stream->Stop();
  VirtualClock::Advance(100);
  EXPECT_EQ(source.Consumed(), 104u);
  stream->Start();
  VirtualClock::Advance(200);  // runs dry after 1000 bytes; the rest is silence
  EXPECT_EQ(source.Consumed(), 1000u);
  std::vector<std::uint8_t> played = backend.Played("out:1");
  ASSERT_EQ(played.size(), 1000u);
  for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(played[i], static_cast<std::uint8_t>(i)) << i;
  EXPECT_TRUE(backend.Played("out:0").empty());
  // New data after running dry plays from now on, not from where it ran dry.
  source.Add(80, 0);
  stream->Wake();
  VirtualClock::Advance(5);
  EXPECT_EQ(source.Consumed(), 1040u);

  // A flush drops what was pulled ahead and counts it as consumed.
  source.Add(400, 0);
  stream->Wake();
  EXPECT_EQ(source.Given(), 1200u);
  stream->Flush();
  VirtualClock::Advance(5);
  EXPECT_EQ(source.Consumed(), 1200u + 40u);
  EXPECT_EQ(backend.Played("out:1").size(), 1080u);
  backend.ClearPlayed("out:1");
  EXPECT_TRUE(backend.Played("out:1").empty());

  // An output with a latency of its own: what it took is heard 30 ms later,
  // and held in the device until then.
  stream->Stop();
  backend.SetOutputLatency("out:0", std::chrono::milliseconds(30));
  Source slow;
  slow.Add(800, 0);
  auto late =
      backend.OpenPlayback("out:0", PcmFormat{8000, 8, 1}, options, slow.Callbacks(), nullptr);
  ASSERT_NE(late, nullptr);
  late->Start();
  VirtualClock::Advance(20);
  EXPECT_EQ(backend.Played("out:0").size(), 160u);
  EXPECT_EQ(backend.Heard("out:0"), 0u);
  EXPECT_EQ(slow.Consumed(), 0u);
  EXPECT_EQ(slow.InDevice(), 160u);
  VirtualClock::Advance(20);
  EXPECT_EQ(slow.Consumed(), 80u);
  EXPECT_EQ(slow.InDevice(), 240u);
  VirtualClock::Advance(100);  // ran dry at 100 ms; the device plays out what it holds
  EXPECT_EQ(slow.Consumed(), 800u);
  EXPECT_EQ(slow.InDevice(), 0u);
  EXPECT_EQ(backend.Heard("out:0"), 800u);
  late.reset();
  backend.ClearPlayed("out:0");

  // Unplugged: lost once, nothing more; gone from the list and not opened.
  backend.RemoveOutput("out:1");
  backend.RemoveOutput("out:1");
  EXPECT_EQ(source.lost.load(), 1);
  stream->Start();
  VirtualClock::Advance(100);
  EXPECT_TRUE(backend.Played("out:1").empty());
  std::vector<AudioEndpoint> outputs = backend.Endpoints(AudioDirection::kOutput);
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0].id, "out:0");
  std::string reason;
  EXPECT_EQ(backend.OpenPlayback("out:1", PcmFormat{}, {}, {}, &reason), nullptr);
  EXPECT_EQ(reason, "no virtual output \"out:1\"");
  EXPECT_EQ(backend.OpenPlayback("in:0", PcmFormat{}, {}, {}, nullptr), nullptr);
  EXPECT_EQ(backend.OpenPlayback("out:0", PcmFormat{44100, 24, 2}, {}, {}, &reason), nullptr);
  EXPECT_EQ(reason, "unsupported format");
  // The default output is now the first one left.
  backend.RemoveOutput("out:0");
  EXPECT_TRUE(backend.Endpoints(AudioDirection::kOutput).empty());
}

TEST_F(VirtualPlayback, VolumeScalesWhatIsHeardAndRateResamplesIt) {
  Source source;
  std::vector<std::uint8_t> stereo = Samples16({10000, -10000, 32767, -32768, 100, 7});
  source.data = stereo;
  auto stream =
      backend.OpenPlayback("out:0", PcmFormat{1000, 16, 2}, {}, source.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(stream->SetRate(2000));  // not opened with a variable rate
  stream->SetVolume(0.5, 0.25);
  stream->Start();
  VirtualClock::Advance(3);
  EXPECT_EQ(backend.Played("out:0"), Samples16({5000, -2500, 16384, -8192, 50, 2}));

  // 8-bit mono takes the louder side and scales around 128.
  Source mono;
  mono.data = {228, 28, 128, 255};
  auto eight = backend.OpenPlayback("out:1", PcmFormat{1000, 8, 1}, {}, mono.Callbacks(), nullptr);
  ASSERT_NE(eight, nullptr);
  eight->SetVolume(0.1, 0.5);
  eight->Start();
  VirtualClock::Advance(4);
  EXPECT_EQ(backend.Played("out:1"), (std::vector<std::uint8_t>{178, 78, 128, 192}));

  // At twice the rate every other frame reaches the device and the data
  // lasts half as long; at half the rate every frame is heard twice.
  Source fast;
  for (int i = 0; i < 8; ++i) fast.data.push_back(static_cast<std::uint8_t>(i));
  PlaybackOptions variable;
  variable.variable_rate = true;
  backend.ClearPlayed("out:1");
  auto rated =
      backend.OpenPlayback("out:1", PcmFormat{1000, 8, 1}, variable, fast.Callbacks(), nullptr);
  ASSERT_NE(rated, nullptr);
  EXPECT_FALSE(rated->SetRate(0));
  ASSERT_TRUE(rated->SetRate(2000));
  rated->Start();
  VirtualClock::Advance(2);
  EXPECT_EQ(fast.Consumed(), 4u);
  EXPECT_EQ(backend.Played("out:1"), (std::vector<std::uint8_t>{0, 2}));
  ASSERT_TRUE(rated->SetRate(500));
  VirtualClock::Advance(4);
  EXPECT_EQ(fast.Consumed(), 6u);
  EXPECT_EQ(backend.Played("out:1"), (std::vector<std::uint8_t>{0, 2, 4, 4, 5, 5}));
}

// The map a stream is opened with: the wave layout for the channel count
// without a mask, the mask's speakers in bit order with one.
TEST_F(VirtualPlayback, ChannelMapFollowsTheMaskElseTheWaveLayout) {
  using P = ChannelPosition;
  auto opened = [&](std::uint16_t channels, std::vector<P> map) {
    PlaybackOptions options;
    options.channel_map = std::move(map);
    Source source;
    auto stream = backend.OpenPlayback("out:1", PcmFormat{8000, 16, channels}, options,
                                       source.Callbacks(), nullptr);
    EXPECT_NE(stream, nullptr);
    return backend.OpenedChannelMap("out:1");
  };
  const std::vector<std::pair<unsigned, std::vector<P>>> layouts = {
      {1, {P::kMono}},
      {2, {P::kFrontLeft, P::kFrontRight}},
      {4, {P::kFrontLeft, P::kFrontRight, P::kBackLeft, P::kBackRight}},
      {6,
       {P::kFrontLeft, P::kFrontRight, P::kFrontCenter, P::kLowFrequency, P::kBackLeft,
        P::kBackRight}},
      {8,
       {P::kFrontLeft, P::kFrontRight, P::kFrontCenter, P::kLowFrequency, P::kBackLeft,
        P::kBackRight, P::kSideLeft, P::kSideRight}},
  };
  for (const auto& [channels, expected] : layouts) {
    EXPECT_EQ(WaveChannelMap(channels, 0), expected) << channels;
    // No map given, or one of the wrong length: the wave layout.
    EXPECT_EQ(opened(static_cast<std::uint16_t>(channels), {}), expected) << channels;
    EXPECT_EQ(opened(static_cast<std::uint16_t>(channels),
                     {P::kFrontCenter, P::kFrontCenter, P::kFrontCenter}),
              expected)
        << channels;
  }

  // Masks: a single front-centre channel (how mono is marked: mono) and a
  // single other one; 5.1 with side speakers; a stereo
  // pair of back speakers; fewer bits than channels (the rest auxiliary);
  // more bits than channels (the lowest ones count).
  const std::vector<std::tuple<unsigned, std::uint32_t, std::vector<P>>> masks = {
      {1, 0x4, {P::kMono}},
      {1, 0x2, {P::kFrontRight}},
      {2, 0x30, {P::kBackLeft, P::kBackRight}},
      {4, 0x107, {P::kFrontLeft, P::kFrontRight, P::kFrontCenter, P::kBackCenter}},
      {6,
       0x60F,
       {P::kFrontLeft, P::kFrontRight, P::kFrontCenter, P::kLowFrequency, P::kSideLeft,
        P::kSideRight}},
      {8,
       0x3,
       {P::kFrontLeft, P::kFrontRight, P::kAux, P::kAux, P::kAux, P::kAux, P::kAux, P::kAux}},
      {2, 0x3F, {P::kFrontLeft, P::kFrontRight}},
      {1, 0x20000, {P::kTopBackRight}},
  };
  for (const auto& [channels, mask, expected] : masks) {
    const std::vector<P> map = WaveChannelMap(channels, mask);
    EXPECT_EQ(map, expected) << channels << " " << mask;
    EXPECT_EQ(opened(static_cast<std::uint16_t>(channels), map), expected) << mask;
  }
  EXPECT_TRUE(backend.OpenedChannelMap("out:0").empty());
  EXPECT_TRUE(backend.OpenedChannelMap("out:7").empty());
}

TEST(VirtualPlaybackRealTime, ConsumesInRealTime) {
  VirtualAudioBackend backend(*ParseVirtualDeviceList("out=Speakers", nullptr));
  Source source;
  source.Add(2400, 0);  // 0.3 s at 8000 Hz 8-bit mono
  auto stream =
      backend.OpenPlayback("out:0", PcmFormat{8000, 8, 1}, {}, source.Callbacks(), nullptr);
  ASSERT_NE(stream, nullptr);
  auto start = std::chrono::steady_clock::now();
  stream->Start();
  while (source.Consumed() < 2400 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  stream.reset();
  EXPECT_EQ(source.Consumed(), 2400u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
  EXPECT_EQ(backend.Played("out:0").size(), 2400u);
}

}  // namespace
}  // namespace platform
