// waveIn* over the pulse back-end, against a private sound server.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_in.h"
#include "tests/support/sound_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Keeps a ring of headers queued, as a capture component does, and keeps
// everything recorded.
struct Capture {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::uint8_t> recorded;
  int returned = 0;
  int requeue_failures = 0;
  MMRESULT last_requeue = MMSYSERR_NOERROR;
  bool closed = false;
  std::atomic<bool> keep_going{true};
  std::vector<std::unique_ptr<std::vector<char>>> blocks;
  std::vector<std::unique_ptr<WAVEHDR>> headers;

  static void Callback(void* hwave, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<Capture*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    std::unique_lock<std::mutex> lock(self->mutex);
    if (msg == WIM_CLOSE) self->closed = true;
    if (msg == WIM_DATA) {
      self->recorded.insert(self->recorded.end(), header->lpData,
                            header->lpData + header->dwBytesRecorded);
      ++self->returned;
      if (self->keep_going) {
        MMRESULT r = waveInAddBuffer(static_cast<HWAVEIN>(hwave), header, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR) {
          ++self->requeue_failures;
          self->last_requeue = r;
        }
      }
    }
    lock.unlock();
    self->changed.notify_all();
  }

  template <typename Done>
  bool WaitFor(Done done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), done);
  }

  MMRESULT Open(HWAVEIN* hwi, const WAVEFORMATEX& f) {
    MMRESULT r = waveInOpen(hwi, 0, &f, reinterpret_cast<DWORD_PTR>(&Callback),
                            reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) return r;
    for (int i = 0; i < 10; ++i) {
      blocks.push_back(std::make_unique<std::vector<char>>(2048));
      headers.push_back(std::make_unique<WAVEHDR>());
      headers.back()->lpData = blocks.back()->data();
      headers.back()->dwBufferLength = 2048;
      if ((r = waveInPrepareHeader(*hwi, headers.back().get(), sizeof(WAVEHDR)))) return r;
      if ((r = waveInAddBuffer(*hwi, headers.back().get(), sizeof(WAVEHDR)))) return r;
    }
    return waveInStart(*hwi);
  }

  MMRESULT Close(HWAVEIN hwi) {
    keep_going = false;
    MMRESULT r = WAVERR_STILLRECORDING;
    for (int attempt = 0; attempt < 100 && r == WAVERR_STILLRECORDING; ++attempt) {
      waveInReset(hwi);
      r = waveInClose(hwi);
    }
    return r;
  }
};

WAVEFORMATEX CdFormat() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 2;
  f.nSamplesPerSec = 44100;
  f.wBitsPerSample = 16;
  f.nBlockAlign = 4;
  f.nAvgBytesPerSec = 176400;
  return f;
}

double PeakDbfs(const std::vector<std::uint8_t>& data, std::size_t from, int channel) {
  int peak = 0;
  for (std::size_t at = from + 2 * channel; at + 1 < data.size(); at += 4) {
    int v = static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
    peak = std::max(peak, std::abs(v));
  }
  return peak == 0 ? -1000 : 20 * std::log10(peak / 32768.0);
}

class WaveInWithSoundServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/tessaline-wavein-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    dir_ = folder_ + "/server";
    std::string server = SoundServer("start " + dir_ + " --sine 'Half' 440 0.5");
    if (server.empty()) GTEST_SKIP() << "no private sound server could be started";
    const char* old = std::getenv("PULSE_SERVER");
    if (old) old_server_ = old;
    had_old_ = old != nullptr;
    setenv("PULSE_SERVER", server.c_str(), 1);
    std::string reason;
    ASSERT_TRUE(platform::SelectAudioBackend("pulse", &reason)) << reason;
  }
  void TearDown() override {
    SoundServer("stop " + dir_);
    platform::SelectAudioBackend("virtual");
    if (had_old_) {
      setenv("PULSE_SERVER", old_server_.c_str(), 1);
    } else {
      unsetenv("PULSE_SERVER");
    }
    std::filesystem::remove_all(folder_);
  }
  void StopServer() { SoundServer("stop " + dir_); }

  std::string folder_, dir_, old_server_;
  bool had_old_ = false;
};

TEST_F(WaveInWithSoundServer, RecordsTheSineAtItsLevel) {
  ASSERT_EQ(waveInGetNumDevs(), 1u);
  Capture capture;
  HWAVEIN hwi = nullptr;
  WAVEFORMATEX f = CdFormat();
  ASSERT_EQ(capture.Open(&hwi, f), MMSYSERR_NOERROR);
  Clock::time_point start = Clock::now();
  // Two seconds of sound.
  ASSERT_TRUE(capture.WaitFor([&] { return capture.recorded.size() >= 2 * 176400; }));
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_EQ(capture.Close(hwi), MMSYSERR_NOERROR);
  EXPECT_TRUE(capture.closed);
  EXPECT_EQ(capture.requeue_failures, 0);
  // Recorded in real time, not faster.
  EXPECT_GT(seconds, 1.5);
  // The level over the second half of the recording (past any start-up ramp).
  std::size_t half = capture.recorded.size() / 2 / 4 * 4;
  EXPECT_NEAR(PeakDbfs(capture.recorded, half, 0), -6.02, 0.3);
  EXPECT_NEAR(PeakDbfs(capture.recorded, half, 1), -6.02, 0.3);
}

// The source's module is unloaded while the server goes on.
TEST_F(WaveInWithSoundServer, SourceRemovedFromARunningServerIsReported) {
  Capture capture;
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(capture.Open(&hwi, CdFormat()), MMSYSERR_NOERROR);
  ASSERT_TRUE(capture.WaitFor([&] { return capture.returned >= 5; }));
  ASSERT_EQ(std::system("pactl list short modules | awk '/module-sine-source/ {print $1}' | "
                        "xargs -r -n1 pactl unload-module"),
            0);
  ASSERT_TRUE(capture.WaitFor([&] { return capture.requeue_failures > 0; }));
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_NODRIVER);
  ASSERT_EQ(capture.Close(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInGetNumDevs(), 0u);
}

TEST_F(WaveInWithSoundServer, SourceThatDisappearsIsReported) {
  Capture capture;
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(capture.Open(&hwi, CdFormat()), MMSYSERR_NOERROR);
  ASSERT_TRUE(capture.WaitFor([&] { return capture.returned >= 5; }));
  StopServer();
  // The queued headers come back and cannot be queued again.
  ASSERT_TRUE(capture.WaitFor([&] { return capture.requeue_failures > 0; }));
  {
    std::lock_guard<std::mutex> lock(capture.mutex);
    EXPECT_EQ(capture.last_requeue, MMSYSERR_NODRIVER);
  }
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_NODRIVER);
  ASSERT_EQ(capture.Close(hwi), MMSYSERR_NOERROR);
  EXPECT_TRUE(capture.closed);
}

}  // namespace
