#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/stream/test_components.h"

using namespace streamtest;

namespace {

using Lines = std::vector<std::string>;

class DeviceWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { Journal().clear(); }
  Lines Take() {
    Lines lines = Journal();
    Journal().clear();
    return lines;
  }
  std::unique_ptr<TChainRoot> root = std::make_unique<TChainRoot>(nullptr);
};

TEST_F(DeviceWalkTest, OutputInTheMiddleNotifiesItsWholeChainFromTheHead) {
  // File -> Converter -> Output -> Connector.
  auto* file = Make<THead>(root.get(), "File");
  auto* conv = Make<TPlain>(root.get(), "Conv");
  auto* out = Make<TDevice>(root.get(), "Out");
  auto* conn = Make<TTail>(root.get(), "Conn");
  file->SetOutput(conv);
  conv->SetOutput(out);
  out->SetOutput(conn);
  out->SetBufferSize(4096);
  Take();

  out->Opened();
  // Each notified component has the device's requested size when it hears of it.
  EXPECT_EQ(Take(),
            (Lines{"Out.Opened@4096", "File.Opened@4096", "Conv.Opened@4096", "Conn.Opened@4096"}));
  EXPECT_FALSE(out->HasUpstreamDevice());
  EXPECT_TRUE(out->IsOpened() && file->IsOpened() && conv->IsOpened() && conn->IsOpened());

  out->Started();
  EXPECT_EQ(Take(), (Lines{"Out.Started@4096", "File.Started@4096", "Conv.Started@4096",
                           "Conn.Started@4096"}));
  EXPECT_TRUE(out->IsStarted() && file->IsStarted() && conn->IsStarted());

  out->Stopped();
  EXPECT_EQ(Take(), (Lines{"Out.Stopped@4096", "File.Stopped@4096", "Conv.Stopped@4096",
                           "Conn.Stopped@4096"}));
  out->Closed();
  EXPECT_EQ(Take(),
            (Lines{"Out.Closed@4096", "File.Closed@4096", "Conv.Closed@4096", "Conn.Closed@4096"}));
  EXPECT_FALSE(out->IsOpened() || file->IsOpened() || conn->IsOpened());
}

TEST_F(DeviceWalkTest, DeviceWithAnotherDeviceUpstreamDrivesOnlyWhatLiesBelowIt) {
  // Capture -> Connector -> Output -> Meter.
  auto* capture = Make<TDevice>(root.get(), "Capture");
  auto* conn = Make<TPlain>(root.get(), "Conn");
  auto* out = Make<TDevice>(root.get(), "Out");
  auto* meter = Make<TTail>(root.get(), "Meter");
  capture->SetOutput(conn);
  conn->SetOutput(out);
  out->SetOutput(meter);
  capture->SetBufferSize(1024);
  Take();

  out->Opened();
  EXPECT_TRUE(out->HasUpstreamDevice());
  EXPECT_EQ(Take(), (Lines{"Out.Opened@2048", "Meter.Opened@2048"}));
  EXPECT_FALSE(conn->IsOpened());
  out->Closed();
  Take();

  // The capture's walk reaches the connector and ends at the output, which
  // runs its own walk for what lies below it.
  capture->Opened();
  EXPECT_EQ(Take(), (Lines{"Capture.Opened@1024", "Conn.Opened@1024", "Out.Opened@1024",
                           "Meter.Opened@1024"}));
  EXPECT_EQ(out->GetBufferSize(), 1024);

  // Closed and Stopped reach the next device first.
  capture->Started();
  Take();
  capture->Stopped();
  EXPECT_EQ(Take(), (Lines{"Capture.Stopped@1024", "Out.Stopped@1024", "Meter.Stopped@1024",
                           "Conn.Stopped@1024"}));
  capture->Closed();
  EXPECT_EQ(Take(), (Lines{"Capture.Closed@1024", "Out.Closed@1024", "Meter.Closed@1024",
                           "Conn.Closed@1024"}));
  EXPECT_FALSE(capture->IsOpened() || conn->IsOpened() || out->IsOpened() || meter->IsOpened());

  // Without the capture upstream the output drives the whole chain again.
  conn->SetInput(nullptr);
  Take();
  out->Opened();
  EXPECT_FALSE(out->HasUpstreamDevice());
  EXPECT_EQ(Take(), (Lines{"Out.Opened@1024", "Conn.Opened@1024", "Meter.Opened@1024"}));
}

TEST_F(DeviceWalkTest, OtherNotificationsWalkTheSameWay) {
  auto* capture = Make<TDevice>(root.get(), "Capture");
  auto* conn = Make<TTail>(root.get(), "Conn");
  capture->SetOutput(conn);
  capture->Opened();
  Take();
  capture->Paused();
  capture->Restarted();
  capture->Reset();
  capture->Looped();
  EXPECT_EQ(Take(), (Lines{"Capture.Paused@2048", "Conn.Paused@2048", "Capture.Restarted@2048",
                           "Conn.Restarted@2048", "Capture.Reset@2048", "Conn.Reset@2048",
                           "Capture.Looped@2048", "Conn.Looped@2048"}));
  EXPECT_FALSE(conn->IsPaused());
}

}  // namespace
