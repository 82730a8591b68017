#include "platform/mmtimer/mmtimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Counter {
  std::atomic<int> calls{0};
  std::atomic<std::thread::id> thread;
  std::atomic<UINT> last_id{0};
};

void CountCall(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* c = reinterpret_cast<Counter*>(user);
  c->thread = std::this_thread::get_id();
  c->last_id = id;
  ++c->calls;
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(MMTimer, PeriodicTimerFiresRepeatedlyOnTheSharedThreadUntilKilled) {
  Counter a, b;
  const int before = platform::ActiveTimerCount();
  UINT ta = timeSetEvent(10, 10, CountCall, reinterpret_cast<DWORD_PTR>(&a), TIME_PERIODIC);
  UINT tb = timeSetEvent(10, 10, CountCall, reinterpret_cast<DWORD_PTR>(&b), TIME_PERIODIC);
  ASSERT_NE(ta, 0u);
  ASSERT_NE(tb, 0u);
  ASSERT_NE(ta, tb);
  EXPECT_EQ(platform::ActiveTimerCount(), before + 2);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return a.calls >= 5 && b.calls >= 5; }, 5s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(timeKillEvent(ta), TIMERR_NOERROR);
  EXPECT_EQ(timeKillEvent(tb), TIMERR_NOERROR);
  EXPECT_EQ(platform::ActiveTimerCount(), before);
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  // Never more calls than whole periods elapsed (+1 for rounding).
  EXPECT_LE(a.calls, elapsed / 10 + 1);
  EXPECT_EQ(a.last_id, ta);
  EXPECT_EQ(b.last_id, tb);
  // Both timers share one thread, which is not ours.
  EXPECT_EQ(a.thread.load(), b.thread.load());
  EXPECT_NE(a.thread.load(), std::this_thread::get_id());
  int after = a.calls;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(a.calls, after);
  EXPECT_EQ(timeKillEvent(ta), TIMERR_NOCANDO);
}

TEST(MMTimer, OneShotFiresOnceAndRefusesBadArguments) {
  Counter c;
  const int before = platform::ActiveTimerCount();
  UINT t = timeSetEvent(5, 1, CountCall, reinterpret_cast<DWORD_PTR>(&c), TIME_ONESHOT);
  ASSERT_NE(t, 0u);
  ASSERT_TRUE(WaitFor([&] { return c.calls == 1; }, 5s));
  // A one-shot timer is gone once it has fired.
  EXPECT_TRUE(WaitFor([&] { return platform::ActiveTimerCount() == before; }, 5s));
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(timeKillEvent(t), TIMERR_NOCANDO);  // already gone

  // Many timers at once (the outputs keep one per waiting buffer), more than Wine's
  // service holds: each fires once, on the one timer thread.
  constexpr int kMany = 40;
  std::vector<Counter> many(kMany);
  for (int i = 0; i < kMany; ++i) {
    ASSERT_NE(timeSetEvent(static_cast<UINT>(5 + 2 * i), 1, CountCall,
                           reinterpret_cast<DWORD_PTR>(&many[i]), TIME_ONESHOT),
              0u)
        << i;
  }
  ASSERT_TRUE(WaitFor([&] { return many.back().calls == 1; }, 10s));
  for (const Counter& m : many) {
    EXPECT_EQ(m.calls, 1);
    EXPECT_EQ(m.thread.load(), many.front().thread.load());
  }
  EXPECT_EQ(timeSetEvent(0, 1, CountCall, 0, TIME_ONESHOT), 0u);
  EXPECT_EQ(timeSetEvent(10, 1, nullptr, 0, TIME_PERIODIC), 0u);
}

struct Slow {
  std::atomic<bool> inside{false};
  std::atomic<bool> finished{false};
  std::atomic<int> calls{0};
};

void SlowCall(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* s = reinterpret_cast<Slow*>(user);
  ++s->calls;
  s->finished = false;
  s->inside = true;
  std::this_thread::sleep_for(60ms);
  s->finished = true;
  s->inside = false;
}

TEST(MMTimer, KillWaitsForARunningCallback) {
  Slow s;
  UINT t = timeSetEvent(5, 1, SlowCall, reinterpret_cast<DWORD_PTR>(&s), TIME_PERIODIC);
  ASSERT_NE(t, 0u);
  ASSERT_TRUE(WaitFor([&] { return s.inside.load(); }, 5s));
  EXPECT_EQ(timeKillEvent(t), TIMERR_NOERROR);
  EXPECT_TRUE(s.finished);
  EXPECT_FALSE(s.inside);
  int calls = s.calls;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(s.calls, calls);
}

struct SelfKill {
  std::atomic<UINT> id{0};
  std::atomic<int> calls{0};
  std::atomic<MMRESULT> result{99};
};

void KillSelf(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* s = reinterpret_cast<SelfKill*>(user);
  ++s->calls;
  s->result = timeKillEvent(id);
}

TEST(MMTimer, CallbackMayKillItsOwnTimer) {
  SelfKill s;
  s.id = timeSetEvent(5, 1, KillSelf, reinterpret_cast<DWORD_PTR>(&s), TIME_PERIODIC);
  ASSERT_TRUE(WaitFor([&] { return s.calls >= 1; }, 5s));
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(s.calls, 1);
  EXPECT_EQ(s.result, TIMERR_NOERROR);
}

TEST(MMTimer, ClocksAndPeriods) {
  std::int64_t f = 0, c1 = 0, c2 = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_GT(f, 0);
  ASSERT_TRUE(QueryPerformanceCounter(&c1));
  std::int64_t us1 = NowMicroseconds();
  DWORD ms1 = timeGetTime();
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(QueryPerformanceCounter(&c2));
  std::int64_t us2 = NowMicroseconds();
  DWORD ms2 = timeGetTime();
  EXPECT_GE((c2 - c1) * 1000 / f, 20);
  EXPECT_GE(us2 - us1, 20000);
  EXPECT_LT(us2 - us1, 10000000);
  EXPECT_GE(ms2 - ms1, 19u);

  EXPECT_EQ(timeBeginPeriod(25), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(5), TIMERR_NOERROR);
  EXPECT_EQ(platform::RequestedTimerPeriod(), 5u);
  EXPECT_EQ(timeEndPeriod(5), TIMERR_NOERROR);
  EXPECT_EQ(platform::RequestedTimerPeriod(), 25u);
  EXPECT_EQ(timeEndPeriod(25), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(25), TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
}

}  // namespace
