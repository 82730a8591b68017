#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads/sync_objects.h"
#include "platform/threads/thread_messages.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(ThreadEvents, AutoResetLetsOneWaitThroughPerSignal) {
  TEvent ev;
  EXPECT_EQ(ev.WaitFor(0), wrTimeout);
  ev.SetEvent();
  ev.SetEvent();  // signals do not add up
  EXPECT_EQ(ev.WaitFor(0), wrSignaled);
  EXPECT_EQ(ev.WaitFor(0), wrTimeout);

  auto t0 = Clock::now();
  EXPECT_EQ(ev.WaitFor(50), wrTimeout);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));

  TEvent manual(true, true);
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  manual.ResetEvent();
  EXPECT_EQ(manual.WaitFor(0), wrTimeout);

  // A signal from another thread wakes a waiter without a time-out.
  std::thread setter([&] { ev.SetEvent(); });
  EXPECT_EQ(ev.WaitFor(INFINITE), wrSignaled);
  setter.join();
}

TEST(ThreadEvents, CriticalSectionIsRecursiveAndExclusive) {
  TCriticalSection cs;
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());  // the owner may enter again
  cs.Leave();
  std::atomic<bool> other_got_in{true};
  std::thread other([&] {
    other_got_in = cs.TryEnter();
    if (other_got_in) cs.Leave();
  });
  other.join();
  EXPECT_FALSE(other_got_in);
  cs.Leave();

  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<TCriticalSection> lock(cs);
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 40000);
}

TEST(ThreadMessages, QueueKeepsOrderFiltersAndNeedsALook) {
  const DWORD me = GetCurrentThreadId();
  EXPECT_NE(me, 0u);
  std::atomic<DWORD> other_id{0};
  std::thread t([&] { other_id = GetCurrentThreadId(); });
  t.join();
  EXPECT_NE(other_id.load(), me);
  // The other thread never looked at its queue: posting fails.
  EXPECT_FALSE(PostThreadMessage(other_id, WM_USER, 0, 0));

  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, 0, 0, 0, PM_REMOVE));  // creates this thread's queue
  ASSERT_TRUE(PostThreadMessage(me, WM_USER + 1, 1, 10));
  ASSERT_TRUE(PostThreadMessage(me, WM_USER + 2, 2, 20));
  ASSERT_TRUE(PostThreadMessage(me, WM_USER + 1, 3, 30));
  // Without removal the same message stays first.
  ASSERT_TRUE(PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  // A range picks the oldest matching message.
  ASSERT_TRUE(PeekMessage(&msg, 0, WM_USER + 2, WM_USER + 2, PM_REMOVE));
  EXPECT_EQ(msg.lParam, 20);
  ASSERT_TRUE(PeekMessage(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(msg.hwnd, 0u);
  ASSERT_TRUE(PeekMessage(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(PeekMessage(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(DispatchMessage(&msg), 0);
}

TEST(ThreadMessages, WaitEndsOnEventOrMessageOrTimeOut) {
  TEvent a, b;
  TEvent* events[] = {&a, &b};
  MSG msg;
  PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE);
  while (PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
  }

  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 20, QS_ALLINPUT), WAIT_TIMEOUT);
  b.SetEvent();
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  // The wait took b's signal.
  EXPECT_EQ(b.WaitFor(0), wrTimeout);
  // Events come before messages, in index order.
  PostThreadMessage(GetCurrentThreadId(), WM_USER, 0, 0);
  a.SetEvent();
  b.SetEvent();
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2);
  // Messages wake the wait only when asked for.
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, 0), WAIT_TIMEOUT);
  TEvent* none[] = {nullptr};
  EXPECT_EQ(MsgWaitForMultipleObjects(1, none, 0, QS_ALLINPUT), WAIT_FAILED);
  // A message looked at stays waiting; once the queue is empty it wakes nothing.
  ASSERT_TRUE(PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2);
  while (PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  // Without events or messages the wait is a pause.
  const auto t0 = Clock::now();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, 30, 0), WAIT_TIMEOUT);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(25));
}

TEST(ThreadMessages, WorkerSleepsUntilPostedToAndEndsOnItsEvent) {
  TEvent ready, quit;
  std::atomic<DWORD> worker_id{0};
  std::vector<LPARAM> got;  // written by the worker, read after join
  int timeouts = 0;
  std::thread worker([&] {
    MSG msg;
    PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE);
    worker_id = GetCurrentThreadId();
    ready.SetEvent();
    TEvent* events[] = {&quit};
    for (;;) {
      if (PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
        got.push_back(msg.lParam);
        if (msg.lParam < 0) ready.SetEvent();
        continue;
      }
      DWORD r = MsgWaitForMultipleObjects(1, events, 10000, QS_ALLINPUT);
      if (r == WAIT_OBJECT_0) break;
      if (r == WAIT_TIMEOUT) ++timeouts;
    }
  });
  ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
  // Several posting threads; each one's messages keep their order.
  std::vector<std::thread> posters;
  for (int p = 0; p < 3; ++p)
    posters.emplace_back([&, p] {
      for (int i = 0; i < 300; ++i) PostThreadMessage(worker_id, WM_USER, 0, p * 1000 + i);
    });
  for (auto& th : posters) th.join();
  // A last message that the worker answers, then the event that ends it.
  PostThreadMessage(worker_id, WM_USER, 0, -1);
  ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
  quit.SetEvent();
  worker.join();
  EXPECT_EQ(timeouts, 0);
  ASSERT_EQ(got.size(), 901u);
  EXPECT_EQ(got.back(), -1);
  std::vector<int> next(3, 0);
  for (std::size_t i = 0; i + 1 < got.size(); ++i) EXPECT_EQ(got[i] % 1000, next[got[i] / 1000]++);
  // The worker's queue ended with it.
  EXPECT_FALSE(PostThreadMessage(worker_id, WM_USER, 0, 0));
}

}  // namespace
