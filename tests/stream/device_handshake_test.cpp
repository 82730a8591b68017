#include "stream/device_handshake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "stream/mm_wave_hdr.h"

namespace {

TEST(DeviceHandshake, GuardedFailuresCloseTheDeviceAndStopsAreDeferredOnce) {
  // A guarded failure fires the error, closes the device as the operation
  // says and raises again; a success does neither.
  struct TCase {
    TMMGuardClose how;
    std::uint32_t before, seen_by_close, after;
  };
  const TCase cases[] = {
      {gcAsIs, dsOpen | dsStarted, dsOpen | dsStarted, dsOpen | dsStarted},
      {gcAsOpen, dsClosed, dsOpen, dsClosed},
      {gcAsStarted, dsOpen, dsOpen | dsStarted, dsClosed},
  };
  for (const TCase& c : cases) {
    std::atomic<std::uint32_t> state{c.before};
    std::vector<std::string> steps;
    const auto fire = [&] { steps.push_back("error"); };
    const auto close = [&] { steps.push_back("close " + std::to_string(state.load())); };
    EXPECT_THROW(RunGuarded(
                     state, c.how, [] { throw std::runtime_error("failed"); }, fire, close),
                 std::runtime_error);
    EXPECT_EQ(steps,
              (std::vector<std::string>{"error", "close " + std::to_string(c.seen_by_close)}))
        << int(c.how);
    EXPECT_EQ(state.load(), c.after) << int(c.how);
    steps.clear();
    RunGuarded(
        state, c.how, [] {}, fire, close);
    EXPECT_TRUE(steps.empty());
  }

  // A stop deferred while a buffer is handled is posted once; a close meeting
  // it waits for it, and only that close may then run inside another.
  TMMDeviceHandshake hs;
  EXPECT_TRUE(hs.MayClose());
  hs.closing = true;
  EXPECT_FALSE(hs.MayClose());
  hs.stop_deferred = true;
  EXPECT_TRUE(hs.LeaveCloseToStop());
  EXPECT_TRUE(hs.MayClose());
  EXPECT_TRUE(hs.TakeStopPost());
  EXPECT_TRUE(hs.stopping);
  EXPECT_FALSE(hs.TakeStopPost());
  hs.stop_deferred = false;
  EXPECT_FALSE(hs.LeaveCloseToStop());
  EXPECT_FALSE(hs.close_pending);
  hs.ClearForStart();
  EXPECT_FALSE(hs.stopping || hs.stop_posted || hs.resetting || hs.stop_deferred);
  EXPECT_TRUE(hs.TakeStopPost());
  hs.ClearForOpen();
  EXPECT_FALSE(hs.closing || hs.stop_posted);
}

TEST(DeviceHandshake, DriverNotificationsSetTheStateThatOpenAndCloseWaitFor) {
  std::atomic<std::uint32_t> state{dsClosed};
  EXPECT_TRUE(NoteOpenOrClose(state, 1, 1, 2));
  EXPECT_EQ(state.load(), static_cast<std::uint32_t>(dsOpen));
  state |= dsStarted;
  EXPECT_FALSE(NoteOpenOrClose(state, 3, 1, 2));
  EXPECT_EQ(state.load(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_TRUE(NoteOpenOrClose(state, 2, 1, 2));
  EXPECT_EQ(state.load(), static_cast<std::uint32_t>(dsClosed));

  // The notification arrives from another thread while the caller waits.
  std::thread driver([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    NoteOpenOrClose(state, 1, 1, 2);
  });
  EXPECT_TRUE(WaitForDeviceState(state, dsOpen, 300, false));
  driver.join();
  EXPECT_FALSE(WaitForDeviceState(state, dsClosed, 3, false));
}

TEST(DeviceHandshake, HeadersAreSetUpAnewAndForcedDoneBeforeTheirRelease) {
  std::vector<unsigned char> block(kWaveHdrSize + 64, 0xAB);
  auto* h = reinterpret_cast<PWaveHdr>(block.data());
  ResetDeviceHeader(h, 64);
  EXPECT_EQ(h->lpData, reinterpret_cast<char*>(block.data() + kWaveHdrSize));
  EXPECT_EQ(h->dwBufferLength, 64u);
  EXPECT_EQ(h->dwBytesRecorded | h->dwUser | h->dwFlags | h->dwLoops, 0u);
  EXPECT_EQ(h->lpNext, nullptr);
  h->dwFlags = WHDR_PREPARED;
  AwaitHeaderDone(h);
  EXPECT_EQ(h->dwFlags, static_cast<DWORD>(WHDR_DONE));
  h->dwFlags = WHDR_PREPARED | WHDR_DONE;
  AwaitHeaderDone(h);
  EXPECT_EQ(h->dwFlags, static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE));
}

}  // namespace
