#include "devices/wave_devices.h"

#include <gtest/gtest.h>

#include "devices/mm_strings.h"
#include "platform/audio/audio_backend.h"

namespace {

void Select(const std::string& selection) {
  std::string reason;
  ASSERT_TRUE(platform::SelectAudioBackend(selection, &reason)) << reason;
}

constexpr char kNoInput[] = "No wave audio recording device found";
constexpr char kNoOutput[] = "No wave audio playing device found";

TEST(WaveDeviceName, IndexRange) {
  Select("virtual:in=Desk Mic@440:-6:-12|Line In;out=Speakers|Headset|Third");
  EXPECT_EQ(WaveInDeviceName(0), "Desk Mic");
  EXPECT_EQ(WaveInDeviceName(1), "Line In");
  EXPECT_EQ(WaveInDeviceName(2), "");
  EXPECT_EQ(WaveInDeviceName(-2), "");
  EXPECT_EQ(WaveInDeviceName(INT32_MIN), "");
  EXPECT_EQ(WaveInDeviceName(INT32_MAX), "");
  EXPECT_EQ(WaveInDeviceName(-1), "Default recording device");
  EXPECT_EQ(WaveOutDeviceName(2), "Third");
  EXPECT_EQ(WaveOutDeviceName(3), "");
  EXPECT_EQ(WaveOutDeviceName(-1), "Default playback device");

  // By name: exact, every match in order, never the mapper or an input.
  EXPECT_EQ(WaveOutDevicesNamed("Headset"), std::vector<std::int32_t>{1});
  EXPECT_TRUE(WaveOutDevicesNamed("headset").empty());
  EXPECT_TRUE(WaveOutDevicesNamed("Head").empty());
  EXPECT_TRUE(WaveOutDevicesNamed("Default playback device").empty());
  EXPECT_TRUE(WaveOutDevicesNamed("Line In").empty());
  EXPECT_TRUE(WaveOutDevicesNamed("").empty());
  Select("virtual:out=Twin|Solo|Twin");
  EXPECT_EQ(WaveOutDevicesNamed("Twin"), (std::vector<std::int32_t>{0, 2}));
  Select("virtual:in=Desk Mic@440:-6:-12|Line In;out=Speakers|Headset|Third");

  // Each call asks afresh.
  Select("virtual:in=Other");
  EXPECT_EQ(WaveInDeviceName(0), "Other");
  EXPECT_EQ(WaveInDeviceName(1), "");
  EXPECT_EQ(WaveOutDeviceName(-1), "");
}

TEST(WaveDeviceInfo, ConstructionSelectsDeviceZero) {
  Select("virtual:in=Desk Mic|Line In;out=Speakers");
  TMMWaveDeviceInfo input(false);
  EXPECT_EQ(input.GetNumDevs(), 2);
  EXPECT_EQ(input.GetDeviceID(), 0);
  EXPECT_EQ(input.GetProductName(), "Desk Mic");
  EXPECT_EQ(input.GetDriverVersion(), platform::kWaveDriverVersion);
  EXPECT_EQ(input.GetLastResult(), MMSYSERR_NOERROR);
  EXPECT_STREQ(input.InCaps().szPname, "Desk Mic");

  TMMWaveDeviceInfo output(true);
  EXPECT_EQ(output.GetNumDevs(), 1);
  EXPECT_EQ(output.GetProductName(), "Speakers");
  EXPECT_STREQ(output.OutCaps().szPname, "Speakers");
}

TEST(WaveDeviceInfo, DeviceIdRules) {
  Select("virtual:in=Desk Mic|Line In;out=Speakers");
  TMMWaveDeviceInfo input(false);
  input.Select(1);
  EXPECT_EQ(input.GetDeviceID(), 1);
  EXPECT_EQ(input.GetProductName(), "Line In");

  input.Select(5);
  EXPECT_EQ(input.GetDeviceID(), InvalidId);
  EXPECT_EQ(input.GetProductName(), kNoInput);
  EXPECT_EQ(input.GetDriverVersion(), 0u);

  input.Select(MapperId);
  EXPECT_EQ(input.GetDeviceID(), MapperId);
  EXPECT_EQ(input.GetProductName(), "Default recording device");

  input.Select(2);  // == NumDevs
  EXPECT_EQ(input.GetDeviceID(), InvalidId);
  input.Select(-3);
  EXPECT_EQ(input.GetDeviceID(), InvalidId);
  EXPECT_EQ(input.GetProductName(), kNoInput);
  input.Select(InvalidId);
  EXPECT_EQ(input.GetDeviceID(), InvalidId);

  TMMWaveDeviceInfo output(true);
  output.Select(1);
  EXPECT_EQ(output.GetDeviceID(), InvalidId);
  EXPECT_EQ(output.GetProductName(), kNoOutput);
}

TEST(WaveDeviceInfo, NoDevicesKeepsTheMapper) {
  Select("virtual:in=;out=");
  TMMWaveDeviceInfo input(false);
  EXPECT_EQ(input.GetNumDevs(), 0);
  // Construction selects 0, which does not exist.
  EXPECT_EQ(input.GetDeviceID(), InvalidId);
  EXPECT_EQ(input.GetProductName(), kNoInput);
  input.Select(MapperId);
  EXPECT_EQ(input.GetDeviceID(), MapperId);
  EXPECT_EQ(input.GetProductName(), kNoInput);
  EXPECT_EQ(input.GetDriverVersion(), 0u);
  input.Select(0);
  EXPECT_EQ(input.GetDeviceID(), InvalidId);

  TMMWaveDeviceInfo output(true);
  output.Select(MapperId);
  EXPECT_EQ(output.GetDeviceID(), MapperId);
  EXPECT_EQ(output.GetProductName(), kNoOutput);
}

TEST(WaveDeviceInfo, CountIsTakenOnceAndFailedQueriesKeepTheNumber) {
  Select("virtual:in=A|B;out=C");
  TMMWaveDeviceInfo input(false);
  TMMWaveDeviceInfo output(true);

  // A device appears: the existing objects do not see it.
  Select("virtual:in=A|B|New;out=C|New");
  EXPECT_EQ(input.GetNumDevs(), 2);
  EXPECT_EQ(output.GetNumDevs(), 1);
  input.Select(2);
  EXPECT_EQ(input.GetDeviceID(), InvalidId);
  EXPECT_EQ(TMMWaveDeviceInfo(false).GetNumDevs(), 3);

  // A device goes away: its number is kept but the query fails.
  Select("virtual:in=A;out=");
  input.Select(1);
  EXPECT_EQ(input.GetDeviceID(), 1);
  EXPECT_EQ(input.GetProductName(), kNoInput);
  EXPECT_EQ(input.GetDriverVersion(), 0u);
  EXPECT_EQ(input.GetLastResult(), MMSYSERR_BADDEVICEID);
  output.Select(0);
  EXPECT_EQ(output.GetDeviceID(), 0);
  EXPECT_EQ(output.GetProductName(), kNoOutput);
  EXPECT_EQ(output.GetLastResult(), MMSYSERR_BADDEVICEID);
}

TEST(MMStrings, TableHoldsTheComponentTexts) {
  EXPECT_EQ(LoadMMString(28160), kNoInput);
  EXPECT_EQ(LoadMMString(28060), "Change to property while device was open");
  EXPECT_EQ(LoadMMString(kMMNoWaveOutDevice), kNoOutput);
  EXPECT_EQ(LoadMMString(kMMInvalidDeviceId), "Invalid DeviceID");
  EXPECT_EQ(LoadMMString(kMMUnknownErrorNumber),
            "Specified error number is out of range (unknown error)");
  EXPECT_EQ(LoadMMString(28004), "Wave Files(*.wav)|*.wav");
  EXPECT_EQ(LoadMMString(kMMCannotPlayFormat), "The actual device can''t play this format");
  EXPECT_EQ(LoadMMString(28000), "");
  EXPECT_EQ(LoadMMString(28159), "");
  EXPECT_EQ(LoadMMString(-1), "");
  EXPECT_EQ(LoadMMString(99999), "");
}

}  // namespace
