// The ALSA back-end over a configuration of the test's own (ALSA_CONFIG_PATH,
// instead of the system's): no sound hardware and no server. The PCMs write
// to and read from files over ALSA's null device, which takes and gives
// frames as fast as they come, so these tests check what passes, not timing
// (tests/integration/alsa_*.sh check it in real time).

#include "platform/audio/alsa/alsa_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

class AlsaBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("tessaline-alsa-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::create_directories(folder_);
    // A signal the input reads: 4000 frames of a counting pattern.
    for (int i = 0; i < 16000; ++i) signal_.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    std::ofstream(folder_ / "in.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(signal_.data()),
               static_cast<std::streamsize>(signal_.size()));
    const std::string in = (folder_ / "in.raw").string();
    const std::string out = (folder_ / "out.raw").string();
    std::ofstream(folder_ / "asound.conf") << R"(
pcm.rec_in {
  type asym
  capture.pcm { type file slave.pcm { type null } file "/dev/null" infile ")"
                                           << in << R"(" format raw }
  hint { show on description "Recorder In
second line of the description" }
}
pcm.rec_out {
  type asym
  playback.pcm { type file slave.pcm { type null } file ")"
                                           << out << R"(" format raw }
  hint { show on description "Recorder Out" }
}
pcm.both { type file slave.pcm { type null } file "/dev/null" hint { show on description "Both Ways" } }
pcm.templated {
  @args [ SLAVE ]
  @args.SLAVE { type string default "null" }
  type plug
  slave.pcm $SLAVE
  hint { show on description "Template" }
}
pcm.server { type pulse hint { show on description "Server Client" } }
pcm.nothing { type null hint { show on description "Null Device" } }
pcm.hidden { type file slave.pcm { type null } file "/dev/null" }
)";
    setenv("ALSA_CONFIG_PATH", (folder_ / "asound.conf").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ALSA_CONFIG_PATH");
    fs::remove_all(folder_);
  }

  fs::path folder_;
  std::vector<std::uint8_t> signal_;
};

std::vector<std::string> Names(const std::vector<AudioEndpoint>& endpoints) {
  std::vector<std::string> names;
  for (const AudioEndpoint& endpoint : endpoints) names.push_back(endpoint.name);
  return names;
}

// Waits up to five seconds for a condition.
template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

TEST_F(AlsaBackendTest, ListsTheConfigurationsOwnDevicesOnceEachByDirection) {
  AlsaAudioBackend backend;
  // Directions by what opens; no template, server client, null device or
  // PCM without a hint; names are the descriptions' first lines.
  EXPECT_EQ(Names(backend.Endpoints(AudioDirection::kInput)),
            (std::vector<std::string>{"Recorder In", "Both Ways"}));
  const std::vector<AudioEndpoint> outputs = backend.Endpoints(AudioDirection::kOutput);
  EXPECT_EQ(Names(outputs), (std::vector<std::string>{"Recorder Out", "Both Ways"}));
  ASSERT_EQ(outputs.size(), 2u);
  // No PCM named "default": the first is the default.
  EXPECT_TRUE(outputs[0].is_default);
  EXPECT_FALSE(outputs[1].is_default);
  EXPECT_EQ(outputs[0].id, "plug:rec_out");

  std::string reason;
  EXPECT_EQ(backend.OpenPlayback("plug:no_such_pcm", {}, {}, {}, &reason), nullptr);
  EXPECT_NE(reason.find("ALSA: cannot open plug:no_such_pcm"), std::string::npos) << reason;
}

TEST_F(AlsaBackendTest, PlaysAndRecordsEveryByteInOrder) {
  AlsaAudioBackend backend;
  // Playback: what is pulled reaches the PCM's file exactly, and the stream
  // reports all of it consumed once the device has played out.
  std::mutex mutex;
  std::size_t given = 0;
  std::uint64_t consumed = 0;
  PlaybackCallbacks playback;
  playback.pull = [&](std::uint8_t* out, std::size_t bytes) {
    std::lock_guard<std::mutex> hold(mutex);
    const std::size_t n = std::min(bytes, signal_.size() - given) / 4 * 4;
    std::copy_n(signal_.begin() + static_cast<std::ptrdiff_t>(given), n, out);
    given += n;
    return n;
  };
  playback.consumed = [&](std::uint64_t total, std::uint64_t) {
    std::lock_guard<std::mutex> hold(mutex);
    EXPECT_GE(total, consumed);
    consumed = total;
  };
  std::string reason;
  auto out = backend.OpenPlayback("plug:rec_out", {}, {}, playback, &reason);
  ASSERT_NE(out, nullptr) << reason;
  out->Start();
  EXPECT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> hold(mutex);
    return consumed == signal_.size();
  })) << "consumed "
      << consumed << " of " << signal_.size();
  out.reset();
  std::ifstream written(folder_ / "out.raw", std::ios::binary);
  const std::vector<std::uint8_t> played{std::istreambuf_iterator<char>(written), {}};
  EXPECT_EQ(played, signal_);

  // Capture: the input's file arrives whole and in order (after its end the
  // null device goes on giving silence, as fast as it is read).
  std::vector<std::uint8_t> recorded;
  std::atomic<bool> whole{false};
  CaptureCallbacks capture;
  capture.data = [&](const std::uint8_t* data, std::size_t bytes) {
    std::lock_guard<std::mutex> hold(mutex);
    bytes = std::min(bytes, signal_.size() - recorded.size());
    recorded.insert(recorded.end(), data, data + bytes);
    whole = recorded.size() == signal_.size();
  };
  auto in = backend.OpenCapture("plug:rec_in", {}, 2048, capture, &reason);
  ASSERT_NE(in, nullptr) << reason;
  in->Start();
  EXPECT_TRUE(WaitFor([&] { return whole.load(); }));
  in->Stop();
  std::lock_guard<std::mutex> hold(mutex);
  EXPECT_EQ(recorded, signal_);
}

}  // namespace
}  // namespace platform
