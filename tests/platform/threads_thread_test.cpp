#include "platform/threads/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/threads/thread_messages.h"
#include "tests/platform/body_thread.h"

namespace {

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::EnsureToolkit(); }
};

TEST_F(ThreadTest, RunsSuspendedCreatedBodyAndReportsBack) {
  std::atomic<DWORD> seen_id{0};
  std::atomic<bool> ran{false};
  TBodyThread t([&](TBodyThread& self) {
    seen_id = GetCurrentThreadId();
    ran = true;
    while (!self.Terminated()) std::this_thread::yield();
    self.SetReturnValue(42);
  });
  const DWORD id = t.ThreadID();
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_FALSE(t.Started());
  EXPECT_FALSE(ran);  // created suspended
  t.Start();
  t.Terminate();
  EXPECT_EQ(t.WaitFor(), 42);
  EXPECT_TRUE(t.Finished());
  EXPECT_TRUE(ran);
  EXPECT_EQ(seen_id.load(), id);
}

TEST_F(ThreadTest, ExceptionsStayInTheThreadAndItCanFreeItself) {
  TBodyThread failing([](TBodyThread&) { throw std::runtime_error("body failed"); });
  failing.Start();
  failing.WaitFor();
  ASSERT_TRUE(failing.FatalException());
  EXPECT_THROW(std::rethrow_exception(failing.FatalException()), std::runtime_error);

  TEvent freed;
  auto* self_freeing = new TBodyThread([](TBodyThread&) {}, &freed);
  self_freeing->SetFreeOnTerminate(true);
  self_freeing->Resume();
  EXPECT_EQ(freed.WaitFor(5000), wrSignaled);

  // Threads keep starting after others have freed themselves: each round's
  // thread must run although the one before it just ended on its own.
  // The events outlive the threads, which may still be inside SetEvent.
  TEvent ran;
  TEvent gone;
  for (int round = 0; round < 500; ++round) {
    auto* next = new TBodyThread([&](TBodyThread&) { ran.SetEvent(); }, &gone);
    next->SetFreeOnTerminate(true);
    next->Start();
    ASSERT_EQ(ran.WaitFor(5000), wrSignaled) << "round " << round;
    ASSERT_EQ(gone.WaitFor(5000), wrSignaled) << "round " << round;
  }

  // A thread destroyed while running is terminated and waited for.
  std::atomic<bool> ended{false};
  {
    TBodyThread looping([&](TBodyThread& self) {
      while (!self.Terminated()) std::this_thread::yield();
      ended = true;
    });
    looping.Start();
  }
  EXPECT_TRUE(ended);
}

TEST_F(ThreadTest, SynchronizeRunsOnTheGuiThreadWhileItPumps) {
  std::atomic<bool> on_gui{false};
  std::atomic<bool> done{false};
  std::atomic<bool> rethrown{false};
  TBodyThread t([&](TBodyThread& self) {
    self.Synchronize([&] { on_gui = platform::IsGuiThread(); });
    try {
      self.Synchronize([] { throw std::logic_error("gui failed"); });
    } catch (const std::logic_error&) {
      rethrown = true;
    }
    done = true;
  });
  t.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done && std::chrono::steady_clock::now() < deadline) WaitAndPump(5, true);
  t.WaitFor();
  EXPECT_TRUE(on_gui);
  EXPECT_TRUE(rethrown);

  // On the GUI thread itself it runs at once.
  bool direct = false;
  t.Synchronize([&] { direct = true; });
  EXPECT_TRUE(direct);
}

TEST_F(ThreadTest, WaitingOnTheGuiThreadServesSynchronize) {
  // Without pumping, WaitFor on the GUI thread still runs the method the
  // thread waits for, instead of deadlocking.
  std::atomic<int> value{0};
  TBodyThread t([&](TBodyThread& self) { self.Synchronize([&] { value = 7; }); });
  t.Start();
  t.WaitFor();
  EXPECT_EQ(value.load(), 7);
  // A thread cannot wait for itself.
  std::atomic<bool> refused{false};
  TBodyThread self_wait([&](TBodyThread& self) {
    try {
      self.WaitFor();
    } catch (const Exception&) {
      refused = true;
    }
  });
  self_wait.Start();
  self_wait.WaitFor();
  EXPECT_TRUE(refused);
}

}  // namespace
