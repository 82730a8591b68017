// waveOut* over the pulse back-end, against a private sound server with two
// null sinks whose monitors tell what each one played.

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
#include "platform/wave/wave_caps.h"
#include "platform/wave/wave_out.h"
#include "tests/platform/sound_server_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using soundtest::MonitorRecording;
using soundtest::PeakDbfs;
using soundtest::SineStereo16;
using soundtest::ToneOnChannel;
using soundtest::TwoSinkServer;

constexpr DWORD kRate = 44100;
constexpr DWORD kTenth = kRate / 10 * 4;  // 100 ms of 16-bit stereo

WAVEFORMATEX CdFormat() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 2;
  f.nSamplesPerSec = kRate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = 4;
  f.nAvgBytesPerSec = kRate * 4;
  return f;
}

// Plays headers and notes when each comes back.
struct Player {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Clock::time_point> done;
  bool closed = false;
  std::vector<std::vector<char>> blocks;
  std::vector<WAVEHDR> headers;

  static void Callback(void*, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    auto* self = reinterpret_cast<Player*>(instance);
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      if (msg == WOM_DONE) self->done.push_back(Clock::now());
      if (msg == WOM_CLOSE) self->closed = true;
    }
    self->changed.notify_all();
  }
  MMRESULT Open(HWAVEOUT* hwo, UINT device) {
    WAVEFORMATEX f = CdFormat();
    return waveOutOpen(hwo, device, &f, reinterpret_cast<DWORD_PTR>(&Callback),
                       reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
  }
  // Cuts `data` into headers of `size` bytes, ready to write.
  void Cut(const std::vector<std::uint8_t>& data, std::size_t size) {
    for (std::size_t at = 0; at < data.size(); at += size) {
      blocks.emplace_back(data.begin() + at, data.begin() + std::min(data.size(), at + size));
    }
    headers.resize(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      headers[i].lpData = blocks[i].data();
      headers[i].dwBufferLength = static_cast<DWORD>(blocks[i].size());
    }
  }
  MMRESULT WriteAll(HWAVEOUT hwo) {
    for (WAVEHDR& h : headers) {
      if (MMRESULT r = waveOutPrepareHeader(hwo, &h, sizeof(h))) return r;
      if (MMRESULT r = waveOutWrite(hwo, &h, sizeof(h))) return r;
    }
    return MMSYSERR_NOERROR;
  }
  bool WaitForDone(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), [&] { return done.size() >= n; });
  }
};

class WaveOutWithSoundServer : public TwoSinkServer {};

// A second of a tone with different levels left and right goes to the second
// sink only; each header comes back once the server has played it.
TEST_F(WaveOutWithSoundServer, PlaysOnTheSinkAskedAndReturnsHeadersAsTheServerPlays) {
  ASSERT_EQ(waveOutGetNumDevs(), 2u);
  WAVEOUTCAPSA caps;
  ASSERT_EQ(waveOutGetDevCapsA(1, &caps, sizeof(caps)), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Second Speakers");
  MonitorRecording first("sink1.monitor"), second("sink2.monitor");
  ASSERT_TRUE(first.Started() && second.Started());

  Player player;
  player.Cut(SineStereo16(kRate, 1000, -6, -12, kRate), kTenth);
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(player.Open(&hwo, 1), MMSYSERR_NOERROR);
  Clock::time_point start = Clock::now();
  ASSERT_EQ(player.WriteAll(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(player.WaitForDone(10));
  MMTIME t;
  t.wType = TIME_SAMPLES;
  ASSERT_EQ(waveOutGetPosition(hwo, &t, sizeof(t)), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.sample, kRate);
  ASSERT_TRUE(second.WaitForSound());
  for (WAVEHDR& h : player.headers) {
    EXPECT_EQ(waveOutUnprepareHeader(hwo, &h, sizeof(h)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  EXPECT_TRUE(player.closed);

  // Never before the sound it carries could have been played; not long after.
  for (std::size_t i = 0; i < player.done.size(); ++i) {
    double ms = std::chrono::duration<double, std::milli>(player.done[i] - start).count();
    EXPECT_GE(ms, 100.0 * (i + 1) - 10) << "header " << i;
    EXPECT_LE(ms, 100.0 * (i + 1) + 500) << "header " << i;
  }
  std::vector<std::uint8_t> heard = second.Take();
  EXPECT_NEAR(PeakDbfs(heard, 0), -6.02, 0.2);
  EXPECT_NEAR(PeakDbfs(heard, 1), -12.04, 0.2);
  EXPECT_LT(PeakDbfs(first.Take(), 0), -90);
}

// The mapper plays on the server's default sink.
// On a stereo sink the server mixes a quad or 5.1 stream down by where its
// channels are: front right and back right to the right side only, back left
// to the left side only.
TEST_F(WaveOutWithSoundServer, MultichannelToneIsHeardOnItsSpeakersSide) {
  struct Case {
    WORD channels;
    unsigned tone_channel;
    int side;  // 0 left, 1 right
  };
  for (const Case& c :
       {Case{4, 1, 1}, Case{4, 2, 0}, Case{4, 3, 1}, Case{6, 1, 1}, Case{6, 4, 0}, Case{6, 5, 1}}) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, tone on " +
                 std::to_string(c.tone_channel));
    MonitorRecording second("sink2.monitor");
    ASSERT_TRUE(second.Started());
    Player player;
    player.Cut(ToneOnChannel(c.channels, c.tone_channel), std::size_t{kRate} / 10 * 2 * c.channels);
    WAVEFORMATEX f = CdFormat();
    f.nChannels = c.channels;
    f.nBlockAlign = static_cast<WORD>(2 * c.channels);
    f.nAvgBytesPerSec = kRate * f.nBlockAlign;
    HWAVEOUT hwo = nullptr;
    ASSERT_EQ(waveOutOpen(&hwo, 1, &f, reinterpret_cast<DWORD_PTR>(&Player::Callback),
                          reinterpret_cast<DWORD_PTR>(&player), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(player.WriteAll(hwo), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.WaitForDone(player.headers.size()));
    ASSERT_TRUE(second.WaitForSound());
    for (WAVEHDR& h : player.headers) {
      EXPECT_EQ(waveOutUnprepareHeader(hwo, &h, sizeof(h)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> heard = second.Take();
    EXPECT_GT(PeakDbfs(heard, c.side), -40);
    EXPECT_LT(PeakDbfs(heard, 1 - c.side), -60);
  }
}

TEST_F(WaveOutWithSoundServer, MapperPlaysOnTheDefaultSink) {
  MonitorRecording first("sink1.monitor"), second("sink2.monitor");
  ASSERT_TRUE(first.Started() && second.Started());
  Player player;
  player.Cut(SineStereo16(kRate, 440, -6, -6, kRate / 5), kTenth);
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(player.Open(&hwo, WAVE_MAPPER), MMSYSERR_NOERROR);
  ASSERT_EQ(player.WriteAll(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(player.WaitForDone(player.headers.size()));
  ASSERT_TRUE(first.WaitForSound());
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  EXPECT_NEAR(PeakDbfs(first.Take(), 0), -6.02, 0.2);
  EXPECT_LT(PeakDbfs(second.Take(), 0), -90);
}

// The sink's module is unloaded while it plays: every header comes back, the
// device refuses more, and it can be released without a hang.
TEST_F(WaveOutWithSoundServer, SinkUnloadedMidPlayEndsTheStream) {
  Player player;
  player.Cut(SineStereo16(kRate, 1000, -6, -6, 3 * kRate), kTenth);
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(player.Open(&hwo, 1), MMSYSERR_NOERROR);
  ASSERT_EQ(player.WriteAll(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(player.WaitForDone(2));
  UnloadSink(2);
  ASSERT_TRUE(player.WaitForDone(player.headers.size()));
  {
    std::lock_guard<std::mutex> lock(player.mutex);
    // Far sooner than the three seconds the sound would have lasted.
    EXPECT_LT(player.done.back() - player.done.front(), std::chrono::milliseconds(2500));
  }
  EXPECT_EQ(waveOutWrite(hwo, &player.headers[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutRestart(hwo), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  for (WAVEHDR& h : player.headers) {
    EXPECT_EQ(waveOutUnprepareHeader(hwo, &h, sizeof(h)), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
}

}  // namespace
