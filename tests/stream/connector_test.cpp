#include "stream/connector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "devices/wave_format.h"
#include "platform/framework/application.h"

namespace {

// The toolkit must run before the meters' widgets are made.
struct Toolkit {
  Toolkit() { platform::EnsureToolkit(); }
};

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildPCMFormat(format_, 16, 2, 44100);
    left_.SetMode(mStereo);
    left_.SetChannel(chLeft);
    right_.SetMode(mStereo);
    right_.SetChannel(chRight);
    connector_.SetLevel1(&left_);
    connector_.SetLevel2(&right_);
    connector_.SetPWaveFormat(&format_);
    block_.assign(kWaveHdrSize + 2048, 0);
    header_ = reinterpret_cast<PWaveHdr>(block_.data());
    *header_ = TMMWaveHdr{};
    header_->lpData = WaveHdrData(header_);
    header_->dwBufferLength = 2048;
    // A loud left channel and a quieter right one.
    auto* s = reinterpret_cast<std::int16_t*>(header_->lpData);
    for (int i = 0; i < 512; ++i) {
      s[2 * i] = (i % 2) ? 32000 : -32000;
      s[2 * i + 1] = (i % 2) ? 8000 : -8000;
    }
  }
  void TearDown() override {
    connector_.Stopped();
    connector_.Closed();
  }
  // Opens and starts the connector as a device would, then hands it a buffer.
  void Run(std::uint32_t bytes) {
    connector_.Opened();
    connector_.Started();
    header_->dwBytesRecorded = bytes;
    connector_.BufferReady(header_);
  }

  Toolkit toolkit_;
  WAVEFORMATEX format_{};
  TMMLevel left_{nullptr}, right_{nullptr};
  TMMConnector connector_{nullptr};
  std::vector<char> block_;
  PWaveHdr header_ = nullptr;
};

TEST_F(ConnectorTest, SynchronizedSlicesAreSpreadOverTheBuffersDuration) {
  connector_.SetRealTime(false);
  connector_.SetAutoTrigger(false);
  EXPECT_EQ(left_.BytesPerRefresh(), 200);
  Run(2048);
  connector_.Trigger();
  connector_.Trigger();
  // The second slice falls due 1.13 ms after the buffer arrived.
  EXPECT_EQ(connector_.LevelSlices(), 1);
  EXPECT_GT(left_.Level(), right_.Level());
  EXPECT_GT(right_.Level(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  for (int i = 0; i < 20; ++i) connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 10);  // ten whole 200-byte slices in 2048 bytes
}

TEST_F(ConnectorTest, UnsynchronizedSlicesFollowEachOtherAndEmptyBuffersMakeNothingDue) {
  connector_.SetRealTime(false);
  connector_.SetAutoTrigger(false);
  connector_.SetSynchronize(false);
  Run(0);
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 0);
  header_->dwBytesRecorded = 2048;
  connector_.BufferReady(header_);
  for (int i = 0; i < 10; ++i) connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 10);
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 10);
}

TEST_F(ConnectorTest, WithoutAutomaticRefreshItsTimerTriggersPassesFromItsThread) {
  connector_.SetRealTime(false);
  connector_.SetAutoTrigger(false);
  connector_.SetSynchronize(false);
  Run(2048);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (connector_.LevelSlices() < 10 && std::chrono::steady_clock::now() < deadline)
    WaitAndPump(5, true);
  EXPECT_EQ(connector_.LevelSlices(), 10);
  // A new buffer is shown again: nothing stays blocked.
  connector_.BufferReady(header_);
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (connector_.LevelSlices() < 20 && std::chrono::steady_clock::now() < deadline)
    WaitAndPump(5, true);
  EXPECT_EQ(connector_.LevelSlices(), 20);
}

TEST_F(ConnectorTest, MessagePumpFeedsTheMetersOnTheGuiThread) {
  Run(2048);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (connector_.LevelSlices() < 10 && std::chrono::steady_clock::now() < deadline)
    WaitAndPump(5, true);
  EXPECT_EQ(connector_.LevelSlices(), 10);
  EXPECT_TRUE(connector_.Running());
  EXPECT_EQ(TMMConnector::RunningCount(), 1);
  EXPECT_GT(left_.Level(), 0);
  // Stopping clears the meters.
  connector_.Stopped();
  EXPECT_FALSE(connector_.Running());
  EXPECT_EQ(TMMConnector::RunningCount(), 0);
  EXPECT_EQ(left_.Level(), 0);
}

TEST_F(ConnectorTest, DisplaySlotsSpeedAndEnabled) {
  TMMLevel other(nullptr);
  connector_.SetLevel2(&left_);  // already Level1
  EXPECT_EQ(connector_.GetLevel2(), &right_);
  connector_.SetSpeed(0);
  EXPECT_EQ(connector_.GetSpeed(), 1);
  connector_.SetSpeed(9000);
  EXPECT_EQ(connector_.GetSpeed(), 5000);

  connector_.SetRealTime(false);
  connector_.SetAutoTrigger(false);
  connector_.SetSynchronize(false);
  Run(2048);
  connector_.Trigger();
  EXPECT_GT(left_.Level(), 0);
  connector_.SetEnabled(false);
  EXPECT_EQ(left_.Level(), 0);  // cleared
  connector_.BufferReady(header_);
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 1);  // nothing taken while disabled
  EXPECT_THROW(connector_.SetRealTime(true), EMMConnectorError);

  // A destroyed meter leaves its slot.
  {
    TMMLevel gone(nullptr);
    connector_.SetLevel2(&gone);
  }
  EXPECT_EQ(connector_.GetLevel2(), nullptr);
}

}  // namespace
