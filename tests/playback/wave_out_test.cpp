#include "playback/wave_out.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/framework/wait_cursor.h"
#include "tests/playback/test_chain.h"

namespace {

using playtest::Concat;
using playtest::Pattern;
using playtest::TClockDriver;
using playtest::TSink;
using playtest::TTestSource;

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

// Counts the notify events of an output.
struct TEvents {
  explicit TEvents(TMMCustomWaveOutComponent& out) {
    out.OnOpen = [this](TComponent*) { ++open; };
    out.OnStart = [this](TComponent*) { ++start; };
    out.OnStop = [this](TComponent*) { ++stop; };
    out.OnClose = [this](TComponent*) { ++close; };
    out.OnError = [this](TComponent*) { ++error; };
    out.OnPause = [this](TComponent*) { ++pause; };
    out.OnRestart = [this](TComponent*) { ++restart; };
  }
  std::atomic<int> open{0}, start{0}, stop{0}, close{0}, error{0}, pause{0}, restart{0};
};

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset"));
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
    platform::VirtualClock::SetManual(true);
  }
  void TearDown() override {
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
  }

  // source -> out -> sink, 16-bit stereo 44100 Hz.
  void Wire(TTestSource& source, TMMWaveOut& out, TSink& sink, std::size_t bytes) {
    out.SetInput(&source);
    out.SetOutput(&sink);
    data = Pattern(bytes);
    source.SetData(data, playtest::Stereo16());
  }

  std::vector<std::uint8_t> Played(const std::string& id) { return backend->Played(id); }

  std::shared_ptr<platform::VirtualAudioBackend> backend;
  std::vector<std::uint8_t> data;
};

TEST_F(WaveOutTest, SourcePlaysToItsEndAndTheOutputStopsByItself) {
  TTestSource source(nullptr);
  TMMWaveOut out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  Wire(source, out, sink, 176400);  // one second
  ASSERT_NE(out.GetPWaveFormat(), nullptr);
  EXPECT_EQ(sink.GetPWaveFormat()->nAvgBytesPerSec, 176400u);
  out.SetBufferSize(8196);
  out.SetNumBuffers(10);

  out.Start();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_EQ(events.open, 1);
  EXPECT_EQ(events.start, 1);
  // The chain was opened and started, and the source got the output's buffer size.
  EXPECT_TRUE(source.IsOpened() && source.IsStarted() && sink.IsStarted());
  EXPECT_EQ(source.GetBufferSize(), 8196);
  EXPECT_EQ(source.loads, 10);  // the ring is full
  EXPECT_EQ(out.GetPosition(), 0);

  // Positions follow what has been heard, in every unit.
  TClockDriver::RunFor(100);
  EXPECT_EQ(out.GetPosition(), 17640);
  out.SetTimeFormat(tfSample);
  EXPECT_EQ(out.GetPosition(), 4410);
  out.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(out.GetPosition(), 100);
  EXPECT_EQ(Played("out:0").size(), 17640u);

  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  TClockDriver::RunFor(200);
  EXPECT_EQ(events.stop, 1);
  EXPECT_EQ(events.error, 0);
  // Every byte was heard once, in order, and went on down the chain.
  EXPECT_EQ(Played("out:0"), data);
  EXPECT_TRUE(Played("out:1").empty());
  EXPECT_EQ(sink.Bytes(), data);
  EXPECT_FALSE(sink.off_gui);
  EXPECT_EQ(out.StopPosition(), 1000);
  // It stopped but stays open: its owner decides about closing.
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  EXPECT_FALSE(sink.IsStarted());
  EXPECT_EQ(source.stopped, 1);
  EXPECT_EQ(events.close, 0);

  out.Close();
  out.Close();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.close, 1);
  EXPECT_FALSE(source.IsOpened());
  EXPECT_EQ(out.GetPosition(), 0);
  EXPECT_EQ(out.StopPosition(), 0);

  // A source with nothing left cannot start the device, which stays closed.
  EXPECT_THROW(out.Start(), EMMWaveOutError);
  try {
    out.Start();
  } catch (const EMMWaveOutError& e) {
    EXPECT_STREQ(e.what(), "WaveOutStart:\n\rUnable to start device");
  }
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

TEST_F(WaveOutTest, RequeueAfterASeekPlaysOnFromTheNewPosition) {
  TTestSource source(nullptr);
  TMMWaveOut out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  Wire(source, out, sink, 88200);  // half a second
  out.Start();
  TClockDriver::RunFor(120);
  out.Pause();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted | dsPaused));
  EXPECT_TRUE(source.IsPaused() && sink.IsPaused());  // the walk reaches both ends
  const std::vector<std::uint8_t> before = Played("out:0");
  ASSERT_EQ(before.size(), 120u * 176400 / 1000);
  TClockDriver::RunFor(50);
  EXPECT_EQ(Played("out:0").size(), before.size());  // paused at once

  source.SetPosition(60000);
  out.Requeue();
  EXPECT_EQ(source.resets, 1);
  EXPECT_EQ(out.GetPosition(), 0);
  TClockDriver::RunFor(50);
  EXPECT_EQ(Played("out:0").size(), before.size());  // still paused
  out.Restart();
  EXPECT_EQ(events.restart, 1);
  EXPECT_FALSE(source.IsPaused());
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  const std::vector<std::uint8_t> rest(data.begin() + 60000, data.end());
  EXPECT_EQ(Played("out:0"), Concat({before, rest}));
  EXPECT_EQ(events.error, 0);
  EXPECT_EQ(events.stop, 1);
}

TEST_F(WaveOutTest, LoopingWithACountRestartsThePositionAtEachLoopMark) {
  // A source longer than the ring, and one that fits into it whole.
  for (std::size_t bytes : {30000u, 6000u}) {
    SCOPED_TRACE(bytes);
    backend->ClearPlayed("out:0");
    TTestSource source(nullptr);
    TMMWaveOut out(nullptr);
    TSink sink(nullptr);
    TEvents events(out);
    Wire(source, out, sink, bytes);
    const std::int64_t pass = static_cast<std::int64_t>(bytes / 4);
    out.SetTimeFormat(tfSample);
    out.SetLooping(true);
    out.SetLoopCount(2);
    std::vector<std::int64_t> at_loop;
    std::int64_t highest = 0;
    out.OnLooping = [&](TComponent*) { at_loop.push_back(out.GetPosition()); };
    out.OnBufferReady = [&](TComponent*, PWaveHdr) {
      highest = std::max(highest, out.GetPosition());
    };
    out.Start();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    // The data three times: once, and two loops.
    EXPECT_EQ(Played("out:0"), Concat({data, data, data}));
    EXPECT_EQ(sink.Bytes(), Concat({data, data, data}));
    // Each loop mark came back once, as the buffer that carried it was
    // heard: the position starts again from 0 there, so it never gets much
    // past one pass (a 10 ms step of the clock at the most).
    EXPECT_EQ(at_loop, (std::vector<std::int64_t>{0, 0}));
    EXPECT_EQ(source.looped, 2);
    EXPECT_LT(highest, pass + 441);
    EXPECT_GT(highest, pass / 2);
    EXPECT_EQ(events.stop, 1);
  }
}

TEST_F(WaveOutTest, StopFromABufferHandlerFinishesAfterTheHandler) {
  TTestSource source(nullptr);
  TMMWaveOut out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  Wire(source, out, sink, 176400);
  int buffers = 0;
  bool inside = false;
  int stops_inside = 0;
  out.OnStop = [&](TComponent*) {
    ++events.stop;
    if (inside) ++stops_inside;
  };
  out.OnBufferReady = [&](TComponent*, PWaveHdr) {
    inside = true;
    if (++buffers == 3) {
      out.Stop();
      // Not finished yet: the handler is still running.
      EXPECT_TRUE(out.DeviceState() & dsStarted);
    }
    inside = false;
  };
  out.Start();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  EXPECT_EQ(stops_inside, 0);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  const std::size_t heard = Played("out:0").size();
  TClockDriver::RunFor(200);
  EXPECT_EQ(Played("out:0").size(), heard);
  EXPECT_EQ(buffers, 3);
  EXPECT_EQ(events.stop, 1);

  // It starts again where the source stands, and closes from a handler too.
  const std::size_t resume = source.Position();
  out.OnBufferReady = [&](TComponent*, PWaveHdr) { out.Close(); };
  out.Start();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.close > 0; }));
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.stop, 2);
  const std::vector<std::uint8_t> played = Played("out:0");
  ASSERT_GT(played.size(), heard);
  EXPECT_TRUE(std::equal(played.begin() + static_cast<std::ptrdiff_t>(heard), played.end(),
                         data.begin() + static_cast<std::ptrdiff_t>(resume)));
}

TEST_F(WaveOutTest, DeviceThatGoesAwayEndsTheRunWithTheSystemMessage) {
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode);
    TTestSource source(nullptr);
    TMMWaveOut out(nullptr);
    TSink sink(nullptr);
    TEvents events(out);
    TBoxes boxes;
    Wire(source, out, sink, 176400);
    out.SetCallBackMode(mode);
    out.SetDeviceID(1);
    out.Start();
    TClockDriver::RunFor(100);
    backend->RemoveOutput("out:1");
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return !boxes.Texts().empty(); }));
    EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_NE(boxes.Texts()[0].find(
                  "|WaveOutGetPosition:\n\rNo audio driver is available for this device."),
              std::string::npos)
        << boxes.Texts()[0];
    EXPECT_GE(events.error, 1);
    EXPECT_EQ(events.stop, 1);
    EXPECT_EQ(events.close, 1);
    EXPECT_FALSE(source.IsOpened());
    EXPECT_EQ(sink.off_gui, mode == cmThread);
    // The other output is still there and the component goes on working.
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset"));
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    source.SetPosition(0);
    out.Start();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop == 2; }));
    EXPECT_EQ(Played("out:1"), data);
    out.Close();
  }
}

TEST_F(WaveOutTest, ThreadModeHandlesBuffersOnTheWorkerThread) {
  TTestSource source(nullptr);
  TMMWaveOut out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  Wire(source, out, sink, 88200);
  out.SetCallBackMode(cmThread);
  out.SetPriority(tpNormal);
  out.Start();
  TClockDriver::RunFor(100);
  out.SetPriority(tpLower);
  EXPECT_EQ(out.GetPriority(), tpLower);
  out.Pause();
  const std::vector<std::uint8_t> before = Played("out:0");
  source.SetPosition(40000);
  out.Requeue();
  out.Restart();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  const std::vector<std::uint8_t> rest(data.begin() + 40000, data.end());
  EXPECT_EQ(Played("out:0"), Concat({before, rest}));
  EXPECT_TRUE(sink.off_gui);
  EXPECT_EQ(events.error, 0);
  out.Close();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.close, 1);
}

std::string StartError(TMMWaveOut& out) {
  try {
    out.Start();
  } catch (const EMMWaveOutError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(WaveOutTest, PropertyRulesAndRefusals) {
  TMMWaveOut out(nullptr);
  EXPECT_EQ(out.GetNumDevs(), 2);
  EXPECT_EQ(out.GetDeviceID(), 0);
  EXPECT_EQ(out.GetProductName(), "Speakers");
  EXPECT_EQ(out.GetBufferSize(), 2048);
  EXPECT_EQ(out.GetCallBackMode(), cmWindow);
  EXPECT_EQ(out.GetTimeFormat(), tfByte);
  EXPECT_TRUE(out.GetShowHourGlass());
  EXPECT_EQ(out.GetPriority(), tpHigher);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));

  out.SetNumBuffers(1);
  EXPECT_EQ(out.GetNumBuffers(), 10);
  out.SetNumBuffers(501);
  EXPECT_EQ(out.GetNumBuffers(), 500);
  out.SetBufferSize(10);
  EXPECT_EQ(out.GetBufferSize(), 32);
  out.SetDeviceID(2);
  EXPECT_EQ(out.GetDeviceID(), InvalidId);
  EXPECT_EQ(out.GetProductName(), "No wave audio playing device found");
  EXPECT_EQ(StartError(out), "Invalid DeviceID");
  out.SetDeviceID(MapperId);
  EXPECT_EQ(out.GetDeviceID(), MapperId);
  EXPECT_EQ(out.GetProductName(), "Default playback device");
  out.SetProductName("ignored");
  EXPECT_EQ(out.GetProductName(), "Default playback device");
  EXPECT_EQ(StartError(out), "WaveOutOpen:\n\rInvalid wave format");

  {
    TBoxes boxes;
    out.SetCallBackMode(cmCallback);
    EXPECT_EQ(out.GetCallBackMode(), cmWindow);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "TMMWaveOut|\"CallBacks\" are called at interrupt time !\n\rThis "
                                 "is currently only supported under Windows 95"});
  }

  // A format the device cannot play leaves it closed.
  WAVEFORMATEX wide{};
  BuildPCMFormat(wide, 24, 2, 44100);
  out.SetPWaveFormat(&wide);
  int errors = 0;
  out.OnError = [&](TComponent*) { ++errors; };
  EXPECT_EQ(StartError(out), "WaveOutOpen:\n\rThe actual device can''t play this format");
  EXPECT_GE(errors, 1);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(out.QueryFormat(0, &wide));
  const WAVEFORMATEX stereo = playtest::Stereo16();
  EXPECT_TRUE(out.QueryFormat(MapperId, &stereo));
  EXPECT_FALSE(out.QueryFormat(2, &stereo));

  // Shaping properties are refused while the device is open.
  out.SetPWaveFormat(&stereo);
  out.Open();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  std::vector<std::string> refusals;
  auto attempt = [&](auto change) {
    try {
      change();
    } catch (const EMMWaveOutError& e) {
      refusals.push_back(e.what());
    }
  };
  attempt([&] { out.SetDeviceID(1); });
  attempt([&] { out.SetBufferSize(4096); });
  attempt([&] { out.SetNumBuffers(4); });
  attempt([&] { out.SetCallBackMode(cmThread); });
  EXPECT_EQ(refusals, std::vector<std::string>(4, "Change to property while device was open"));
  EXPECT_EQ(out.GetDeviceID(), MapperId);
  EXPECT_EQ(out.GetBufferSize(), 32);
  EXPECT_EQ(out.GetNumBuffers(), 500);
  // A new format closes the device.
  out.SetPWaveFormat(&stereo);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));

  // Pause before Start: the queue fills, nothing plays until Restart. A
  // queue above 100000 bytes is filled under the wait cursor.
  TTestSource source(nullptr);
  out.SetInput(&source);
  source.SetData(Pattern(200000), stereo);
  out.SetBufferSize(8192);
  out.SetNumBuffers(20);
  std::vector<int> cursors;
  out.OnBufferFilled = [&](TComponent*, PWaveHdr) { cursors.push_back(TWaitCursor::Count()); };
  out.Pause();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsPaused));
  out.Start();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted | dsPaused));
  EXPECT_EQ(cursors, std::vector<int>(20, 1));
  EXPECT_EQ(TWaitCursor::Count(), 0);
  TClockDriver::RunFor(50);
  EXPECT_TRUE(Played("out:0").empty());
  EXPECT_EQ(out.GetPosition(), 0);
  out.Restart();
  TClockDriver::RunFor(50);
  EXPECT_EQ(out.GetPosition(), 8820);
  out.Close();
  cursors.clear();
  out.SetShowHourGlass(false);
  source.SetPosition(0);
  out.Start();
  EXPECT_EQ(cursors, std::vector<int>(20, 0));
  out.Close();

  // Without output devices.
  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=;out="));
  TMMWaveOut none(nullptr);
  EXPECT_EQ(none.GetNumDevs(), 0);
  EXPECT_EQ(none.GetDeviceID(), InvalidId);
  EXPECT_EQ(none.GetProductName(), "No wave audio playing device found");
  EXPECT_EQ(StartError(none), "No wave audio playing device found");
  EXPECT_EQ(none.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

}  // namespace
