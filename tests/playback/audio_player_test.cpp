#include "playback/audio_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/wave_io.h"
#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/framework/layout_reader.h"
#include "platform/framework/properties.h"
#include "tests/files/temp_files.h"
#include "tests/playback/test_chain.h"
#include "tests/support/sub_format.h"

namespace {

using playtest::Concat;
using playtest::Pattern;
using playtest::TClockDriver;
using playtest::TSink;
using Bytes = std::vector<std::uint8_t>;

void WriteWave(const std::string& path, const WAVEFORMATEX& format, const Bytes& data) {
  PWaveIOBlock block = nullptr;
  ASSERT_EQ(WaveCreate(block, &format), 0);
  ASSERT_EQ(WaveCreateFile(block, path.c_str()), 0);
  ASSERT_EQ(WaveWrite(block, reinterpret_cast<const char*>(data.data()),
                      static_cast<std::int32_t>(data.size())),
            static_cast<std::int32_t>(data.size()));
  ASSERT_EQ(WaveFinish(block), 0);
  WaveFree(block);
}

Bytes Slice(const Bytes& data, std::size_t from, std::size_t to = SIZE_MAX) {
  to = std::min(to, data.size());
  return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(to));
}

// The message boxes shown while it lives, as "caption|text".
class TBoxes {
 public:
  TBoxes() {
    platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT) {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back(caption + "|" + text);
      return IDOK;
    });
  }
  ~TBoxes() { platform::SetMessageBoxHook(nullptr); }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> boxes_;
};

// What a player reported.
struct TPlayerEvents {
  explicit TPlayerEvents(TMMAudioPlayer& player) {
    player.OnStart = [this](TComponent*) { ++start; };
    player.OnStop = [this](TComponent*) { ++stop; };
    player.OnPause = [this](TComponent*) { ++pause; };
    player.OnRestart = [this](TComponent*) { ++restart; };
    player.OnData = [this](TComponent* sender, PWaveHdr h) {
      std::lock_guard<std::mutex> lock(mutex);
      if (sender != nullptr) data.insert(data.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    };
  }
  Bytes Data() {
    std::lock_guard<std::mutex> lock(mutex);
    return data;
  }
  std::atomic<int> start{0}, stop{0}, pause{0}, restart{0};
  std::mutex mutex;
  Bytes data;
};

class AudioPlayerTest : public TempFilesTest {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    UseDevices("virtual:out=Speakers|Headset|Spare");
    platform::VirtualClock::SetManual(true);
  }
  void TearDown() override {
    TClockDriver::PumpMs() = 2;
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
    TempFilesTest::TearDown();
  }
  void UseDevices(const std::string& devices) {
    ASSERT_TRUE(platform::SelectAudioBackend(devices));
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
  }

  // A 16-bit stereo 44100 Hz file of `bytes` bytes of a pattern, given to the
  // player, which plays through `sink` on output device 0 of the catalogue,
  // as the main window sets its player up.
  void Load(TMMAudioPlayer& player, TSink& sink, std::size_t bytes) {
    data = Pattern(bytes);
    const std::string path = Path("player");
    WriteWave(path, playtest::Stereo16(), data);
    player.SetOutput(&sink);
    player.SetBufferSize(8196);
    player.SetNumBuffers(10);
    player.SetDeviceID(InvalidId);
    player.SetUseDSound(ds_);
    player.SetDeviceID(Device(0));
    player.SetFileName(path);
    ASSERT_FALSE(player.AudioFile()->IsEmpty());
  }
  // The player's number of catalogue output k: the DirectSound output counts
  // the default device first.
  TMMDeviceId Device(TMMDeviceId k) const { return ds_ ? k + 1 : k; }

  Bytes Played(const std::string& id) { return backend->Played(id); }
  // What the device played is `expected`; the looping sound buffer plays
  // silence after it until it stops.
  void ExpectHeard(const std::string& id, const Bytes& expected) {
    const Bytes heard = Played(id);
    if (!ds_) {
      EXPECT_EQ(heard, expected);
      return;
    }
    ASSERT_GE(heard.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin()));
    EXPECT_EQ(
        std::count(heard.begin() + static_cast<std::ptrdiff_t>(expected.size()), heard.end(), 0),
        static_cast<std::ptrdiff_t>(heard.size() - expected.size()));
  }

  bool ds_ = false;
  std::shared_ptr<platform::VirtualAudioBackend> backend;
  Bytes data;
};

// Run once with each output: the wave output (false) and the DirectSound
// output (true), whose feed runs in real time beside the hand-driven clock.
class AudioPlayerOutputTest : public AudioPlayerTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    AudioPlayerTest::SetUp();
    ds_ = GetParam();
    TClockDriver::PumpMs() = ds_ ? 10 : 2;
  }
};

INSTANTIATE_TEST_SUITE_P(Outputs, AudioPlayerOutputTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "DSound" : "Wave"; });

TEST_P(AudioPlayerOutputTest, AFilePlaysToItsEndClosesByItselfAndStartsAgainAtZero) {
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode);
    backend->ClearPlayed("out:0");
    TMMAudioPlayer player(nullptr);
    TSink sink(nullptr);
    TPlayerEvents events(player);
    // Not a whole number of buffers: the last one is short.
    Load(player, sink, 177400);
    player.SetCallBackMode(mode);
    EXPECT_EQ(player.GetFileType(), ftWave);
    EXPECT_EQ(player.AudioFile()->GetLength(), 1006);
    // The file's format reaches the player's Output.
    ASSERT_NE(sink.GetPWaveFormat(), nullptr);
    EXPECT_EQ(sink.GetPWaveFormat()->nAvgBytesPerSec, 176400u);

    player.Play();
    EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
    EXPECT_EQ(events.start, 1);
    // A second Play changes nothing.
    player.Play();
    EXPECT_EQ(events.start, 1);
    TClockDriver::RunFor(250);
    EXPECT_EQ(player.GetPosition(), 250);
    EXPECT_EQ(events.stop, 0);

    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    TClockDriver::RunFor(100);
    // Stopped and closed by itself, once; the device heard exactly the file.
    EXPECT_EQ(events.stop, 1);
    EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    ExpectHeard("out:0", data);
    EXPECT_EQ(events.Data(), data);
    EXPECT_EQ(sink.Bytes(), data);
    EXPECT_EQ(sink.off_gui, mode == cmThread);
    EXPECT_FALSE(sink.IsOpened());
    EXPECT_EQ(player.GetPosition(), 1006);

    // The next Play starts at 0.
    backend->ClearPlayed("out:0");
    player.Play();
    EXPECT_EQ(player.GetPosition(), 0);
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 1; }));
    ExpectHeard("out:0", data);
    EXPECT_EQ(events.start, 2);
  }
}

// Files above 100 kHz play at their own speed on both outputs: the device hears
// each frame once (a wrong speed would repeat frames, or the file be refused).
TEST_P(AudioPlayerOutputTest, RatesAboveAHundredKilohertzPlayAtTheirOwnSpeed) {
  for (const std::uint32_t rate : {176400u, 192000u}) {
    SCOPED_TRACE(rate);
    backend->ClearPlayed("out:0");
    TMMAudioPlayer player(nullptr);
    TSink sink(nullptr);
    TPlayerEvents events(player);
    Load(player, sink, 4);
    WAVEFORMATEX format{};
    BuildPCMFormat(format, 16, 2, rate);
    data = Pattern(rate);  // a quarter of a second
    const std::string path = Path("fast" + std::to_string(rate));
    WriteWave(path, format, data);
    player.SetFileName(path);
    EXPECT_EQ(player.AudioFile()->GetLength(), 250);
    player.Play();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    ExpectHeard("out:0", data);
    EXPECT_EQ(player.GetPosition(), 250);
  }
}

// A file's channel mask reaches the device through the chain, also where the
// converter changes the sample size, and each frame is heard as it is (no
// channel moved); without a mask, the wave layout for the channel count.
TEST_P(AudioPlayerOutputTest, ChannelsAreOpenedOnTheSpeakersTheFileNames) {
  using P = platform::ChannelPosition;
  const std::vector<P> named{P::kFrontCenter, P::kLowFrequency, P::kSideLeft, P::kSideRight};
  const std::vector<P> layout{P::kFrontLeft, P::kFrontRight, P::kBackLeft, P::kBackRight};
  struct Case {
    bool extensible;
    std::uint16_t bits;
    std::uint32_t mask;
    std::vector<P> heard_on;
  };
  for (const Case& c : {Case{true, 16, 0x60C, named}, Case{true, 24, 0x60C, named},
                        Case{true, 16, 0, layout}, Case{false, 16, 0, layout}}) {
    SCOPED_TRACE(std::to_string(c.bits) + " bit, mask " + std::to_string(c.mask));
    backend->ClearPlayed("out:0");
    TMMAudioPlayer player(nullptr);
    TSink sink(nullptr);
    TPlayerEvents events(player);
    Load(player, sink, 4);
    WAVEFORMATEXTENSIBLE x{};
    BuildPCMFormat(x.Format, c.bits, 4, 44100);
    if (c.extensible) {
      x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
      x.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
      x.wValidBitsPerSample = c.bits;
      x.dwChannelMask = c.mask;
      wavetest::SetSubFormat(x, WAVE_FORMAT_PCM);
    }
    data = Pattern(std::size_t{x.Format.nBlockAlign} * 4410);  // a tenth of a second
    const std::string path = Path("quad" + std::to_string(c.bits) + std::to_string(c.mask));
    WriteWave(path, x.Format, data);
    player.SetFileName(path);
    player.Play();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    EXPECT_EQ(backend->OpenedChannelMap("out:0"), c.heard_on);
    if (c.bits == 16) {
      ExpectHeard("out:0", data);
    } else {
      EXPECT_GE(Played("out:0").size(), data.size() * 2 / 3);
    }
  }
}

TEST_P(AudioPlayerOutputTest, StopAndPlayOnAnotherDeviceGoesOnFromTheReader) {
  TMMAudioPlayer player(nullptr);
  TSink sink(nullptr);
  TPlayerEvents events(player);
  Load(player, sink, 176400);
  // Everything the output took from the file.
  std::size_t pulled = 0;
  player.ActiveOutput()->OnBufferFilled = [&](TComponent*, PWaveHdr h) {
    pulled += h->dwBytesRecorded;
  };
  player.Play();
  TClockDriver::RunFor(300);
  const Bytes heard = Played("out:0");
  ASSERT_EQ(heard, Slice(data, 0, 300 * 176400 / 1000));

  player.Stop();
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.stop, 1);
  // The reader stands ahead of what was heard by what was queued.
  ASSERT_GT(pulled, heard.size());
  EXPECT_EQ(player.GetPosition(), BytesToMs(sink.GetPWaveFormat(), static_cast<int>(pulled)));

  // Played buffers went on down the chain whole (the sound buffer reports
  // the last one heard a moment later, on its own timer).
  const std::size_t shown = sink.Bytes().size();
  EXPECT_EQ(shown % 8196, 0u);
  EXPECT_LE(shown, heard.size() / 8196 * 8196);
  EXPECT_GE(shown + (ds_ ? 8196 : 0), heard.size() / 8196 * 8196);
  const std::size_t reader = pulled;
  player.SetDeviceID(Device(2));
  player.Play();
  EXPECT_EQ(events.stop, 1);  // nothing more for the old run
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 1; }));
  EXPECT_EQ(events.stop, 2);
  ExpectHeard("out:0", heard);
  ExpectHeard("out:2", Slice(data, reader));
  EXPECT_TRUE(Played("out:1").empty());
  // The meters' side saw both runs, in order.
  EXPECT_EQ(sink.Bytes(), Concat({Slice(data, 0, shown), Slice(data, reader)}));
}

TEST_P(AudioPlayerOutputTest, StopPositionSeekAndLooping) {
  TMMAudioPlayer player(nullptr);
  TSink sink(nullptr);
  TPlayerEvents events(player);
  Load(player, sink, 176400);

  // With ResetPosition False the next Play resumes where the stop was heard.
  player.SetResetPosition(false);
  player.Play();
  TClockDriver::RunFor(500);
  player.Stop();
  EXPECT_EQ(events.stop, 1);
  EXPECT_EQ(player.GetPosition(), 500);
  player.Play();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 1; }));
  ExpectHeard("out:0", Concat({Slice(data, 0, 88200), Slice(data, 88200)}));

  // A seek while playing drops what was queued and plays on from there,
  // without reporting a pause.
  backend->ClearPlayed("out:0");
  player.SetResetPosition(true);
  player.Play();
  TClockDriver::RunFor(200);
  player.SetPosition(600);
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_EQ(player.GetPosition(), 600);
  TClockDriver::RunFor(100);
  EXPECT_EQ(player.GetPosition(), 700);
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 2; }));
  ExpectHeard("out:0", Concat({Slice(data, 0, 35280), Slice(data, 105840)}));
  EXPECT_EQ(events.pause, 0);
  EXPECT_EQ(events.restart, 0);

  // A pause of the output itself is reported; a seek while paused stays
  // paused, and the restart is reported.
  backend->ClearPlayed("out:0");
  player.SetPosition(0);
  player.Play();
  TClockDriver::RunFor(100);
  player.ActiveOutput()->Pause();
  EXPECT_EQ(events.pause, 1);
  const Bytes before = Played("out:0");
  player.SetPosition(500);
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted | dsPaused));
  TClockDriver::RunFor(100);
  EXPECT_EQ(Played("out:0").size(), before.size());
  EXPECT_EQ(events.pause, 1);
  EXPECT_EQ(events.restart, 0);
  player.ActiveOutput()->Restart();
  EXPECT_EQ(events.restart, 1);
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 3; }));
  ExpectHeard("out:0", Concat({before, Slice(data, 88200)}));

  // A seek while closed only moves the reader.
  player.SetPosition(900);
  EXPECT_EQ(player.GetPosition(), 900);
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));

  // Looping twice plays the file three times and then ends as usual.
  backend->ClearPlayed("out:0");
  player.SetPosition(0);
  player.ActiveOutput()->SetLooping(true);
  player.ActiveOutput()->SetLoopCount(2);
  player.Play();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 4; }));
  ExpectHeard("out:0", Concat({data, data, data}));
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

TEST_P(AudioPlayerOutputTest, DeviceThatGoesAwayEndsTheRunWithTheSystemMessage) {
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode);
    UseDevices("virtual:out=Speakers|Headset|Spare");
    TMMAudioPlayer player(nullptr);
    TSink sink(nullptr);
    TPlayerEvents events(player);
    TBoxes boxes;
    Load(player, sink, 176400);
    player.SetCallBackMode(mode);
    player.SetDeviceID(Device(1));
    std::atomic<std::size_t> pulled{0};
    player.ActiveOutput()->OnBufferFilled = [&](TComponent*, PWaveHdr h) {
      pulled += h->dwBytesRecorded;
    };
    player.Play();
    TClockDriver::RunFor(100);
    backend->RemoveOutput("out:1");
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    TClockDriver::RunFor(100);
    EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    EXPECT_EQ(events.stop, 1);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_TRUE(playtest::ShowsDeviceLost(boxes.Texts()[0], ds_)) << boxes.Texts()[0];
    EXPECT_FALSE(sink.IsOpened());
    // The player goes on working on another device, from the reader.
    player.SetDeviceID(Device(0));
    backend->ClearPlayed("out:0");
    const std::size_t from = pulled;
    player.Play();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 1; }));
    ExpectHeard("out:0", Slice(data, from));
  }
}

TEST_F(AudioPlayerTest, PropertiesGoToTheActiveOutputAndTheAudioFile) {
  TMMAudioPlayer player(nullptr);
  EXPECT_EQ(player.ActiveOutput(), player.WaveOut());
  EXPECT_FALSE(player.GetUseDSound());
  EXPECT_TRUE(player.GetResetPosition());
  EXPECT_EQ(player.WaveOut()->GetTimeFormat(), tfMillisecond);
  EXPECT_EQ(player.WaveOut()->GetInput(), player.PitchStage());
  EXPECT_EQ(player.PitchStage()->GetInput(), player.AudioFile());
  EXPECT_EQ(player.GetInput(), player.WaveOut());
  // It can be any component's Input, but no component's Output.
  EXPECT_FALSE(player.GetAcceptAsOutput());

  player.SetBufferSize(8196);
  player.SetNumBuffers(12);
  player.SetDeviceID(InvalidId);
  player.SetCallBackMode(cmThread);
  EXPECT_EQ(player.WaveOut()->GetBufferSize(), 8196);
  EXPECT_EQ(player.GetNumBuffers(), 12);
  EXPECT_EQ(player.WaveOut()->GetDeviceID(), InvalidId);
  EXPECT_EQ(player.GetProductName(), "No wave audio playing device found");
  player.SetDeviceID(1);
  EXPECT_EQ(player.GetProductName(), "Headset");
  player.SetProductName("ignored");
  EXPECT_EQ(player.GetProductName(), "Headset");
  EXPECT_EQ(player.WaveOut()->GetCallBackMode(), cmThread);

  // Gains are limited and applied by the audio file; the pitch by the stage.
  player.SetVolume(40000);
  EXPECT_EQ(player.GetVolume(), 32768);
  EXPECT_EQ(player.AudioFile()->GetVolume(), 32768);
  player.SetVolume(-5);
  EXPECT_EQ(player.AudioFile()->GetVolume(), 0);
  player.SetPanning(-40000);
  EXPECT_EQ(player.GetPanning(), -32768);
  EXPECT_EQ(player.AudioFile()->GetPanning(), -32768);
  player.SetPitch(80);
  EXPECT_EQ(player.GetPitch(), 50);
  EXPECT_EQ(player.PitchStage()->GetPitch(), 50);
  EXPECT_EQ(player.PitchStage()->Step(), 98304u);
  player.SetPitch(-80);
  EXPECT_EQ(player.PitchStage()->Step(), 32768u);
  player.SetPitch(0);
  EXPECT_EQ(player.PitchStage()->Step(), kMMPitchUnityStep);
  // A layout stores Pitch as a decimal number, on the player and on a pitch
  // stage, and reads it back limited.
  RegisterClass(TMMAudioPlayer::StaticClassInfo());
  RegisterClass(TMMPitch::StaticClassInfo());
  {
    TMMAudioPlayer stored(nullptr);
    ReadLayout(stored,
               "object Player: TMMAudioPlayer\n"
               "  Pitch = 12.5\n"
               "  object Stage: TMMPitch\n"
               "    Pitch = -1E3\n"
               "  end\n"
               "end\n");
    EXPECT_EQ(stored.GetPitch(), 12.5f);
    EXPECT_EQ(stored.PitchStage()->GetPitch(), 12.5f);
    EXPECT_EQ(ReadPropertyText(stored, "Pitch"), "12.5");
    auto* stage = stored.FindAs<TMMPitch>("Stage");
    ASSERT_NE(stage, nullptr);
    EXPECT_EQ(stage->GetPitch(), -50.0f);
    EXPECT_EQ(ReadPropertyText(*stage, "Pitch"), "-50");
  }

  // Switching to the DirectSound output carries the settings over and
  // rewires the chain; wave device k is DirectSound device k + 1, the mapper
  // the default device.
  const std::string tone = Path("tone");
  WriteWave(tone, playtest::Stereo16(), Pattern(8000));
  player.SetFileName(tone);
  player.SetCallBackMode(cmWindow);
  player.SetDeviceID(MapperId);
  player.SetUseDSound(true);
  TMMDSWaveOut* ds = player.DSWaveOut();
  EXPECT_EQ(player.ActiveOutput(), ds);
  EXPECT_EQ(ds->GetDeviceID(), 0);
  EXPECT_EQ(player.GetProductName(), "Default playback device");
  EXPECT_EQ(ds->GetBufferSize(), 8196);
  EXPECT_EQ(ds->GetNumBuffers(), 12);
  EXPECT_EQ(ds->GetCallBackMode(), cmWindow);
  EXPECT_EQ(ds->GetTimeFormat(), tfMillisecond);
  EXPECT_EQ(ds->GetInput(), player.AudioFile());
  EXPECT_EQ(player.GetInput(), ds);
  EXPECT_EQ(player.WaveOut()->GetOutput(), nullptr);
  EXPECT_EQ(player.PitchStage()->GetInput(), nullptr);
  EXPECT_EQ(player.PitchStage()->GetOutput(), nullptr);
  ASSERT_NE(ds->GetPWaveFormat(), nullptr);
  // Volume in hundredths of a decibel below 16384, pan scaled to the sound
  // buffer's range, pitch as its rate; the file's own gains stay neutral.
  player.SetVolume(8192);
  EXPECT_EQ(ds->GetVolume(), -602);
  EXPECT_EQ(player.AudioFile()->GetVolume(), 16384);
  player.SetVolume(0);
  EXPECT_EQ(ds->GetVolume(), -10000);
  player.SetVolume(40000);
  EXPECT_EQ(player.GetVolume(), 16384);
  EXPECT_EQ(ds->GetVolume(), 0);
  player.SetPanning(16384);
  EXPECT_EQ(ds->GetPan(), 5000);
  EXPECT_EQ(player.AudioFile()->GetPanning(), 0);
  player.SetPanning(-40000);
  EXPECT_EQ(ds->GetPan(), -10000);
  player.SetPitch(80);
  EXPECT_EQ(player.GetPitch(), 50);
  EXPECT_EQ(ds->GetFrequency(), 66150);
  player.SetPitch(-50);
  EXPECT_EQ(ds->GetFrequency(), 22050);
  // Unit pitch plays at the format's own rate, whatever it is.
  player.SetPitch(0);
  EXPECT_EQ(ds->GetFrequency(), static_cast<std::int32_t>(DSBFREQUENCY_ORIGINAL));
  // And back: DirectSound device 0 is the mapper, k + 1 wave device k.
  player.SetUseDSound(false);
  EXPECT_EQ(player.GetDeviceID(), MapperId);
  player.SetUseDSound(true);
  player.SetDeviceID(3);
  EXPECT_EQ(player.GetProductName(), "Spare");
  player.SetUseDSound(false);
  EXPECT_EQ(player.ActiveOutput(), player.WaveOut());
  EXPECT_EQ(player.GetDeviceID(), 2);
  EXPECT_EQ(player.GetProductName(), "Spare");
  EXPECT_EQ(player.WaveOut()->GetInput(), player.PitchStage());
  EXPECT_EQ(player.PitchStage()->GetInput(), player.AudioFile());
  EXPECT_EQ(player.GetInput(), player.WaveOut());
  EXPECT_EQ(ds->GetOutput(), nullptr);
  // No device stays no device either way.
  player.SetDeviceID(InvalidId);
  player.SetUseDSound(true);
  EXPECT_EQ(player.GetDeviceID(), InvalidId);
  EXPECT_EQ(player.GetProductName(), "No DirectSound playing devices found");
  player.SetUseDSound(false);
  EXPECT_EQ(player.GetDeviceID(), InvalidId);

  // Without a file Play does nothing and says nothing.
  TBoxes boxes;
  player.SetFileName(Path("missing"));
  EXPECT_TRUE(player.AudioFile()->IsEmpty());
  player.Play();
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_TRUE(boxes.Texts().empty());

  // A file that no type takes is refused by the audio file.
  const std::string text = Path("text");
  std::filesystem::remove(text);
  {
    std::FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a wave file", f);
    std::fclose(f);
  }
  EXPECT_THROW(player.SetFileName(text), EMMAudioError);

  // Shaping the device is refused while it is open.
  TSink sink(nullptr);
  Load(player, sink, 176400);
  player.SetCallBackMode(cmWindow);
  player.Play();
  std::vector<std::string> refusals;
  auto attempt = [&](auto change) {
    try {
      change();
    } catch (const Exception& e) {
      refusals.push_back(e.what());
    }
  };
  attempt([&] { player.SetDeviceID(2); });
  attempt([&] { player.SetBufferSize(4096); });
  attempt([&] { player.SetUseDSound(true); });
  EXPECT_EQ(refusals, std::vector<std::string>(3, "Change to property while device was open"));
  EXPECT_FALSE(player.GetUseDSound());
  // Loading another file stops the sound and closes the device.
  TPlayerEvents events(player);
  const std::string other = Path("other");
  WriteWave(other, playtest::Stereo16(), Pattern(4000));
  player.SetFileName(other);
  EXPECT_EQ(player.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.stop, 1);
}

// Pulls everything from the stage in buffers of `bytes`; the 16-bit samples.
std::vector<std::int16_t> PullAll(TMMPitch& pitch, std::size_t bytes, int* empty_buffers) {
  std::vector<std::int16_t> samples;
  std::vector<char> buffer(bytes);
  bool more = true;
  for (int guard = 0; more && guard < 10000; ++guard) {
    TMMWaveHdr h{};
    h.lpData = buffer.data();
    h.dwBufferLength = static_cast<DWORD>(bytes);
    more = false;
    pitch.BufferLoad(&h, more);
    if (h.dwBytesRecorded == 0) ++*empty_buffers;
    for (DWORD i = 0; i + 1 < h.dwBytesRecorded; i += 2) {
      std::int16_t v;
      std::memcpy(&v, buffer.data() + i, 2);
      samples.push_back(v);
    }
  }
  return samples;
}

TEST(PitchStageTest, PassesThroughAtUnityAndResamplesOtherwise) {
  // A 16-bit mono ramp: sample k holds 10 k.
  WAVEFORMATEX mono{};
  BuildPCMFormat(mono, 16, 1, 8000);
  Bytes ramp(2000);
  for (int k = 0; k < 1000; ++k) {
    const auto v = static_cast<std::int16_t>(10 * k);
    std::memcpy(ramp.data() + 2 * k, &v, 2);
  }
  playtest::TTestSource source(nullptr);
  TMMPitch pitch(nullptr);
  source.SetData(ramp, mono);
  pitch.SetInput(&source);
  ASSERT_NE(pitch.GetPWaveFormat(), nullptr);
  EXPECT_TRUE(pitch.GetEnabled());

  // Unity: every pull goes straight to the source, data unchanged.
  int empty = 0;
  std::vector<std::int16_t> out = PullAll(pitch, 300, &empty);
  EXPECT_EQ(source.loads, 7);
  ASSERT_EQ(out.size(), 1000u);
  EXPECT_EQ(out[999], 9990);

  // Half as fast again: every frame made from its two neighbours, the last
  // frame of the input standing alone; MoreBuffers goes False with the last
  // frame, never before an empty buffer.
  pitch.SetPitch(50);
  source.SetPosition(0);
  pitch.Reset();
  out = PullAll(pitch, 300, &empty);
  ASSERT_EQ(out.size(), 667u);
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], static_cast<int>(15 * i)) << i;
  EXPECT_EQ(empty, 0);

  // Half the speed: twice the frames.
  pitch.SetPitch(-50);
  source.SetPosition(0);
  pitch.Reset();
  out = PullAll(pitch, 256, &empty);
  ASSERT_EQ(out.size(), 2000u);
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], std::min(static_cast<int>(5 * i), 9990)) << i;
  EXPECT_EQ(empty, 0);

  // A jump of position drops what the stage held back.
  source.SetPosition(0);
  pitch.Reset();
  TMMWaveHdr h{};
  std::vector<char> buffer(64);
  h.lpData = buffer.data();
  h.dwBufferLength = 64;
  bool more = false;
  pitch.BufferLoad(&h, more);
  source.SetPosition(1000);
  pitch.Reset();
  pitch.BufferLoad(&h, more);
  std::int16_t first;
  std::memcpy(&first, buffer.data(), 2);
  EXPECT_EQ(first, 5000);

  // Disabled, it passes through whatever its pitch.
  pitch.SetEnabled(false);
  source.SetPosition(0);
  pitch.Reset();
  out = PullAll(pitch, 2000, &empty);
  EXPECT_EQ(out.size(), 1000u);

  // Six channels it cannot resample pass through at any pitch.
  playtest::TTestSource six(nullptr);
  WAVEFORMATEX f6{};
  BuildPCMFormat(f6, 16, 6, 96000);
  Bytes frames(1200);
  for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<std::uint8_t>(i * 7);
  six.SetData(frames, f6);
  TMMPitch passing(nullptr);
  passing.SetInput(&six);
  passing.SetPitch(20);
  std::vector<std::int16_t> passed = PullAll(passing, 600, &empty);
  ASSERT_EQ(passed.size(), 600u);
  EXPECT_EQ(std::memcmp(passed.data(), frames.data(), frames.size()), 0);

  // Only 8- and 16-bit PCM is taken.
  playtest::TTestSource wide(nullptr);
  WAVEFORMATEX f24{};
  BuildPCMFormat(f24, 24, 2, 44100);
  wide.SetData(Bytes(600), f24);
  TMMPitch other(nullptr);
  try {
    other.SetInput(&wide);
    ADD_FAILURE() << "24-bit PCM was taken";
  } catch (const EMMPitchError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
}

}  // namespace
