#include "platform/wave/win32/system_wave_out.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::win32::SystemWaveOut;
using platform::win32::WaveOutCalls;
using platform::win32::WaveOutTimings;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A system wave output with one device: it queues what is written, returns
// headers when the test plays them, and keeps its position where the test
// puts it (moving by itself when `moving`).
struct FakeSystem {
  std::mutex mutex;
  WAVECALLBACK callback = nullptr;
  DWORD_PTR instance = 0;
  std::deque<WAVEHDR*> queue;
  std::vector<std::string> played;  // the data of each header returned
  DWORD position = 0;
  bool moving = false;
  bool invalidated = false;  // reset fails, close succeeds (as under Wine)
  MMRESULT close_result = MMSYSERR_NOERROR;
  std::vector<std::string> calls;
  steady_clock::time_point reset_at;

  // Returns the oldest `n` queued headers done, as the system's thread does.
  void Play(std::size_t n) {
    for (; n > 0 && !queue.empty(); --n) {
      WAVEHDR* h = queue.front();
      queue.pop_front();
      played.emplace_back(h->lpData, h->dwBufferLength);
      h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      callback(Handle(), WOM_DONE, instance, reinterpret_cast<DWORD_PTR>(h), 0);
    }
  }
  HWAVEOUT Handle() { return reinterpret_cast<HWAVEOUT>(this); }
};

FakeSystem* fake = nullptr;

WaveOutCalls FakeCalls() {
  WaveOutCalls c{};
  c.open = [](LPHWAVEOUT phwo, UINT, const WAVEFORMATEX*, DWORD_PTR cb, DWORD_PTR inst,
              DWORD flags) -> MMRESULT {
    if ((flags & CALLBACK_TYPEMASK) != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
    fake->callback = reinterpret_cast<WAVECALLBACK>(cb);
    fake->instance = inst;
    *phwo = fake->Handle();
    fake->callback(*phwo, WOM_OPEN, inst, 0, 0);
    return MMSYSERR_NOERROR;
  };
  c.close = [](HWAVEOUT) -> MMRESULT {
    fake->calls.push_back("close");
    if (!fake->invalidated && !fake->queue.empty()) return WAVERR_STILLPLAYING;
    if (fake->close_result == MMSYSERR_NOERROR)
      fake->callback(fake->Handle(), WOM_CLOSE, fake->instance, 0, 0);
    return fake->close_result;
  };
  c.prepare = [](HWAVEOUT, LPWAVEHDR h, UINT) -> MMRESULT {
    h->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  };
  c.unprepare = [](HWAVEOUT, LPWAVEHDR h, UINT) -> MMRESULT {
    if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    h->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  };
  c.write = [](HWAVEOUT, LPWAVEHDR h, UINT) -> MMRESULT {
    h->dwFlags |= WHDR_INQUEUE;
    fake->queue.push_back(h);
    return MMSYSERR_NOERROR;
  };
  c.pause = [](HWAVEOUT) -> MMRESULT { return MMSYSERR_NOERROR; };
  c.restart = [](HWAVEOUT) -> MMRESULT { return MMSYSERR_NOERROR; };
  c.reset = [](HWAVEOUT) -> MMRESULT {
    fake->calls.push_back("reset");
    fake->reset_at = steady_clock::now();
    if (fake->invalidated) return MMSYSERR_ERROR;
    fake->Play(fake->queue.size());
    return MMSYSERR_NOERROR;
  };
  c.position = [](HWAVEOUT, LPMMTIME t, UINT) -> MMRESULT {
    std::lock_guard<std::mutex> lock(fake->mutex);
    if (fake->moving) fake->position += 4;
    t->wType = TIME_BYTES;
    t->u.cb = fake->position;
    return MMSYSERR_NOERROR;
  };
  return c;
}

// What the caller's callback got.
struct Caller {
  std::mutex mutex;
  std::vector<UINT> messages;
  std::vector<WAVEHDR*> done;
  static void Callback(void*, UINT msg, DWORD_PTR self, DWORD_PTR header, DWORD_PTR) {
    auto* c = reinterpret_cast<Caller*>(self);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->messages.push_back(msg);
    if (msg == WOM_DONE) c->done.push_back(reinterpret_cast<WAVEHDR*>(header));
  }
  std::size_t Done() {
    std::lock_guard<std::mutex> lock(mutex);
    return done.size();
  }
};

struct Block {
  std::string text;
  WAVEHDR header{};
  explicit Block(const char* t) : text(t) {
    header.lpData = text.data();
    header.dwBufferLength = static_cast<DWORD>(text.size());
  }
};

class SystemWaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = &system_; }
  void TearDown() override { fake = nullptr; }

  HWAVEOUT Open(SystemWaveOut& out) {
    HWAVEOUT h = nullptr;
    WAVEFORMATEX format{};
    EXPECT_EQ(out.Open(&h, 0, &format, reinterpret_cast<DWORD_PTR>(&Caller::Callback),
                       reinterpret_cast<DWORD_PTR>(&caller_), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return h;
  }
  void Queue(SystemWaveOut& out, HWAVEOUT h, Block& b) {
    ASSERT_EQ(out.Prepare(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(out.Write(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  static bool WaitUntil(const std::function<bool()>& condition) {
    const auto limit = steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && steady_clock::now() < limit)
      std::this_thread::sleep_for(milliseconds(2));
    return condition();
  }

  FakeSystem system_;
  Caller caller_;
};

TEST_F(SystemWaveOutTest, HeadersComeBackAsTheCallersAndATailIsWaitedForOnlyAfterRunningOut) {
  const milliseconds held(300);
  SystemWaveOut out(FakeCalls(), WaveOutTimings{held, std::chrono::hours(1), milliseconds(5)});
  HWAVEOUT h = Open(out);
  ASSERT_EQ(h, system_.Handle());
  Block one("first block"), two("second");
  Queue(out, h, one);
  Queue(out, h, two);
  // The system queues copies: the caller's memory is not the system's.
  ASSERT_EQ(system_.queue.size(), 2u);
  EXPECT_NE(system_.queue.front(), &one.header);
  EXPECT_TRUE(one.header.dwFlags & WHDR_INQUEUE);
  EXPECT_EQ(out.Write(h, &one.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(out.Unprepare(h, &one.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  Block unprepared("x");
  EXPECT_EQ(out.Write(h, &unprepared.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);

  system_.Play(1);
  EXPECT_EQ(caller_.done, std::vector<WAVEHDR*>{&one.header});
  EXPECT_EQ(one.header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  // A reset with a header still queued does not wait.
  auto start = steady_clock::now();
  EXPECT_EQ(out.Reset(h), MMSYSERR_NOERROR);
  EXPECT_LT(system_.reset_at - start, held);
  EXPECT_EQ(caller_.done, (std::vector<WAVEHDR*>{&one.header, &two.header}));

  // Written again with new data; when the last header comes back by itself,
  // the reset waits for the tail, once.
  one.text = "played again";
  one.header.dwBufferLength = static_cast<DWORD>(one.text.size());
  ASSERT_EQ(out.Write(h, &one.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  system_.Play(1);
  start = steady_clock::now();
  EXPECT_EQ(out.Reset(h), MMSYSERR_NOERROR);
  EXPECT_GE(system_.reset_at - start, held - milliseconds(20));
  start = steady_clock::now();
  EXPECT_EQ(out.Reset(h), MMSYSERR_NOERROR);
  EXPECT_LT(system_.reset_at - start, held);
  EXPECT_EQ(system_.played, (std::vector<std::string>{"first block", "second", "played again"}));

  // Pausing a device that ran out waits too; a paused device holds its tail.
  ASSERT_EQ(out.Write(h, &two.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  system_.Play(1);
  start = steady_clock::now();
  EXPECT_EQ(out.Pause(h), MMSYSERR_NOERROR);
  EXPECT_GE(steady_clock::now() - start, held - milliseconds(20));
  ASSERT_EQ(out.Write(h, &two.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  system_.Play(1);
  start = steady_clock::now();
  EXPECT_EQ(out.Reset(h), MMSYSERR_NOERROR);
  EXPECT_LT(system_.reset_at - start, held);

  EXPECT_EQ(out.Unprepare(h, &one.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(out.Unprepare(h, &two.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_FALSE(one.header.dwFlags & WHDR_PREPARED);
  EXPECT_EQ(out.Close(h), MMSYSERR_NOERROR);
  EXPECT_EQ(caller_.messages.front(), WOM_OPEN);
  EXPECT_EQ(caller_.messages.back(), WOM_CLOSE);
}

TEST_F(SystemWaveOutTest, ADeviceStandingStillWhilePlayingIsLostAndLetsGoOfEveryHeader) {
  SystemWaveOut out(FakeCalls(),
                    WaveOutTimings{milliseconds(0), milliseconds(150), milliseconds(5)});
  HWAVEOUT h = Open(out);
  auto a = std::make_unique<Block>("a"), b = std::make_unique<Block>("b");
  Queue(out, h, *a);
  Queue(out, h, *b);

  // Paused, or playing with the position moving, it is not lost.
  ASSERT_EQ(out.Pause(h), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(milliseconds(450));
  ASSERT_EQ(out.Restart(h), MMSYSERR_NOERROR);
  {
    std::lock_guard<std::mutex> lock(system_.mutex);
    system_.moving = true;
  }
  std::this_thread::sleep_for(milliseconds(450));
  EXPECT_EQ(caller_.Done(), 0u);
  {
    std::lock_guard<std::mutex> lock(system_.mutex);
    system_.moving = false;
  }

  // Standing still: every queued header comes back in order, and the device
  // then fails as one that went away.
  ASSERT_TRUE(WaitUntil([&] { return caller_.Done() == 2; }));
  EXPECT_EQ(caller_.done, (std::vector<WAVEHDR*>{&a->header, &b->header}));
  EXPECT_EQ(a->header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  MMTIME t;
  EXPECT_EQ(out.GetPosition(h, &t, sizeof(t)), MMSYSERR_NODRIVER);
  EXPECT_EQ(out.Write(h, &a->header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  EXPECT_EQ(out.Prepare(h, &a->header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  EXPECT_EQ(out.Restart(h), MMSYSERR_NODRIVER);
  EXPECT_EQ(out.Pause(h), MMSYSERR_NOERROR);
  EXPECT_EQ(out.Reset(h), MMSYSERR_NOERROR);

  // The caller frees its headers; the system still holds the copies and can
  // read them until it lets go.
  EXPECT_EQ(out.Unprepare(h, &a->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(out.Unprepare(h, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  a.reset();
  b.reset();
  ASSERT_EQ(system_.queue.size(), 2u);
  EXPECT_EQ(std::string(system_.queue.back()->lpData, 1), "b");

  // Its system cannot reset (the queue stays) but closes; the caller is told once.
  system_.invalidated = true;
  EXPECT_EQ(out.Close(h), MMSYSERR_NOERROR);
  EXPECT_EQ(system_.calls, (std::vector<std::string>{"reset", "close"}));
  EXPECT_EQ(caller_.messages.back(), WOM_CLOSE);
  EXPECT_EQ(caller_.Done(), 2u);
}

TEST_F(SystemWaveOutTest, ALostDeviceTheSystemKeepsIsClosedForTheCallerAndItsLateReturnsIgnored) {
  SystemWaveOut out(FakeCalls(),
                    WaveOutTimings{milliseconds(0), milliseconds(50), milliseconds(5)});
  HWAVEOUT h = Open(out);
  Block a("a");
  Queue(out, h, a);
  ASSERT_TRUE(WaitUntil([&] { return caller_.Done() == 1; }));
  EXPECT_EQ(out.Unprepare(h, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  system_.invalidated = true;
  system_.close_result = MMSYSERR_ERROR;
  EXPECT_EQ(out.Close(h), MMSYSERR_NOERROR);
  EXPECT_EQ(caller_.messages.back(), WOM_CLOSE);
  // The system returns its copy after all: it is still there, and the caller
  // hears nothing more.
  const std::size_t messages = caller_.messages.size();
  system_.Play(1);
  EXPECT_EQ(system_.played, std::vector<std::string>{"a"});
  EXPECT_EQ(caller_.messages.size(), messages);
}

}  // namespace
