#include "capture/wave_in.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/threads/thread.h"
#include "platform/wave/wave_caps.h"

namespace {

// The end of a capture chain: keeps every byte it is given and notes the
// thread the buffers arrive on.
class TSink : public TMMDSPComponent {
 public:
  explicit TSink(TComponent* owner) : TMMDSPComponent(owner) {}
  void BufferReady(PWaveHdr h) override {
    inside = true;
    bytes.insert(bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    on_gui = platform::IsGuiThread();
    if (on_buffer) on_buffer(h);
    TMMDSPComponent::BufferReady(h);
    inside = false;
  }
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TSink>("TSink", &TMMDSPComponent::StaticClassInfo())
            .Ref<TMMDSPComponent>("Input", &TSink::GetInput, &TSink::SetInput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  std::vector<char> bytes;
  std::atomic<bool> inside{false};
  std::atomic<bool> on_gui{true};
  std::function<void(PWaveHdr)> on_buffer;
};

class WaveInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=Tone@1000:-6:-12|Quiet;out=Speakers"));
    platform::VirtualClock::SetManual(true);
  }
  void TearDown() override {
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
  }

  // Advances the manual clock in 10 ms steps, processing messages, until
  // cond holds (or 20 s of pumping have passed).
  template <class Cond>
  bool RunUntil(Cond cond, unsigned step_ms = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond() && std::chrono::steady_clock::now() < deadline) {
      platform::VirtualClock::Advance(step_ms);
      WaitAndPump(2, true);
    }
    return cond();
  }

  // Advances the manual clock by ms in 10 ms steps, processing messages.
  void RunFor(unsigned ms) {
    for (unsigned t = 0; t < ms; t += 10) {
      platform::VirtualClock::Advance(10);
      WaitAndPump(2, true);
    }
  }

  static void Stereo16(TMMWaveIn& in) {
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(44100);
  }
};

TEST_F(WaveInTest, BytesReachingTheChainAreTheGeneratedSignal) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetOutput(&sink);
  EXPECT_EQ(sink.GetInput(), &in);
  in.Start();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_TRUE(sink.IsStarted());
  ASSERT_TRUE(RunUntil([&] { return sink.bytes.size() >= 5 * 2048; }));
  in.Close();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(sink.IsOpened());
  EXPECT_TRUE(sink.on_gui);

  auto input = platform::ParseVirtualInput("Tone@1000:-6:-12");
  const auto* samples = reinterpret_cast<const std::int16_t*>(sink.bytes.data());
  std::size_t frames = sink.bytes.size() / 4;
  for (std::size_t n = 0; n < frames; ++n) {
    ASSERT_EQ(samples[2 * n], platform::VirtualSampleValue(input, 0, n, 44100, 16)) << n;
    ASSERT_EQ(samples[2 * n + 1], platform::VirtualSampleValue(input, 1, n, 44100, 16)) << n;
  }
}

TEST_F(WaveInTest, RecordingLimitDeliversExactBytesAndStopsAfterTheHandler) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetOutput(&sink);
  in.SetTimeFormat(tfMillisecond);
  in.SetMaxRecordTime(1000);
  int stops = 0;
  bool stopped_inside_handler = false;
  in.OnStop = [&](TComponent*) {
    ++stops;
    stopped_inside_handler = sink.inside;
  };
  in.Start();
  EXPECT_EQ(in.MaxRecordBytes(), 176400);
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  // Further time delivers nothing more.
  RunFor(200);
  EXPECT_EQ(sink.bytes.size(), 176400u);
  EXPECT_EQ(stops, 1);
  EXPECT_FALSE(stopped_inside_handler);
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  in.Close();
}

TEST_F(WaveInTest, StopFromABufferHandlerAndPropertyChangesWhileCapturing) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetOutput(&sink);
  std::vector<std::string> errors;
  int buffers = 0;
  int stops = 0;
  in.OnStop = [&](TComponent*) { ++stops; };
  in.OnBufferReady = [&](TComponent*, PWaveHdr) {
    ++buffers;
    if (buffers == 2) {
      try {
        in.SetDeviceID(1);
      } catch (const EMMWaveInError& e) {
        errors.push_back(e.what());
      }
    }
    if (buffers == 6) in.Stop();
  };
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return buffers >= 3; }));
  EXPECT_EQ(errors, std::vector<std::string>{"Change to property while device was open"});
  EXPECT_EQ(in.GetDeviceID(), 0);
  EXPECT_TRUE(in.DeviceState() & dsStarted);  // capture goes on

  ASSERT_TRUE(RunUntil([&] { return stops == 1; }));
  EXPECT_FALSE(in.DeviceState() & dsStarted);
  std::size_t after_stop = sink.bytes.size();
  RunFor(200);
  EXPECT_EQ(sink.bytes.size(), after_stop);
  // It can start again.
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.bytes.size() > after_stop; }));
  in.Close();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

TEST_F(WaveInTest, ThreadModeHandlesBuffersOnTheWorkerThread) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetCallBackMode(cmThread);
  in.SetOutput(&sink);
  std::atomic<int> buffers{0};
  in.OnBufferReady = [&](TComponent*, PWaveHdr) { ++buffers; };
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return buffers >= 4; }));
  EXPECT_FALSE(sink.on_gui);
  in.Close();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

// Driver calls whose device reports no standard formats.
MMRESULT NoFormatsCaps(UINT_PTR id, WAVEINCAPSA* caps, UINT size) {
  MMRESULT r = waveInGetDevCapsA(id, caps, size);
  if (r == MMSYSERR_NOERROR) caps->dwFormats = 0;
  return r;
}

class TPickyWaveIn : public TMMCustomWaveIn {
 public:
  explicit TPickyWaveIn(TComponent* owner) : TMMCustomWaveIn(owner, Calls()) {}
  static const TWaveInDriverCalls& Calls() {
    static TWaveInDriverCalls calls = [] {
      TWaveInDriverCalls c = TMMWaveIn::DriverCalls();
      c.GetDevCaps = NoFormatsCaps;
      return c;
    }();
    return calls;
  }
};

std::string OpenError(TMMCustomWaveIn& in) {
  try {
    in.Start();
  } catch (const EMMWaveInError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(WaveInTest, RefusalsLeaveTheDeviceClosedWithTheExactText) {
  TPickyWaveIn picky(nullptr);
  picky.SetMode(mStereo);
  picky.SetBitLength(b16Bit);
  picky.SetSampleRate(44100);
  int errors = 0;
  picky.OnError = [&](TComponent*) { ++errors; };
  EXPECT_EQ(OpenError(picky), "WaveInOpen:\n\rThe actual device can''t record this format");
  EXPECT_EQ(picky.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_GE(errors, 1);
  // Rates outside the standard families are left to the driver.
  picky.SetSampleRate(96000);
  EXPECT_TRUE(picky.QueryFormat(0, picky.GetPWaveFormat()));
  EXPECT_FALSE(picky.QueryFormat(2, picky.GetPWaveFormat()));

  TMMWaveIn invalid(nullptr);
  invalid.SetDeviceID(7);
  EXPECT_EQ(OpenError(invalid), "Invalid DeviceID");

  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=;out="));
  TMMWaveIn none(nullptr);
  EXPECT_EQ(OpenError(none), "No wave audio recording device found");
  EXPECT_EQ(none.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

TEST_F(WaveInTest, PropertiesClampAndKeepTheirRules) {
  TMMWaveIn in(nullptr);
  EXPECT_EQ(in.GetNumBuffers(), 10);
  in.SetNumBuffers(1);
  EXPECT_EQ(in.GetNumBuffers(), 10);
  in.SetNumBuffers(5000);
  EXPECT_EQ(in.GetNumBuffers(), 4096);
  in.SetChannels(12);
  EXPECT_EQ(in.GetChannels(), 8);
  EXPECT_EQ(in.GetMode(), mMultiChannel);
  in.SetMode(mMultiChannel);
  EXPECT_EQ(in.GetChannels(), 8);
  in.SetSampleRate(200000);
  EXPECT_EQ(in.GetSampleRate(), 100000);
  in.SetBufferSize(10);
  EXPECT_EQ(in.GetBufferSize(), 32);
  // The format follows the properties down the chain at once.
  TSink sink(nullptr);
  in.SetOutput(&sink);
  in.SetMode(mStereo);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(44100);
  ASSERT_NE(sink.GetPWaveFormat(), nullptr);
  EXPECT_EQ(sink.GetPWaveFormat()->nAvgBytesPerSec, 176400u);

  // The limit in other units.
  in.SetTimeFormat(tfSample);
  in.SetMaxRecordTime(44100);
  EXPECT_EQ(in.MaxRecordBytes(), 176400);
  in.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(in.GetMaxRecordTime(), 1000);
  in.SetMaxRecordTime(0);
  EXPECT_EQ(in.MaxRecordBytes(), 0);  // 0 records without a limit

  std::vector<std::string> boxes;
  platform::SetMessageBoxHook([&](const std::string& text, const std::string& caption, UINT) {
    boxes.push_back(caption + "|" + text);
    return IDOK;
  });
  in.SetCallBackMode(cmCallback);
  platform::SetMessageBoxHook(nullptr);
  EXPECT_EQ(in.GetCallBackMode(), cmWindow);
  EXPECT_EQ(boxes, std::vector<std::string>{
                       "TMMWaveIn|\"CallBacks\" are called at interrupt time !\n\rThis is "
                       "currently only supported under Windows 95"});
}

}  // namespace
