#include "stream/connector.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The connector's clock in the test below, in microseconds: it moves only when
// the test moves it, so that no slice falls due by the machine's pace.
std::int64_t test_clock_us = 0;

std::int64_t TestClock() {
  return test_clock_us;
}

TEST_F(ConnectorTest, SynchronizedSlicesAreSpreadOverTheBuffersDuration) {
  connector_.SetRealTime(false);
  connector_.SetAutoTrigger(false);
  connector_.SetClock(TestClock);
  EXPECT_EQ(left_.BytesPerRefresh(), 200);
  Run(2048);
  connector_.Trigger();
  connector_.Trigger();
  // The second slice falls due 1.13 ms after the buffer arrived.
  EXPECT_EQ(connector_.LevelSlices(), 1);
  EXPECT_GT(left_.Level(), right_.Level());
  EXPECT_GT(right_.Level(), 0);
  test_clock_us += 1100;
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 1);
  test_clock_us += 100;
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 2);
  test_clock_us += 15000;
  for (int i = 0; i < 20; ++i) connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 10);  // ten whole 200-byte slices in 2048 bytes

  // Buffers that come faster than their slices fall due wait their turn:
  // every slice of the loud buffer is shown before the silent one behind it,
  // which then keeps its own pace.
  std::vector<char> quiet_block(kWaveHdrSize + 2048, 0);
  auto* quiet = reinterpret_cast<PWaveHdr>(quiet_block.data());
  *quiet = TMMWaveHdr{};
  quiet->lpData = WaveHdrData(quiet);
  quiet->dwBytesRecorded = 2048;
  left_.ResetData();
  connector_.BufferReady(header_);
  connector_.BufferReady(quiet);
  std::vector<int> peaks;
  for (int i = 0; i < 10; ++i) {
    connector_.Trigger();
    peaks.push_back(left_.LastRawValue());
  }
  EXPECT_EQ(connector_.LevelSlices(), 20);
  EXPECT_EQ(peaks, std::vector<int>(10, 32000));
  connector_.Trigger();  // the silent buffer's first slice is due on its arrival
  EXPECT_EQ(connector_.LevelSlices(), 21);
  EXPECT_EQ(left_.LastRawValue(), 0);
  connector_.Trigger();  // its second slice is not due yet
  EXPECT_EQ(connector_.LevelSlices(), 21);
  test_clock_us += 15000;
  WaitAndPump(15, true);  // also runs what the connector's own timer asked for
  for (int i = 0; i < 40; ++i) connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 30);

  // A burst larger than the connector's ring (twelve buffers before any pass
  // runs, as a device that delivers seconds at once gives them) loses no
  // slice: the oldest buffers show what they have left as they give way.
  for (int i = 0; i < 12; ++i) connector_.BufferReady(header_);
  EXPECT_EQ(connector_.LevelSlices(), 70);
  EXPECT_EQ(left_.LastRawValue(), 32000);
  test_clock_us += 15000;
  WaitAndPump(15, true);
  for (int i = 0; i < 200; ++i) connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 150);

  // The block that plays next is shown instead of the one played, when the
  // played one holds data.
  std::vector<char> next_block(kWaveHdrSize + 2048, 0);
  auto* next = reinterpret_cast<PWaveHdr>(next_block.data());
  *next = TMMWaveHdr{};
  next->lpData = WaveHdrData(next);
  next->dwBytesRecorded = 2048;  // silence
  header_->lpNextBuffer = next;
  connector_.BufferReady(header_);
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 151);
  EXPECT_EQ(left_.LastRawValue(), 0);
  header_->dwBytesRecorded = 0;
  connector_.BufferReady(header_);
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlices(), 151);  // nothing played: nothing shown

  // Without RefreshOnStop a stopped stream leaves the meters as they are.
  header_->lpNextBuffer = nullptr;
  header_->dwBytesRecorded = 2048;
  connector_.BufferReady(header_);
  for (int i = 0; i < 10; ++i) connector_.Trigger();  // behind the silent block's other nine
  EXPECT_EQ(connector_.LevelSlices(), 161);
  ASSERT_GT(left_.Level(), 0);
  const int shown = left_.Level();
  connector_.SetRefreshOnStop(false);
  connector_.Stopped();
  EXPECT_FALSE(connector_.Active());
  EXPECT_EQ(left_.Level(), shown);
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

  // Without Synchronize the block handed over is shown, whatever plays next.
  std::vector<char> next_block(kWaveHdrSize + 2048, 0);
  auto* next = reinterpret_cast<PWaveHdr>(next_block.data());
  *next = TMMWaveHdr{};
  next->lpData = WaveHdrData(next);
  next->dwBytesRecorded = 2048;
  header_->lpNextBuffer = next;
  connector_.BufferReady(header_);
  connector_.Trigger();
  EXPECT_GT(left_.Level(), 0);
  header_->lpNextBuffer = nullptr;

  // A reset silences what is still to be shown.
  connector_.Reset();
  connector_.Trigger();
  EXPECT_EQ(left_.Level(), 0);
  EXPECT_EQ(connector_.LevelSlices(), 12);

  // Pulled buffers are shown once the source upstream has filled them.
  std::vector<std::string> order;
  connector_.OnBufferLoad = [&](TComponent*, PWaveHdr h, bool& more) {
    order.push_back("load");
    std::memcpy(h->lpData, header_->lpData, 2048);
    h->dwBytesRecorded = 2048;
    more = true;
  };
  std::vector<char> pulled_block(kWaveHdrSize + 2048, 0);
  auto* pulled = reinterpret_cast<PWaveHdr>(pulled_block.data());
  *pulled = TMMWaveHdr{};
  pulled->lpData = WaveHdrData(pulled);
  pulled->dwBufferLength = 2048;
  bool more = false;
  connector_.BufferLoad(pulled, more);
  EXPECT_TRUE(more);
  EXPECT_EQ(order, std::vector<std::string>{"load"});
  // It waits behind the eight slices the reset silenced.
  for (int i = 0; i < 8; ++i) connector_.Trigger();
  EXPECT_EQ(left_.Level(), 0);
  connector_.Trigger();
  EXPECT_GT(left_.Level(), right_.Level());
  EXPECT_EQ(connector_.LevelSlices(), 21);
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

  // Paused, the meters are fed silence on the shared tick and new buffers
  // are not taken; restarted, they show the stream again.
  connector_.Paused();
  const int before_pause = connector_.LevelSlices();
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((connector_.LevelSlices() < before_pause + 20 || left_.Level() != 0) &&
         std::chrono::steady_clock::now() < deadline)
    WaitAndPump(5, true);
  EXPECT_GE(connector_.LevelSlices(), before_pause + 20);
  connector_.BufferReady(header_);
  WaitAndPump(30, true);
  EXPECT_EQ(left_.Level(), 0);
  connector_.Restarted();
  connector_.BufferReady(header_);
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (left_.Level() == 0 && std::chrono::steady_clock::now() < deadline) WaitAndPump(5, true);
  EXPECT_GT(left_.Level(), 0);

  // Quick restarts and switches while a pump cycle is on its way keep one
  // chain of cycles.
  for (int i = 0; i < 8; ++i) {
    connector_.Stopped();
    EXPECT_EQ(TMMConnector::RunningCount(), 0);
    connector_.Opened();
    connector_.Started();
    connector_.SetEnabled(false);
    connector_.SetEnabled(true);
    connector_.SetAutoTrigger(false);
    connector_.SetAutoTrigger(true);
    WaitAndPump(1, true);
    EXPECT_EQ(TMMConnector::RunningCount(), 1);
    EXPECT_LE(TMMConnector::PumpsPending(), 1);
  }
  // With nothing due the pump sleeps: no cycle, no refresh.
  WaitAndPump(50, true);
  int refreshes = 0;
  std::vector<int> shown_after_pass;
  connector_.OnTrigger = [&](TComponent*) {
    ++refreshes;
    shown_after_pass.push_back(connector_.LevelSlices());
  };
  WaitAndPump(200, true);
  EXPECT_EQ(refreshes, 0);
  EXPECT_EQ(TMMConnector::PumpsPending(), 0);
  // New data wakes it; it runs once per frame while slices wait and sleeps
  // again when they are shown.
  const int before_wake = connector_.LevelSlices();
  connector_.BufferReady(header_);
  EXPECT_EQ(TMMConnector::PumpsPending(), 1);
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (connector_.LevelSlices() < before_wake + 10 && std::chrono::steady_clock::now() < deadline)
    WaitAndPump(1, true);
  EXPECT_EQ(connector_.LevelSlices(), before_wake + 10);
  // Each cycle ends with one pass that finds nothing due: ten slices over
  // 11.6 ms take a few cycles, not one per slice.
  EXPECT_GE(refreshes - 10, 2);
  EXPECT_LE(refreshes - 10, 5);
  // Each cycle shows what falls due by the middle of the frame ahead: the
  // first one, right after the buffer came, at least the four slices due
  // within 3.4 ms of it.
  auto repeat = std::adjacent_find(shown_after_pass.begin(), shown_after_pass.end());
  ASSERT_NE(repeat, shown_after_pass.end());
  EXPECT_GE(*repeat - before_wake, 4);
  WaitAndPump(50, true);
  EXPECT_EQ(TMMConnector::PumpsPending(), 0);
  connector_.OnTrigger = nullptr;

  // A running connector switched to its timer leaves the count, and back.
  connector_.SetTriggerMethod(tmTimer);
  EXPECT_EQ(TMMConnector::RunningCount(), 0);
  const int before_timer = connector_.LevelSlices();
  connector_.BufferReady(header_);
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (connector_.LevelSlices() < before_timer + 10 &&
         std::chrono::steady_clock::now() < deadline)
    WaitAndPump(5, true);
  EXPECT_EQ(connector_.LevelSlices(), before_timer + 10);
  connector_.SetTriggerMethod(tmMessage);
  EXPECT_EQ(TMMConnector::RunningCount(), 1);
  connector_.SetTriggerMethod(tmTimer);

  // Stopping clears the meters; the count and the pump come to rest.
  connector_.Stopped();
  EXPECT_FALSE(connector_.Running());
  EXPECT_EQ(TMMConnector::RunningCount(), 0);
  EXPECT_EQ(left_.Level(), 0);
  WaitAndPump(20, true);
  EXPECT_EQ(TMMConnector::PumpsPending(), 0);
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
