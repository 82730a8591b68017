#include "platform/messages/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/framework/application.h"
#include "platform/framework/form.h"

namespace {

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::EnsureToolkit(); }
  void TearDown() override { platform::SetMessageBoxHook(nullptr); }

  // Processes posted messages until cond holds or 10 s have passed.
  template <class Cond>
  bool PumpUntil(Cond cond) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!cond() && std::chrono::steady_clock::now() < deadline) WaitAndPump(5, true);
    return cond();
  }
};

TEST_F(MessagesTest, PostsFromManyThreadsArriveOnTheGuiThreadInOrder) {
  std::vector<std::pair<WPARAM, LPARAM>> got;
  auto gui = std::this_thread::get_id();
  bool wrong_thread = false;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (std::this_thread::get_id() != gui) wrong_thread = true;
    got.emplace_back(m.WParam, m.LParam);
  });
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([=] {
      for (int i = 0; i < kEach; ++i) PostMessage(wnd, WM_USER, t, i);
    });
  for (auto& th : threads) th.join();
  ASSERT_TRUE(PumpUntil([&] { return got.size() == kThreads * kEach; }));
  EXPECT_FALSE(wrong_thread);
  // Each thread's messages keep their order.
  std::vector<LPARAM> next(kThreads, 0);
  for (auto [t, i] : got) EXPECT_EQ(i, next[t]++);
  DeallocateHWnd(wnd);
  EXPECT_FALSE(PostMessage(wnd, WM_USER, 0, 0));
}

// Deferred messages from other threads come with the frame tick, in posting
// order with the window's other messages; they can be removed like any other,
// a gone window refuses them, and delayed posts come once their time is up.
TEST_F(MessagesTest, DeferredAndDelayedMessagesKeepTheirOrder) {
  std::vector<LPARAM> got;
  auto gui = std::this_thread::get_id();
  bool wrong_thread = false;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (std::this_thread::get_id() != gui) wrong_thread = true;
    got.push_back(m.LParam);
  });
  constexpr int kEach = 300;
  std::thread poster([=] {
    for (int i = 0; i < kEach; ++i) {
      // Every tenth goes at once: it must not overtake the deferred ones.
      if (i % 10 == 9)
        PostMessage(wnd, WM_USER, 0, i);
      else
        platform::PostMessageDeferred(wnd, WM_USER, 0, i);
    }
  });
  poster.join();
  ASSERT_TRUE(PumpUntil([&] { return got.size() == kEach; }));
  EXPECT_FALSE(wrong_thread);
  for (int i = 0; i < kEach; ++i) EXPECT_EQ(got[i], i);

  got.clear();
  platform::PostMessageDeferred(wnd, 0x8001, 0, 1);
  platform::PostMessageDeferred(wnd, WM_USER, 0, 2);
  PostMessage(wnd, 0x8001, 0, 3);
  EXPECT_EQ(RemovePendingMessages(wnd, 0x8001), 2);
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 1; }));
  WaitAndPump(40, true);
  EXPECT_EQ(got, (std::vector<LPARAM>{2}));

  // Without an event loop running they are handed out on request as well.
  got.clear();
  platform::PostMessageDeferred(wnd, WM_USER, 0, 4);
  platform::DeliverPostedMessages();
  EXPECT_EQ(got, (std::vector<LPARAM>{4}));

  got.clear();
  const auto start = std::chrono::steady_clock::now();
  platform::PostMessageAfter(wnd, WM_USER, 0, 5, 40);
  platform::PostMessageAfter(wnd, WM_USER, 0, 6, 0);
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ(got, (std::vector<LPARAM>{6, 5}));
  // Within half a frame of its time, at the earliest.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(36));

  DeallocateHWnd(wnd);
  EXPECT_FALSE(platform::PostMessageDeferred(wnd, WM_USER, 0, 7));

  // The tick hands a window its messages itself: a window that goes from
  // its own procedure gets no more of them, and deferred messages a
  // procedure posts come after those already waiting.
  std::vector<LPARAM> gone_got, echo_got;
  HWND gone = 0;
  gone = AllocateHWnd([&](TMessage& m) {
    gone_got.push_back(m.LParam);
    DeallocateHWnd(gone);
  });
  HWND echo = 0;
  echo = AllocateHWnd([&](TMessage& m) {
    echo_got.push_back(m.LParam);
    if (m.LParam < 10) platform::PostMessageDeferred(echo, WM_USER, 0, m.LParam + 10);
  });
  std::thread([=] {
    for (LPARAM i = 1; i <= 3; ++i) {
      platform::PostMessageDeferred(gone, WM_USER, 0, i);
      platform::PostMessageDeferred(echo, WM_USER, 0, i);
    }
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return echo_got.size() == 6; }));
  WaitAndPump(40, true);
  EXPECT_EQ(gone_got, (std::vector<LPARAM>{1}));
  EXPECT_EQ(echo_got, (std::vector<LPARAM>{1, 2, 3, 11, 12, 13}));
  DeallocateHWnd(echo);

  // A procedure the tick runs may wait, pumping, for a message posted at once
  // behind deferred ones (a device's close notice behind its data): those
  // come without the tick, in order.
  std::vector<LPARAM> behind_got;
  HWND behind = AllocateHWnd([&](TMessage& m) { behind_got.push_back(m.LParam); });
  int waits = 0;
  bool waited = false;
  HWND waiter = AllocateHWnd([&](TMessage&) {
    std::thread([=] {
      platform::PostMessageDeferred(behind, WM_USER, 0, 1);
      platform::PostMessageDeferred(behind, WM_USER, 0, 2);
      PostMessage(behind, WM_USER, 0, 3);
    }).join();
    waited = WaitAndPumpUntil(1000, true, [&] { return behind_got.size() == 3; });
    ++waits;
  });
  platform::PostMessageDeferred(waiter, WM_USER, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return waits == 1; }));
  EXPECT_TRUE(waited);
  EXPECT_EQ(behind_got, (std::vector<LPARAM>{1, 2, 3}));
  DeallocateHWnd(waiter);
  DeallocateHWnd(behind);
}

TEST_F(MessagesTest, RemovesPendingMessagesOfOneKindOnly) {
  std::vector<UINT> got;
  HWND wnd = AllocateHWnd([&](TMessage& m) { got.push_back(m.Msg); });
  PostMessage(wnd, 0x8001, 0, 0);
  PostMessage(wnd, 0xB1F7, 0, 0);
  PostMessage(wnd, 0x8001, 0, 0);
  PostMessage(wnd, 0xB1F6, 0, 0);
  EXPECT_EQ(RemovePendingMessages(wnd, 0x8001), 2);
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 2; }));
  WaitAndPump(20, true);
  EXPECT_EQ(got, (std::vector<UINT>{0xB1F7, 0xB1F6}));
  DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, WindowDestroyedFromItsOwnProcedureAndDroppedMessages) {
  int calls = 0;
  HWND wnd = 0;
  wnd = AllocateHWnd([&](TMessage&) {
    ++calls;
    DeallocateHWnd(wnd);
  });
  PostMessage(wnd, WM_USER, 0, 0);
  PostMessage(wnd, WM_USER, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return calls >= 1; }));
  WaitAndPump(30, true);
  EXPECT_EQ(calls, 1);
}

TEST_F(MessagesTest, WindowDeallocatedFromAnotherThreadGetsNothingMore) {
  int calls = 0;
  HWND wnd = AllocateHWnd([&](TMessage&) { ++calls; });
  PostMessage(wnd, WM_USER, 0, 0);
  std::atomic<bool> done{false};
  std::thread other([&] {
    DeallocateHWnd(wnd);
    done = true;
  });
  // It does not wait for the GUI thread, which pumps nothing meanwhile.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(done);
  WaitAndPump(30, true);
  other.join();
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(PostMessage(wnd, WM_USER, 0, 0));
}

TEST_F(MessagesTest, ExceptionsFromHandlersReachTheErrorReport) {
  std::vector<std::string> shown;
  platform::SetMessageBoxHook([&](const std::string& text, const std::string&, UINT type) {
    shown.push_back(text);
    EXPECT_EQ(type & MB_ICONERROR, MB_ICONERROR);
    return IDOK;
  });
  HWND wnd = AllocateHWnd([](TMessage&) { throw std::runtime_error("handler failed"); });
  PostMessage(wnd, WM_USER, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !shown.empty(); }));
  EXPECT_EQ(shown, (std::vector<std::string>{"handler failed"}));

  // A window taking part in the report sees each exception first: what it
  // takes shows nothing, the rest shows as before; once it leaves, all show.
  std::vector<std::string> offered;
  platform::SetExceptionReport([&](const std::exception& e) {
    offered.push_back(e.what());
    return std::string(e.what()) == "folded";
  });
  platform::ShowException(std::runtime_error("folded"));
  platform::Guarded([] { throw std::runtime_error("shown"); });
  platform::SetExceptionReport(nullptr);
  platform::ShowException(std::runtime_error("folded"));
  EXPECT_EQ(offered, (std::vector<std::string>{"folded", "shown"}));
  EXPECT_EQ(shown, (std::vector<std::string>{"handler failed", "shown", "folded"}));
  DeallocateHWnd(wnd);
}

// A request to close a window that comes while a handler's message box is open (a
// signal, the session's end) waits until that handler has returned: the window's
// components may not go under it. A window destroyed meanwhile is not closed.
TEST_F(MessagesTest, ACloseUnderAMessageBoxWaitsForTheHandlerThatOpenedIt) {
  TForm form(nullptr);
  auto other = std::make_unique<TForm>(nullptr);
  bool in_handler = false;
  int closes = 0;
  form.OnClose = [&](TComponent*, TCloseAction&) {
    EXPECT_FALSE(in_handler);
    EXPECT_EQ(platform::OpenMessageBoxes(), 0);
    ++closes;
  };
  other->OnClose = [&](TComponent*, TCloseAction&) {
    ADD_FAILURE() << "a destroyed window closed";
  };
  platform::SetMessageBoxHook([&](const std::string&, const std::string&, UINT) {
    EXPECT_EQ(platform::OpenMessageBoxes(), 1);
    form.Close();
    form.Close();  // asked twice, closed once
    other->Close();
    EXPECT_EQ(closes, 0);
    return IDOK;
  });
  HWND wnd = AllocateHWnd([&](TMessage&) {
    in_handler = true;
    platform::ShowException(std::runtime_error("the device went away"));
    other.reset();
    in_handler = false;
  });
  PostMessage(wnd, WM_USER, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return closes > 0; }));
  WaitAndPump(30, true);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(platform::OpenMessageBoxes(), 0);
  DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, WaitAndPumpWaitsTheTimeOrUntilDone) {
  using std::chrono::steady_clock;
  auto start = steady_clock::now();
  WaitAndPump(0, true);
  WaitAndPump(30, false);
  WaitAndPump(30, true);
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(60));

  // A condition that never holds takes the whole time.
  start = steady_clock::now();
  EXPECT_FALSE(WaitAndPumpUntil(30, true, [] { return false; }));
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(30));
  // A wait that does not pump delivers nothing; one that pumps ends once the
  // message has made the condition hold, as does one whose condition another
  // thread sets, long before their time.
  bool delivered = false;
  HWND wnd = AllocateHWnd([&](TMessage& m) { delivered = delivered || m.Msg == WM_USER + 7; });
  ASSERT_TRUE(PostMessage(wnd, WM_USER + 7, 0, 0));
  EXPECT_FALSE(WaitAndPumpUntil(20, false, [&] { return delivered; }));
  start = steady_clock::now();
  EXPECT_TRUE(WaitAndPumpUntil(30000, true, [&] { return delivered; }));
  std::atomic<bool> set{false};
  std::thread setter([&] { set = true; });
  EXPECT_TRUE(WaitAndPumpUntil(30000, false, [&] { return set.load(); }));
  setter.join();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
  DeallocateHWnd(wnd);
}

}  // namespace
