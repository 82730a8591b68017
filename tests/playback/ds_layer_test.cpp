#include "playback/ds_layer.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/mmtimer/mmtimer.h"
#include "tests/playback/test_chain.h"

namespace {

using playtest::Concat;
using playtest::Pattern;
using playtest::TClockDriver;

// The layer's notifications to a function, with the samples heard by then.
class TRecorder {
 public:
  struct Notice {
    UINT msg;
    WAVEHDR* header;
    bool on_gui;
  };

  static void Callback(void*, UINT msg, DWORD_PTR instance, DWORD_PTR header, DWORD_PTR) {
    auto* self = reinterpret_cast<TRecorder*>(instance);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->notices_.push_back({msg, reinterpret_cast<WAVEHDR*>(header), platform::IsGuiThread()});
  }
  DWORD_PTR Function() const { return reinterpret_cast<DWORD_PTR>(&Callback); }
  DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }

  std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
  }
  std::vector<WAVEHDR*> Done() {
    std::vector<WAVEHDR*> done;
    for (const Notice& n : Notices())
      if (n.msg == MM_WOM_DONE) done.push_back(n.header);
    return done;
  }

 private:
  std::mutex mutex_;
  std::vector<Notice> notices_;
};

// A header over its own data.
struct TBuffer {
  explicit TBuffer(std::vector<std::uint8_t> bytes) : data(std::move(bytes)) {
    header.lpData = reinterpret_cast<char*>(data.data());
    header.dwBufferLength = static_cast<DWORD>(data.size());
  }
  std::vector<std::uint8_t> data;
  TMMWaveHdr header;
};

class DSLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset"));
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
    platform::VirtualClock::SetManual(true);
    TClockDriver::PumpMs() = 10;
    ASSERT_TRUE(DSLoad());
  }
  void TearDown() override {
    TClockDriver::PumpMs() = 2;
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
  }

  PDSWaveOut Open(const WAVEFORMATEX& format, LPCGUID key = nullptr) {
    PDSWaveOut context = nullptr;
    EXPECT_EQ(DSWaveOutOpen(context, key, &format, recorder.Function(), recorder.Instance(),
                            CALLBACK_FUNCTION | DSWAVE_CTRLVOLUME),
              kDSOk);
    return context;
  }
  // Queues the buffers while paused, then plays.
  void Play(PDSWaveOut context, std::initializer_list<TBuffer*> buffers) {
    ASSERT_EQ(DSWaveOutPause(context), kDSOk);
    for (TBuffer* b : buffers) {
      ASSERT_EQ(DSWaveOutPrepareHeader(context, &b->header), kDSOk);
      ASSERT_EQ(DSWaveOutWrite(context, &b->header), kDSOk);
    }
    ASSERT_EQ(DSWaveOutRestart(context), kDSOk);
  }
  static DWORD Samples(PDSWaveOut context) {
    MMTIME time;
    time.wType = TIME_SAMPLES;
    EXPECT_EQ(DSWaveOutGetPosition(context, time), kDSOk);
    return time.u.sample;
  }

  std::shared_ptr<platform::VirtualAudioBackend> backend;
  TRecorder recorder;
};

// The identifier the sound-buffer service gives the output of that name.
GUID GuidOf(const std::string& name) {
  struct Search {
    std::string name;
    GUID guid{};
  } search{name};
  DirectSoundEnumerateA(
      [](LPGUID guid, LPCSTR description, LPCSTR, LPVOID context) -> BOOL {
        auto* s = static_cast<Search*>(context);
        if (guid && s->name == description) s->guid = *guid;
        return TRUE;
      },
      &search);
  return search.guid;
}

WAVEFORMATEX Pcm(int bits, int channels, std::uint32_t rate) {
  WAVEFORMATEX f{};
  BuildPCMFormat(f, bits, channels, rate);
  return f;
}

TEST_F(DSLayerTest, ChunksBufferAndSilenceFollowTheFormat) {
  const WAVEFORMATEX stereo = Pcm(16, 2, 44100);
  PDSWaveOut query = nullptr;
  EXPECT_EQ(DSWaveOutOpen(query, nullptr, &stereo, 0, 0, WAVE_FORMAT_QUERY), kDSOk);
  EXPECT_EQ(query, nullptr);
  EXPECT_EQ(DSOpenContextCount(), 0);
  const WAVEFORMATEX wide = Pcm(24, 2, 44100);
  EXPECT_EQ(DSWaveOutOpen(query, nullptr, &wide, 0, 0, WAVE_FORMAT_QUERY), kDSFailed);
  EXPECT_EQ(DSWaveOutOpen(query, nullptr, &stereo, recorder.Function(), recorder.Instance(),
                          CALLBACK_FUNCTION | WAVE_ALLOWSYNC),
            kDSFailed);

  PDSWaveOut c16 = Open(stereo);
  ASSERT_NE(c16, nullptr);
  EXPECT_EQ(c16->chunk_size, 11024u);
  EXPECT_EQ(c16->buffer_size, 44096u);
  EXPECT_EQ(c16->fill_byte, 0);
  ASSERT_EQ(recorder.Notices().size(), 1u);
  EXPECT_EQ(recorder.Notices()[0].msg, MM_WOM_OPEN);
  // A context that is not paused cannot be restarted.
  EXPECT_EQ(DSWaveOutRestart(c16), kDSFailed);
  // Two contexts of one device share its primary buffer, which takes the
  // larger of both formats.
  ASSERT_EQ(DSCreatePrimary(c16, &stereo), kDSOk);
  const WAVEFORMATEX mono8 = Pcm(8, 1, 8000);
  PDSWaveOut c8 = Open(mono8);
  ASSERT_NE(c8, nullptr);
  EXPECT_EQ(c8->chunk_size, 500u);
  EXPECT_EQ(c8->buffer_size, 2000u);
  EXPECT_EQ(c8->fill_byte, 128);
  ASSERT_EQ(DSCreatePrimary(c8, &mono8), kDSOk);
  EXPECT_EQ(c8->primary, c16->primary);
  WAVEFORMATEX primary{};
  ASSERT_EQ(c8->primary->GetFormat(&primary, sizeof(primary), nullptr), DS_OK);
  EXPECT_EQ(primary.nSamplesPerSec, 44100u);
  EXPECT_EQ(primary.wBitsPerSample, 16);
  EXPECT_EQ(primary.nChannels, 2);
  EXPECT_EQ(DSWaveOutClose(c16), kDSOk);

  // 8-bit sound is followed by the silence byte 128.
  TBuffer sound(std::vector<std::uint8_t>(400, 7));
  Play(c8, {&sound});
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return recorder.Done().size() == 1; }));
  TClockDriver::RunFor(100);
  const std::vector<std::uint8_t> played = backend->Played("out:0");
  ASSERT_GT(played.size(), 400u + 400u);
  EXPECT_EQ(std::vector<std::uint8_t>(played.begin(), played.begin() + 400), sound.data);
  EXPECT_EQ(std::count(played.begin() + 400, played.end(), 128),
            static_cast<std::ptrdiff_t>(played.size() - 400));
  EXPECT_EQ(DSWaveOutClose(c8), kDSOk);
  EXPECT_EQ(DSOpenContextCount(), 0);
  EXPECT_EQ(DSWaveOutClose(c8), kDSFailed);  // not open any more

  // When the feed comes late the end of the sound runs into silence, never
  // into what the buffer held a round before.
  PDSWaveOut late = Open(stereo);
  ASSERT_NE(late, nullptr);
  backend->ClearPlayed("out:0");
  TBuffer tone(Pattern(52920));  // 0.3 s, longer than the buffer
  Play(late, {&tone});
  TClockDriver::RunFor(200);
  WaitAndPump(70, true);  // feeds run, the clock stands
  platform::VirtualClock::Advance(240);
  const std::vector<std::uint8_t> heard = backend->Played("out:0");
  ASSERT_GE(heard.size(), tone.data.size());
  EXPECT_TRUE(std::equal(tone.data.begin(), tone.data.end(), heard.begin()));
  EXPECT_EQ(
      std::count(heard.begin() + static_cast<std::ptrdiff_t>(tone.data.size()), heard.end(), 0),
      static_cast<std::ptrdiff_t>(heard.size() - tone.data.size()));
  EXPECT_EQ(DSWaveOutClose(late), kDSOk);

  // Sound written after the buffer ran dry is heard whole, after silence:
  // the device has already taken what lies before its write cursor, here
  // more than the silence written after the sound.
  backend->SetLeastPlaybackLatency(std::chrono::milliseconds(100));
  PDSWaveOut dry = Open(stereo);
  ASSERT_NE(dry, nullptr);
  TBuffer first(std::vector<std::uint8_t>(1764, 5));  // 10 ms
  Play(dry, {&first});
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return recorder.Done().back() == &first.header; }));
  TClockDriver::RunFor(100);
  backend->ClearPlayed("out:0");
  TBuffer more(std::vector<std::uint8_t>(3528, 9));  // 20 ms
  ASSERT_EQ(DSWaveOutPrepareHeader(dry, &more.header), kDSOk);
  ASSERT_EQ(DSWaveOutWrite(dry, &more.header), kDSOk);
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return recorder.Done().back() == &more.header; }));
  TClockDriver::RunFor(50);
  const std::vector<std::uint8_t> after = backend->Played("out:0");
  EXPECT_NE(std::search(after.begin(), after.end(), more.data.begin(), more.data.end()),
            after.end());
  EXPECT_EQ(std::count(after.begin(), after.end(), 0),
            static_cast<std::ptrdiff_t>(after.size() - more.data.size()));
  EXPECT_EQ(DSWaveOutClose(dry), kDSOk);
}

TEST_F(DSLayerTest, EachHeaderIsDoneOnlyOnceItsSoundWasPlayed) {
  const WAVEFORMATEX stereo = Pcm(16, 2, 44100);
  PDSWaveOut c = Open(stereo);
  ASSERT_NE(c, nullptr);
  const std::vector<std::uint8_t> data = Pattern(3 * 8820);
  TBuffer b0({data.begin(), data.begin() + 8820});
  TBuffer b1({data.begin() + 8820, data.begin() + 17640});
  TBuffer b2({data.begin() + 17640, data.end()});
  Play(c, {&b0, &b1, &b2});
  // The clock stands: time passes, but nothing is heard and nothing is done.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  WaitAndPump(10, true);
  EXPECT_TRUE(recorder.Done().empty());
  EXPECT_EQ(Samples(c), 0u);

  // Each header comes back once its last byte has been heard, not before.
  std::size_t done = 0;
  ASSERT_TRUE(TClockDriver::RunUntil([&] {
    const std::size_t now = recorder.Done().size();
    const std::size_t heard = backend->Played("out:0").size();
    for (std::size_t k = done; k < now; ++k) EXPECT_GE(heard, (k + 1) * 8820) << k;
    done = now;
    return now == 3;
  }));
  EXPECT_EQ(recorder.Done(), (std::vector<WAVEHDR*>{&b0.header, &b1.header, &b2.header}));
  for (const auto& n : recorder.Notices()) {
    if (n.msg == MM_WOM_DONE) {
      EXPECT_FALSE(n.on_gui);  // from the timer thread
    }
  }
  EXPECT_EQ(b2.header.dwFlags & WHDR_DONE, WHDR_DONE);
  const std::vector<std::uint8_t> played = backend->Played("out:0");
  ASSERT_GE(played.size(), data.size());
  EXPECT_EQ(std::vector<std::uint8_t>(played.begin(), played.begin() + 26460), data);

  // A pause goes on where the sound stopped; the position stands meanwhile.
  const std::vector<std::uint8_t> more = Pattern(44100);
  TBuffer b3(more);
  backend->ClearPlayed("out:0");
  ASSERT_EQ(DSWaveOutWrite(c, &b3.header), kDSOk);
  auto sounding = [&] {
    const std::vector<std::uint8_t> heard = backend->Played("out:0");
    return std::find_if(heard.begin(), heard.end(), [](std::uint8_t b) { return b != 0; });
  };
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return sounding() != backend->Played("out:0").end(); }));
  TClockDriver::RunFor(30);
  ASSERT_EQ(DSWaveOutPause(c), kDSOk);
  const DWORD before = Samples(c);
  const std::size_t at_pause = backend->Played("out:0").size();
  TClockDriver::RunFor(100);
  EXPECT_EQ(backend->Played("out:0").size(), at_pause);
  EXPECT_EQ(Samples(c), before);
  ASSERT_EQ(DSWaveOutRestart(c), kDSOk);
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return recorder.Done().size() == 4; }));
  // All of it, without a gap. What is heard before it depends on how late the
  // feed ran against the clock, so the sound is found by its first bytes.
  const std::vector<std::uint8_t> heard = backend->Played("out:0");
  const auto start = static_cast<std::size_t>(
      std::search(heard.begin(), heard.end(), more.begin(), more.begin() + 64) - heard.begin());
  ASSERT_GE(heard.size(), start + more.size());
  EXPECT_EQ(std::vector<std::uint8_t>(heard.begin() + static_cast<std::ptrdiff_t>(start),
                                      heard.begin() + static_cast<std::ptrdiff_t>(start) + 44100),
            more);

  // Reset returns what is queued at once; close notifies last.
  TBuffer b4(Pattern(40000));
  ASSERT_EQ(DSWaveOutWrite(c, &b4.header), kDSOk);
  ASSERT_EQ(DSWaveOutReset(c), kDSOk);
  EXPECT_EQ(recorder.Done().back(), &b4.header);
  EXPECT_EQ(Samples(c), 0u);
  ASSERT_EQ(DSWaveOutClose(c), kDSOk);
  EXPECT_EQ(recorder.Notices().back().msg, MM_WOM_CLOSE);
}

TEST_F(DSLayerTest, ClosingTheLastContextStopsTheFeedTimer) {
  const int timers = platform::ActiveTimerCount();
  const WAVEFORMATEX stereo = Pcm(16, 2, 44100);
  const GUID headset = GuidOf("Headset");
  PDSWaveOut a = Open(stereo);
  PDSWaveOut b = Open(stereo, &headset);
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(DSFeedTimerRunning());
  TBuffer sound_a(Pattern(88200)), sound_b(Pattern(88200));
  Play(a, {&sound_a});
  Play(b, {&sound_b});
  EXPECT_TRUE(DSFeedTimerRunning());
  EXPECT_EQ(platform::RequestedTimerPeriod(), 1u);
  TClockDriver::RunFor(100);
  ASSERT_EQ(DSWaveOutClose(a), kDSOk);
  EXPECT_TRUE(DSFeedTimerRunning());
  ASSERT_EQ(DSWaveOutClose(b), kDSOk);
  EXPECT_FALSE(DSFeedTimerRunning());
  EXPECT_EQ(platform::RequestedTimerPeriod(), 0u);
  EXPECT_EQ(platform::ActiveTimerCount(), timers);
  EXPECT_EQ(DSOpenContextCount(), 0);
  // Each played its own sound on its own output.
  for (const char* id : {"out:0", "out:1"}) {
    const std::vector<std::uint8_t> heard = backend->Played(id);
    ASSERT_GT(heard.size(), 0u) << id;
    ASSERT_LT(heard.size(), sound_a.data.size()) << id;
    EXPECT_TRUE(std::equal(heard.begin(), heard.end(), sound_a.data.begin())) << id;
  }

  // A later open starts it again.
  PDSWaveOut c = Open(stereo);
  TBuffer again(Pattern(4000));
  Play(c, {&again});
  EXPECT_TRUE(DSFeedTimerRunning());
  ASSERT_EQ(DSWaveOutClose(c), kDSOk);
  EXPECT_FALSE(DSFeedTimerRunning());
}

TEST_F(DSLayerTest, DeviceThatGoesAwayReturnsEveryHeader) {
  const WAVEFORMATEX stereo = Pcm(16, 2, 44100);
  const GUID headset = GuidOf("Headset");
  PDSWaveOut c = Open(stereo, &headset);
  ASSERT_NE(c, nullptr);
  TBuffer b0(Pattern(44100)), b1(Pattern(44100)), b2(Pattern(44100));
  Play(c, {&b0, &b1, &b2});
  TClockDriver::RunFor(50);
  backend->RemoveOutput("out:1");
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return recorder.Done().size() == 3; }));
  EXPECT_EQ(recorder.Done(), (std::vector<WAVEHDR*>{&b0.header, &b1.header, &b2.header}));
  EXPECT_EQ(DSWaveOutWrite(c, &b0.header), kDSFailed);
  EXPECT_EQ(DSWaveOutRestart(c), kDSFailed);
  MMTIME time;
  time.wType = TIME_SAMPLES;
  EXPECT_EQ(DSWaveOutGetPosition(c, time), kDSFailed);
  EXPECT_EQ(DSWaveOutPause(c), kDSOk);
  EXPECT_EQ(DSWaveOutReset(c), kDSOk);
  EXPECT_EQ(DSWaveOutClose(c), kDSOk);
  EXPECT_FALSE(DSFeedTimerRunning());
}

}  // namespace
