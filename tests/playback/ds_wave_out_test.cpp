#include "playback/ds_wave_out.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/framework/form.h"
#include "platform/messages/messages.h"
#include "tests/playback/test_chain.h"

namespace {

using playtest::Pattern;
using playtest::TBoxes;
using playtest::TClockDriver;
using playtest::TTestSource;

class DSWaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(outputs.ok); }

  playtest::TVirtualOutputs outputs{10};
};

std::string StartError(TMMDSWaveOut& out) {
  try {
    out.Start();
  } catch (const EMMDSWaveOutError& e) {
    return e.what();
  }
  return "no error";
}

// Windows' own service needs a window for the device's cooperative level: the
// form that owns the output, or that owns its owner (the player's output);
// without a form, the process's first shown window or else the desktop's.
TEST_F(DSWaveOutTest, CooperativeLevelIsSetWithTheOwningFormsWindow) {
  const WAVEFORMATEX stereo = playtest::Stereo16();
  TForm form(nullptr);
  const HWND window = form.Handle();
  ASSERT_NE(window, 0u);
  auto* owned = new TMMDSWaveOut(&form);
  auto* holder = new TComponent(&form);
  auto* nested = new TMMDSWaveOut(holder);
  TMMDSWaveOut lone(nullptr);
  for (TMMDSWaveOut* out : {owned, nested, &lone}) {
    out->SetPWaveFormat(&stereo);
    out->Open();
    ASSERT_NE(out->Context(), nullptr);
  }
  EXPECT_EQ(owned->Context()->cooperative_window, window);
  EXPECT_EQ(nested->Context()->cooperative_window, window);
  EXPECT_EQ(lone.Context()->cooperative_window, ProcessWindowOrDesktop());
#ifdef _WIN32
  EXPECT_NE(lone.Context()->cooperative_window, 0u);
  // Only a window that is shown and owned by none is taken: a hidden one
  // would never be in front, where a buffer without global focus is heard.
  EXPECT_NE(ProcessWindowOrDesktop(), window);
  form.Show();
  EXPECT_EQ(ProcessWindowOrDesktop(), window);
  form.Hide();
#endif
  for (TMMDSWaveOut* out : {owned, nested, &lone}) out->Close();
  EXPECT_EQ(DSOpenContextCount(), 0);
}

TEST_F(DSWaveOutTest, DeviceListAndPropertyRules) {
  TMMDSWaveOut out(nullptr);
  // The primary device first, then every output by its name.
  ASSERT_EQ(out.Devices().size(), 3u);
  EXPECT_FALSE(out.Devices()[0].guid.has_value());
  EXPECT_EQ(out.Devices()[0].description, "Default playback device");
  EXPECT_EQ(out.Devices()[2].description, "Headset");
  EXPECT_TRUE(out.Devices()[2].guid.has_value());
  EXPECT_EQ(out.GetDeviceID(), 0);
  EXPECT_EQ(out.GetProductName(), "Default playback device");
  EXPECT_EQ(out.GetBufferSize(), 2048);
  EXPECT_EQ(out.GetNumBuffers(), 10);
  EXPECT_EQ(out.GetCallBackMode(), cmWindow);

  out.SetNumBuffers(501);
  EXPECT_EQ(out.GetNumBuffers(), 10);
  out.SetNumBuffers(1);
  EXPECT_EQ(out.GetNumBuffers(), 10);
  out.SetNumBuffers(500);
  EXPECT_EQ(out.GetNumBuffers(), 500);
  out.SetBufferSize(100);
  EXPECT_EQ(out.GetBufferSize(), 256);
  out.SetDeviceID(MapperId);
  EXPECT_EQ(out.GetDeviceID(), InvalidId);
  EXPECT_EQ(out.GetProductName(), "No DirectSound playing devices found");
  EXPECT_EQ(StartError(out), "Invalid DeviceID");
  out.SetDeviceID(3);
  EXPECT_EQ(out.GetDeviceID(), InvalidId);
  out.SetDeviceID(2);
  EXPECT_EQ(out.GetProductName(), "Headset");
  EXPECT_EQ(StartError(out), "Invalid wave format");
  {
    TBoxes boxes;
    out.SetCallBackMode(cmCallback);
    EXPECT_EQ(out.GetCallBackMode(), cmWindow);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "TMMDSWaveOut|\"CallBacks\" are not supported with DirectSound"});
  }
  out.SetVolume(-20000);
  EXPECT_EQ(out.GetVolume(), -10000);
  out.SetPan(20000);
  EXPECT_EQ(out.GetPan(), 10000);
  out.SetFrequency(250000);
  EXPECT_EQ(out.GetFrequency(), 200000);

  WAVEFORMATEX wide{};
  BuildPCMFormat(wide, 24, 2, 44100);
  out.SetPWaveFormat(&wide);
  EXPECT_EQ(StartError(out), "DSWaveOutOpen:\n\rThe actual device can''t play this format");
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));

  // Volume, pan and frequency reach the device when it opens and at once
  // while it is open; shaping properties are refused then.
  const WAVEFORMATEX stereo = playtest::Stereo16();
  out.SetPWaveFormat(&stereo);
  out.SetVolume(-600);
  out.SetPan(-2500);
  out.SetFrequency(0);
  out.Open();
  ASSERT_NE(out.Context(), nullptr);
  LPDIRECTSOUNDBUFFER buffer = out.Context()->secondary;
  LONG volume = 0, pan = 0;
  DWORD frequency = 0;
  ASSERT_EQ(buffer->GetPan(&pan), DS_OK);
  ASSERT_EQ(buffer->GetFrequency(&frequency), DS_OK);
  EXPECT_EQ(pan, -2500);
  EXPECT_EQ(frequency, 44100u);  // 0: the format's own rate
  EXPECT_EQ(out.Context()->volume, -600);
  out.SetFrequency(22050);
  ASSERT_EQ(buffer->GetFrequency(&frequency), DS_OK);
  EXPECT_EQ(frequency, 22050u);
  // Below the least rate a device takes, that least rate.
  out.SetFrequency(50);
  ASSERT_EQ(buffer->GetFrequency(&frequency), DS_OK);
  EXPECT_EQ(frequency, 100u);
  out.SetVolume(-1200);
  EXPECT_EQ(out.Context()->volume, -1200);
  out.SetPan(0);
  ASSERT_EQ(buffer->GetPan(&pan), DS_OK);
  EXPECT_EQ(pan, 0);
  ASSERT_EQ(buffer->GetVolume(&volume), DS_OK);
  EXPECT_EQ(volume, -1200);
  std::vector<std::string> refusals;
  for (auto change : std::initializer_list<std::function<void()>>{
           [&] { out.SetDeviceID(1); }, [&] { out.SetBufferSize(4096); },
           [&] { out.SetNumBuffers(4); }, [&] { out.SetCallBackMode(cmThread); }}) {
    try {
      change();
    } catch (const EMMDSWaveOutError& e) {
      refusals.push_back(e.what());
    }
  }
  EXPECT_EQ(refusals, std::vector<std::string>(4, "Change to property while device was open"));
  EXPECT_EQ(out.GetDeviceID(), 2);
  out.Close();
  EXPECT_EQ(out.Context(), nullptr);
  EXPECT_EQ(DSOpenContextCount(), 0);

  // A source with nothing to give cannot start the device.
  TTestSource source(nullptr);
  out.SetInput(&source);
  source.SetData({}, stereo);
  EXPECT_EQ(StartError(out), "DSWaveOutStarted:\n\rUnable to start device");
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(DSFeedTimerRunning());

  // Without output devices there is no device to list.
  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=;out="));
  TMMDSWaveOut none(nullptr);
  EXPECT_TRUE(none.Devices().empty());
  EXPECT_EQ(none.GetDeviceID(), InvalidId);
  EXPECT_EQ(none.GetProductName(), "No DirectSound playing devices found");
  EXPECT_EQ(StartError(none), "No DirectSound playing devices found");
}

}  // namespace
