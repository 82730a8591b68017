// Sound buffers over the pulse back-end, against a private sound server with
// two null sinks.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/acm/msacm.h"
#include "platform/dsound/dsound.h"
#include "tests/platform/sound_server_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using soundtest::MonitorRecording;
using soundtest::PeakDbfs;
using soundtest::SineStereo16;
using soundtest::ToneOnChannel;

class DirectSoundWithSoundServer : public soundtest::TwoSinkServer {
 protected:
  // The device and a quarter-second looping buffer of a 1 kHz tone (-6 dBFS
  // left, -12 dBFS right) on the second sink, controls as the output asks.
  void SetUp() override {
    TwoSinkServer::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    auto callback = [](LPGUID guid, LPCSTR description, LPCSTR, LPVOID context) -> BOOL {
      auto* self = static_cast<DirectSoundWithSoundServer*>(context);
      self->names_.push_back(description);
      if (guid != nullptr) self->guids_.push_back(*guid);
      return TRUE;
    };
    ASSERT_EQ(DirectSoundEnumerateA(callback, this), DS_OK);
    ASSERT_EQ(names_.size(), 3u);
    ASSERT_EQ(names_[2], "Second Speakers");
    ASSERT_EQ(DirectSoundCreate(&guids_[1], &device_, nullptr), DS_OK);
    ASSERT_EQ(device_->SetCooperativeLevel(0, DSSCL_PRIORITY), DS_OK);
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME |
                   DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
    desc.dwBufferBytes = kSize;
    desc.lpwfxFormat = &f;
    ASSERT_EQ(device_->CreateSoundBuffer(&desc, &buffer_, nullptr), DS_OK);
    std::vector<std::uint8_t> tone = SineStereo16(44100, 1000, -6, -12, kSize / 4);
    LPVOID p1 = nullptr, p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(buffer_->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    ASSERT_EQ(n1, kSize);
    std::memcpy(p1, tone.data(), n1);
    ASSERT_EQ(buffer_->Unlock(p1, n1, p2, n2), DS_OK);
  }
  void TearDown() override {
    if (buffer_ != nullptr) buffer_->Release();
    if (device_ != nullptr) device_->Release();
    TwoSinkServer::TearDown();
  }

  static constexpr DWORD kSize = 44100;  // a quarter of a second
  std::vector<std::string> names_;
  std::vector<GUID> guids_;
  IDirectSound* device_ = nullptr;
  IDirectSoundBuffer* buffer_ = nullptr;
};

TEST_F(DirectSoundWithSoundServer, LoopingBufferPlaysOnItsSinkAndItsCursorKeepsTime) {
  MonitorRecording first("sink1.monitor"), second("sink2.monitor");
  ASSERT_TRUE(first.Started() && second.Started());
  Clock::time_point start = Clock::now();
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  // Follow the play cursor for a second, the way a feeding timer does.
  std::uint64_t played = 0;
  DWORD last = 0;
  while (Clock::now() - start < std::chrono::seconds(1)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    DWORD play = 0, write = 0;
    ASSERT_EQ(buffer_->GetCurrentPosition(&play, &write), DS_OK);
    played += (play + kSize - last) % kSize;
    last = play;
    // The write cursor leads by the stream's latency, never by half the ring.
    EXPECT_LT((write + kSize - play) % kSize, kSize / 2);
    // What the sink took, less what it still holds, never ahead of the time
    // that has passed.
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_LE(played, elapsed * 176400 + platform::OutputLatencyBytes(buffer_) + 4);
  }
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(played, (elapsed - 0.3) * 176400);
  ASSERT_TRUE(second.WaitForSound());
  std::vector<std::uint8_t> heard = second.Take();
  EXPECT_NEAR(PeakDbfs(heard, 0), -6.02, 0.3);
  EXPECT_NEAR(PeakDbfs(heard, 1), -12.04, 0.3);
  EXPECT_LT(PeakDbfs(first.Take(), 0), -90);

  // Twice its rate, set while it plays: the server plays it twice as fast.
  ASSERT_EQ(buffer_->SetFrequency(88200), DS_OK);
  DWORD play = 0;
  ASSERT_EQ(buffer_->GetCurrentPosition(&play, nullptr), DS_OK);
  last = play;
  played = 0;
  start = Clock::now();
  while (Clock::now() - start < std::chrono::milliseconds(600)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(buffer_->GetCurrentPosition(&play, nullptr), DS_OK);
    played += (play + kSize - last) % kSize;
    last = play;
  }
  elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(played, 1.5 * elapsed * 176400);
  EXPECT_LT(played, 2.5 * elapsed * 176400);
}

TEST_F(DirectSoundWithSoundServer, VolumeAndPanReachTheSink) {
  ASSERT_EQ(buffer_->SetVolume(-600), DS_OK);
  ASSERT_EQ(buffer_->SetPan(-600), DS_OK);  // the right side 6 dB lower still
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  MonitorRecording second("sink2.monitor");
  ASSERT_TRUE(second.Started());
  ASSERT_TRUE(second.WaitForSound());
  std::vector<std::uint8_t> heard = second.Take();
  EXPECT_NEAR(PeakDbfs(heard, 0), -12.04, 0.3);
  EXPECT_NEAR(PeakDbfs(heard, 1), -24.08, 0.3);
}

// A looping 5.1 buffer in an extensible header, a tone on one channel: on the
// stereo sink it is heard on that speaker's side only.
TEST_F(DirectSoundWithSoundServer, MultichannelToneIsHeardOnItsSpeakersSide) {
  for (const auto& [tone_channel, side] : {std::pair{1u, 1}, std::pair{4u, 0}}) {
    SCOPED_TRACE("tone on " + std::to_string(tone_channel));
    WAVEFORMATEXTENSIBLE x{};
    x.Format = WAVEFORMATEX{WAVE_FORMAT_EXTENSIBLE, 6, 44100, 44100 * 12, 12, 16, 22};
    x.wValidBitsPerSample = 16;
    x.dwChannelMask = 0x3F;
    const std::uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    std::memcpy(x.SubFormat, pcm, sizeof pcm);
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    const std::vector<std::uint8_t> tone = ToneOnChannel(6, tone_channel);
    desc.dwBufferBytes = static_cast<DWORD>(tone.size());
    desc.lpwfxFormat = &x.Format;
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(device_->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    LPVOID p1 = nullptr, p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    std::memcpy(p1, tone.data(), n1);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    MonitorRecording second("sink2.monitor");
    ASSERT_TRUE(second.Started());
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const bool sounded = second.WaitForSound();
    buffer->Release();
    ASSERT_TRUE(sounded);
    std::vector<std::uint8_t> heard = second.Take();
    EXPECT_GT(PeakDbfs(heard, side), -40);
    EXPECT_LT(PeakDbfs(heard, 1 - side), -60);
  }
}

// The sink's module is unloaded while the buffer plays.
TEST_F(DirectSoundWithSoundServer, SinkUnloadedLosesTheBuffer) {
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  DWORD play = 0;
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (play == 0 && Clock::now() < deadline) {
    ASSERT_EQ(buffer_->GetCurrentPosition(&play, nullptr), DS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(play, 0u);
  UnloadSink(2);
  DWORD status = 0;
  while (status != DSBSTATUS_BUFFERLOST && Clock::now() < deadline) {
    ASSERT_EQ(buffer_->GetStatus(&status), DS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
  EXPECT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer_->GetCurrentPosition(&play, nullptr), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer_->SetVolume(DSBVOLUME_MIN), DS_OK);
  EXPECT_EQ(buffer_->Stop(), DS_OK);
  EXPECT_EQ(buffer_->SetCurrentPosition(0), DS_OK);
  IDirectSound* again = nullptr;
  EXPECT_EQ(DirectSoundCreate(&guids_[1], &again, nullptr), DSERR_NODRIVER);
}

}  // namespace
