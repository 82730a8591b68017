#include "stream/dsp_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/threads/thread_messages.h"
#include "tests/stream/test_components.h"

namespace {

// Pumps the GUI thread's messages until cond holds or 20 s have passed.
template <class Cond>
bool PumpUntil(Cond cond) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!cond() && std::chrono::steady_clock::now() < deadline) WaitAndPump(5, true);
  return cond();
}

// A worker that calls CallSynchronized from its body and notes where the
// method ran.
class TProbeThread : public TMMDSPThread {
 public:
  using TMMDSPThread::TMMDSPThread;
  ~TProbeThread() override { EndThread(); }
  std::atomic<bool> ran_on_gui{false};
  std::atomic<bool> ran_here{false};
  std::atomic<bool> done{false};
  std::atomic<bool> error_came_back{false};

 protected:
  void Execute() override {
    const auto self = std::this_thread::get_id();
    CallSynchronized([&] {
      ran_on_gui = platform::IsGuiThread();
      ran_here = std::this_thread::get_id() == self;
    });
    try {
      CallSynchronized([] { throw std::runtime_error("from the GUI thread"); });
    } catch (const std::runtime_error& e) {
      error_came_back = std::string(e.what()) == "from the GUI thread";
    }
    done = true;
  }
};

class DSPThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::EnsureToolkit(); }
  std::unique_ptr<streamtest::TChainRoot> root = std::make_unique<streamtest::TChainRoot>(nullptr);
};

TEST_F(DSPThreadTest, CallSynchronizedRunsOnTheGuiThread) {
  // On the GUI thread: at once.
  bool direct = false;
  CallSynchronized([&] { direct = platform::IsGuiThread(); });
  EXPECT_TRUE(direct);

  auto* device = streamtest::Make<streamtest::TDevice>(root.get(), "Device");
  auto thread = std::make_unique<TProbeThread>(device);
  EXPECT_EQ(thread->Component(), device);
  EXPECT_EQ(DSPThreadCount(), 1);
  thread->Start();
  // The worker waits in CallSynchronized until the GUI thread pumps.
  ASSERT_TRUE(PumpUntil([&] { return thread->done.load(); }));
  thread->WaitFor();
  EXPECT_TRUE(thread->ran_on_gui);
  EXPECT_FALSE(thread->ran_here);
  EXPECT_TRUE(thread->error_came_back);
  thread.reset();
  EXPECT_EQ(DSPThreadCount(), 0);
}

TEST_F(DSPThreadTest, UnregisteredThreadsCallDirectly) {
  std::atomic<bool> ran_here{false};
  std::thread plain([&] {
    const auto self = std::this_thread::get_id();
    CallSynchronized([&] { ran_here = std::this_thread::get_id() == self; });
  });
  plain.join();  // no pumping needed
  EXPECT_TRUE(ran_here);
}

// A self-freeing worker in the shape the device components use: ready event,
// message loop until the terminate event, ready again on the way out.
class TLoopThread : public TMMDSPThread {
 public:
  TLoopThread(TMMCustomSoundComponent* c, TEvent* ready, TEvent* terminate, std::atomic<int>* got,
              TEvent* freed)
      : TMMDSPThread(c), ready_(ready), terminate_(terminate), got_(got), freed_(freed) {}
  ~TLoopThread() override { freed_->SetEvent(); }

 protected:
  void Execute() override {
    SetPriority(tpLower);
    MSG msg;
    PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE);
    ready_->SetEvent();
    while (!Terminated()) {
      if (PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_USER + 1) got_->fetch_add(static_cast<int>(msg.wParam));
        if (msg.message == WM_USER + 2) ready_->SetEvent();
        continue;
      }
      TEvent* events[] = {terminate_};
      if (MsgWaitForMultipleObjects(1, events, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    }
    ready_->SetEvent();
  }

 private:
  TEvent* ready_;
  TEvent* terminate_;
  std::atomic<int>* got_;
  TEvent* freed_;
};

TEST_F(DSPThreadTest, WorkerPatternRunsAndFreesItself) {
  auto* device = streamtest::Make<streamtest::TDevice>(root.get(), "Device");
  TEvent ready, terminate, freed;
  std::atomic<int> got{0};
  auto* thread = new TLoopThread(device, &ready, &terminate, &got, &freed);
  const DWORD id = thread->ThreadID();
  // No queue before the thread has looked into it.
  EXPECT_FALSE(PostThreadMessage(id, WM_USER + 1, 1, 0));
  thread->SetFreeOnTerminate(true);
  thread->Resume();
  ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
  EXPECT_EQ(thread->GetPriority(), tpLower);
  for (int i = 1; i <= 100; ++i) ASSERT_TRUE(PostThreadMessage(id, WM_USER + 1, i, 0));
  ASSERT_TRUE(PostThreadMessage(id, WM_USER + 2, 0, 0));
  ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
  EXPECT_EQ(got.load(), 5050);
  EXPECT_EQ(DSPThreadCount(), 1);

  terminate.SetEvent();
  ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
  // The thread deletes itself once its body has returned, and leaves the
  // registry; its queue goes with it.
  ASSERT_EQ(freed.WaitFor(5000), wrSignaled);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (DSPThreadCount() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(DSPThreadCount(), 0);
  EXPECT_FALSE(PostThreadMessage(id, WM_USER + 1, 1, 0));
}

TEST(ThreadPriorityTable, MapsEveryPriority) {
  EXPECT_EQ(ThreadPriorityValue(tpIdle), -15);
  EXPECT_EQ(ThreadPriorityValue(tpLowest), -2);
  EXPECT_EQ(ThreadPriorityValue(tpLower), -1);
  EXPECT_EQ(ThreadPriorityValue(tpNormal), 0);
  EXPECT_EQ(ThreadPriorityValue(tpHigher), 1);
  EXPECT_EQ(ThreadPriorityValue(tpHighest), 2);
  EXPECT_EQ(ThreadPriorityValue(tpTimeCritical), 15);
}

}  // namespace
