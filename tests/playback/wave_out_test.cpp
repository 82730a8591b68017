#include "playback/wave_out.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/framework/wait_cursor.h"
#include "tests/playback/test_chain.h"

namespace {

using playtest::Pattern;
using playtest::TBoxes;
using playtest::TClockDriver;
using playtest::TTestSource;

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(outputs.ok); }
  std::vector<std::uint8_t> Played(const std::string& id) { return outputs.Played(id); }

  playtest::TVirtualOutputs outputs{2};
};

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
  // The worker thread takes a new priority at once.
  out.SetCallBackMode(cmThread);
  out.Open();
  out.SetPriority(tpLower);
  EXPECT_EQ(out.GetPriority(), tpLower);
  out.Close();

  // A source with nothing left cannot start the device, which stays closed.
  source.SetPosition(200000);
  const int errors_before = errors;
  EXPECT_EQ(StartError(out), "WaveOutStart:\n\rUnable to start device");
  EXPECT_GT(errors, errors_before);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));

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
