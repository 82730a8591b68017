#pragma once

// A private sound server with two null sinks for the playback tests, and what
// they need to look at what the sinks played: their monitors.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "tests/support/sound_server.h"

namespace soundtest {

// Sinks "First Speakers" (sink1, the default) and "Second Speakers" (sink2),
// used through the pulse back-end for the time of a test.
class TwoSinkServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/tessaline-playback-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    dir_ = folder_ + "/server";
    std::string server =
        SoundServer("start " + dir_ + " --sink 'First Speakers' --sink 'Second Speakers'");
    if (server.empty()) GTEST_SKIP() << "no private sound server could be started";
    const char* old = std::getenv("PULSE_SERVER");
    had_old_ = old != nullptr;
    if (had_old_) old_server_ = old;
    setenv("PULSE_SERVER", server.c_str(), 1);
    std::string reason;
    ASSERT_TRUE(platform::SelectAudioBackend("pulse", &reason)) << reason;
  }
  void TearDown() override {
    platform::SelectAudioBackend("virtual");
    SoundServer("stop " + dir_);
    if (had_old_) {
      setenv("PULSE_SERVER", old_server_.c_str(), 1);
    } else {
      unsetenv("PULSE_SERVER");
    }
    std::filesystem::remove_all(folder_);
  }
  // Unloads the module of sink<n> while the server goes on.
  static void UnloadSink(int n) {
    std::string command = "pactl list short modules | awk '/sink_name=sink" + std::to_string(n) +
                          "( |$)/ {print $1}' | xargs -r -n1 pactl unload-module";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string folder_, dir_, old_server_;
  bool had_old_ = false;
};

// Records a monitor (44100 Hz 16-bit stereo) for as long as it lives, once
// the sink plays with a short latency.
class MonitorRecording {
 public:
  explicit MonitorRecording(const std::string& source) {
    platform::CaptureCallbacks callbacks;
    callbacks.data = [this](const std::uint8_t* data, std::size_t bytes) {
      std::lock_guard<std::mutex> lock(mutex_);
      bytes_.insert(bytes_.end(), data, data + bytes);
      for (std::size_t i = 0; i < bytes; ++i) sound_ = sound_ || data[i] != 0;
      changed_.notify_all();
    };
    backend_ = platform::CurrentAudioBackend();
    if (backend_) {
      stream_ = backend_->OpenCapture(source, platform::PcmFormat{44100, 16, 2}, 1764,
                                      std::move(callbacks), nullptr);
    }
    if (!stream_) return;
    stream_->Start();
    // A null sink idle since it was made renders in blocks of two seconds and
    // takes a lower latency only from its next block on: the first data from
    // its monitor says it runs with short blocks now, as a sink in use does.
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10),
                           [this] { return bytes_.size() >= 44100 / 10 * 4; })) {
      lock.unlock();
      stream_.reset();
    }
  }
  ~MonitorRecording() { stream_.reset(); }
  bool Started() const { return stream_ != nullptr; }
  // Waits until something other than silence came, and then 200 ms more.
  bool WaitForSound() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(30), [this] { return sound_; })) return false;
    std::size_t enough = bytes_.size() + 44100 / 5 * 4;
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return bytes_.size() >= enough; });
  }
  std::vector<std::uint8_t> Take() {
    stream_.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  std::shared_ptr<platform::AudioBackend> backend_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uint8_t> bytes_;
  bool sound_ = false;
  std::unique_ptr<platform::CaptureStream> stream_;
};

// `frames` of a sine of `hz`, 16-bit stereo, each side at its own level.
inline std::vector<std::uint8_t> SineStereo16(unsigned rate, double hz, double left_db,
                                              double right_db, std::size_t frames) {
  std::vector<std::uint8_t> out;
  out.reserve(frames * 4);
  for (std::size_t n = 0; n < frames; ++n) {
    double x = std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / rate);
    for (double db : {left_db, right_db}) {
      auto v = static_cast<std::uint16_t>(
          static_cast<std::int16_t>(std::lround(32767.0 * std::pow(10.0, db / 20.0) * x)));
      out.push_back(static_cast<std::uint8_t>(v & 0xFF));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  return out;
}

// Peak of one channel of 16-bit stereo in dBFS (-1000 for silence).
inline double PeakDbfs(const std::vector<std::uint8_t>& data, int channel) {
  int peak = 0;
  for (std::size_t at = 2 * channel; at + 1 < data.size(); at += 4) {
    int v = static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
    peak = std::max(peak, std::abs(v));
  }
  return peak == 0 ? -1000 : 20 * std::log10(peak / 32768.0);
}

// A tone on one channel of a multichannel stream, the others silent: 16-bit
// frames of `channels` channels at 44100 Hz, half a second.
inline std::vector<std::uint8_t> ToneOnChannel(unsigned channels, unsigned tone_channel) {
  const std::vector<std::uint8_t> mono = SineStereo16(44100, 1000, -6, -6, 44100 / 2);
  std::vector<std::uint8_t> out(mono.size() / 4 * channels * 2, 0);
  for (std::size_t frame = 0; frame < mono.size() / 4; ++frame) {
    out[(frame * channels + tone_channel) * 2] = mono[frame * 4];
    out[(frame * channels + tone_channel) * 2 + 1] = mono[frame * 4 + 1];
  }
  return out;
}

}  // namespace soundtest
