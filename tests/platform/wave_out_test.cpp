#include "platform/wave/wave_out.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/threads/thread.h"
#include "platform/threads/thread_messages.h"
#include "platform/wave/wave_caps.h"
#include "tests/platform/wave_test_support.h"

namespace {

using platform::VirtualClock;
using std::chrono::seconds;

using Recorder = wavetest::Recorder<HWAVEOUT>;
using Event = Recorder::Event;
using wavetest::Extensible;
using wavetest::Pcm;

// A header over its own bytes, i, i+1, ... from `first`.
struct Buffer {
  Buffer(DWORD size, std::uint8_t first) : data(size) {
    for (DWORD i = 0; i < size; ++i) data[i] = static_cast<char>(first + i);
    header.lpData = data.data();
    header.dwBufferLength = size;
  }
  std::vector<char> data;
  WAVEHDR header;
};

std::vector<std::uint8_t> Concat(std::initializer_list<const Buffer*> buffers) {
  std::vector<std::uint8_t> all;
  for (const Buffer* b : buffers) {
    all.insert(all.end(), b->data.begin(), b->data.begin() + b->header.dwBufferLength);
  }
  return all;
}

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset", &reason)) << reason;
    backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
    VirtualClock::SetManual(true);
  }
  void TearDown() override { VirtualClock::SetManual(false); }

  HWAVEOUT Open(UINT id, const WAVEFORMATEX& f, DWORD flags = 0) {
    HWAVEOUT hwo = nullptr;
    EXPECT_EQ(waveOutOpen(&hwo, id, &f, recorder.Function(), recorder.Instance(),
                          CALLBACK_FUNCTION | flags),
              MMSYSERR_NOERROR);
    return hwo;
  }
  void Write(HWAVEOUT hwo, Buffer& b) {
    ASSERT_EQ(waveOutPrepareHeader(hwo, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(hwo, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b.header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
  }
  DWORD Position(HWAVEOUT hwo, UINT type) {
    MMTIME t;
    t.wType = type;
    EXPECT_EQ(waveOutGetPosition(hwo, &t, sizeof(t)), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, type);
    return t.u.cb;
  }

  std::shared_ptr<platform::VirtualAudioBackend> backend;
  Recorder recorder;
};

// 8000 Hz 16-bit mono: 16 bytes per millisecond; the device takes 40 ms ahead.
TEST_F(WaveOutTest, HeadersComeBackOnceHeardInOrder) {
  WAVEFORMATEX f = Pcm(8000, 16, 1);
  HWAVEOUT hwo = Open(1, f);
  ASSERT_TRUE(recorder.WaitFor(WOM_OPEN, 1));
  Buffer b0(160, 0), b1(160, 100), b2(160, 200);
  for (Buffer* b : {&b0, &b1, &b2}) Write(hwo, *b);
  // All three are with the back-end now, but none has been heard.
  VirtualClock::Advance(9);
  EXPECT_EQ(recorder.Count(WOM_DONE), 0u);
  EXPECT_EQ(b0.header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
  VirtualClock::Advance(1);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 1));
  EXPECT_EQ(b0.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(Position(hwo, TIME_BYTES), 160u);
  VirtualClock::Advance(15);
  EXPECT_EQ(Position(hwo, TIME_SAMPLES), 200u);
  EXPECT_EQ(Position(hwo, TIME_MS), 25u);
  VirtualClock::Advance(15);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 3));
  EXPECT_EQ(recorder.Headers(WOM_DONE),
            (std::vector<WAVEHDR*>{&b0.header, &b1.header, &b2.header}));
  EXPECT_EQ(Position(hwo, TIME_BYTES), 480u);
  // Idle time is silence and does not move the position.
  VirtualClock::Advance(100);
  EXPECT_EQ(Position(hwo, TIME_BYTES), 480u);

  // A header ending inside a frame is completed with silence; an empty header
  // comes back in its turn.
  Buffer odd(3, 7), empty(0, 0), last(2, 9);
  empty.header.lpData = odd.data.data();
  for (Buffer* b : {&odd, &empty, &last}) Write(hwo, *b);
  VirtualClock::Advance(1);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 6));
  EXPECT_EQ(recorder.Headers(WOM_DONE).back(), &last.header);
  std::vector<std::uint8_t> expected = Concat({&b0, &b1, &b2, &odd, &last});
  expected.insert(expected.begin() + 483, 0);  // the pad between "odd" and "last"
  EXPECT_EQ(backend->Played("out:1"), expected);
  EXPECT_TRUE(backend->Played("out:0").empty());
  // An unknown unit is answered in bytes.
  MMTIME t;
  t.wType = 0x20;
  ASSERT_EQ(waveOutGetPosition(hwo, &t, sizeof(t)), MMSYSERR_NOERROR);
  EXPECT_EQ(t.wType, TIME_BYTES);
  EXPECT_EQ(t.u.cb, 486u);

  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  // Every notification, the close included, is out when waveOutClose returns.
  std::vector<Event> events = recorder.Snapshot();
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events.front().msg, WOM_OPEN);
  EXPECT_EQ(events.back().msg, WOM_CLOSE);
  for (const Event& e : events) {
    EXPECT_EQ(e.handle, hwo);
    EXPECT_NE(e.thread, std::this_thread::get_id());
  }
  EXPECT_EQ(waveOutWrite(hwo, &b0.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutTest, PauseRestartAndReset) {
  WAVEFORMATEX f = Pcm(8000, 8, 1);  // 8 bytes per millisecond
  HWAVEOUT hwo = Open(0, f);
  Buffer b0(80, 0), b1(80, 80), b2(80, 160);
  // Paused before anything is written: the queue fills, nothing plays.
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  for (Buffer* b : {&b0, &b1, &b2}) Write(hwo, *b);
  VirtualClock::Advance(50);
  EXPECT_EQ(Position(hwo, TIME_BYTES), 0u);
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);  // not paused: nothing happens
  VirtualClock::Advance(15);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 1));
  EXPECT_EQ(Position(hwo, TIME_BYTES), 120u);
  // Paused in the middle of b1: it stays queued, the position stands.
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  VirtualClock::Advance(100);
  EXPECT_EQ(Position(hwo, TIME_BYTES), 120u);
  EXPECT_EQ(recorder.Count(WOM_DONE), 1u);
  // Queued headers cannot be closed, unprepared or written again.
  EXPECT_EQ(waveOutClose(hwo), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutUnprepareHeader(hwo, &b1.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutWrite(hwo, &b1.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
  VirtualClock::Advance(5);  // the end of b1
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 2));
  EXPECT_EQ(Position(hwo, TIME_BYTES), 160u);

  // Reset: b2 comes back at once, unplayed, and the position is 0 again.
  ASSERT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 3));
  EXPECT_EQ(recorder.Headers(WOM_DONE),
            (std::vector<WAVEHDR*>{&b0.header, &b1.header, &b2.header}));
  EXPECT_EQ(b2.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(Position(hwo, TIME_BYTES), 0u);
  VirtualClock::Advance(100);
  EXPECT_EQ(backend->Played("out:0"), Concat({&b0, &b1}));
  // A device reset while playing plays what is written next at once.
  Write(hwo, b2);
  VirtualClock::Advance(10);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 4));
  EXPECT_EQ(Position(hwo, TIME_BYTES), 80u);
  // A paused device stays paused through a reset.
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  Write(hwo, b0);
  VirtualClock::Advance(100);
  EXPECT_EQ(recorder.Count(WOM_DONE), 4u);
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
  VirtualClock::Advance(10);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 5));
  EXPECT_EQ(backend->Played("out:0"), Concat({&b0, &b1, &b2, &b0}));
  for (Buffer* b : {&b0, &b1, &b2}) {
    EXPECT_EQ(waveOutUnprepareHeader(hwo, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b->header.dwFlags, WHDR_DONE);
  }
  EXPECT_EQ(waveOutWrite(hwo, &b0.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, QueryBadFormatsAndBadCalls) {
  WAVEFORMATEX good = Pcm(44100, 16, 2);
  EXPECT_EQ(waveOutOpen(nullptr, 1, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(nullptr, 1, &good, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED),
            MMSYSERR_NOERROR);
  for (WAVEFORMATEX ok : {Pcm(4000, 8, 1), Pcm(100000, 16, 8), Pcm(22050, 8, 4)}) {
    EXPECT_EQ(waveOutOpen(nullptr, 0, &ok, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  }
  WAVEFORMATEX bad_align = good;
  bad_align.nBlockAlign = 2;
  WAVEFORMATEX bad_rate_bytes = good;
  bad_rate_bytes.nAvgBytesPerSec = 1;
  WAVEFORMATEX not_pcm = good;
  not_pcm.wFormatTag = 3;
  for (WAVEFORMATEX bad :
       {Pcm(3999, 16, 2), Pcm(200001, 16, 2), Pcm(44100, 24, 2), Pcm(44100, 16, 9),
        Pcm(44100, 16, 0), bad_align, bad_rate_bytes, not_pcm}) {
    EXPECT_EQ(waveOutOpen(nullptr, 0, &bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    HWAVEOUT hwo = nullptr;
    EXPECT_EQ(waveOutOpen(&hwo, 0, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(hwo, nullptr);
  }
  HWAVEOUT hwo = nullptr;
  EXPECT_EQ(waveOutOpen(&hwo, 2, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(&hwo, 2, &good, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(&hwo, 0, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(nullptr, 0, &good, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&hwo, 0, &good, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&hwo, 0, &good, 0, 0, CALLBACK_THREAD), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&hwo, 0, &good, 1, 0, CALLBACK_EVENT), MMSYSERR_NOTSUPPORTED);
  EXPECT_EQ(waveOutOpen(&hwo, 0, &good, 0, 0, 0x80000000u), MMSYSERR_INVALFLAG);
  EXPECT_EQ(hwo, nullptr);

  auto* bogus = reinterpret_cast<HWAVEOUT>(std::uintptr_t{12345});
  Buffer b(64, 0);
  MMTIME t;
  UINT id = 0;
  for (HWAVEOUT h : {static_cast<HWAVEOUT>(nullptr), bogus}) {
    EXPECT_EQ(waveOutPause(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPrepareHeader(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutGetPosition(h, &t, sizeof(t)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutGetID(h, &id), MMSYSERR_INVALHANDLE);
  }

  // The mapper plays on the default output; WAVE_MAPPED with a number on that device.
  WAVEFORMATEX f = Pcm(8000, 8, 1);
  for (auto [device, flags, endpoint] :
       {std::tuple{WAVE_MAPPER, DWORD{0}, "out:0"}, std::tuple{1u, WAVE_MAPPED, "out:1"}}) {
    backend->ClearPlayed("out:0");
    backend->ClearPlayed("out:1");
    hwo = Open(device, f, flags);
    ASSERT_EQ(waveOutGetID(hwo, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, device);
    Write(hwo, b);
    VirtualClock::Advance(10);
    ASSERT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
    EXPECT_EQ(backend->Played(endpoint), Concat({&b}));
    ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  }
  hwo = Open(0, f);
  EXPECT_EQ(waveOutPrepareHeader(hwo, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(hwo, &b.header, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutGetPosition(hwo, nullptr, sizeof(t)), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutGetID(hwo, nullptr), MMSYSERR_INVALPARAM);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
}

// An extensible PCM header opens the device with its channel mask's speakers;
// a plain one with the wave layout for its channel count.
TEST_F(WaveOutTest, ChannelsArePlacedByTheMaskElseTheWaveLayout) {
  using P = platform::ChannelPosition;
  const WAVEFORMATEXTENSIBLE side = Extensible(8000, 16, 6, 0x60F);
  HWAVEOUT hwo = Open(0, side.Format);
  EXPECT_EQ(backend->OpenedChannelMap("out:0"),
            (std::vector<P>{P::kFrontLeft, P::kFrontRight, P::kFrontCenter, P::kLowFrequency,
                            P::kSideLeft, P::kSideRight}));
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  hwo = Open(1, Pcm(8000, 16, 4));
  EXPECT_EQ(backend->OpenedChannelMap("out:1"),
            (std::vector<P>{P::kFrontLeft, P::kFrontRight, P::kBackLeft, P::kBackRight}));
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  // Samples that do not fill their containers, and float, are not device PCM.
  for (const WAVEFORMATEXTENSIBLE& bad :
       {Extensible(8000, 16, 2, 3, 12), Extensible(8000, 16, 2, 3, 0, 3)}) {
    EXPECT_EQ(waveOutOpen(nullptr, 0, &bad.Format, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  }
}

TEST_F(WaveOutTest, DeviceThatGoesAwayReturnsItsHeadersAndRefusesMore) {
  WAVEFORMATEX f = Pcm(8000, 8, 1);
  HWAVEOUT hwo = Open(1, f);
  Buffer b0(80, 0), b1(80, 0), b2(80, 0);
  for (Buffer* b : {&b0, &b1, &b2}) Write(hwo, *b);
  VirtualClock::Advance(5);
  backend->RemoveOutput("out:1");
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 3));
  EXPECT_EQ(recorder.Headers(WOM_DONE),
            (std::vector<WAVEHDR*>{&b0.header, &b1.header, &b2.header}));
  EXPECT_EQ(b0.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(waveOutWrite(hwo, &b0.header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutPrepareHeader(hwo, &b0.header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  MMTIME t;
  EXPECT_EQ(waveOutGetPosition(hwo, &t, sizeof(t)), MMSYSERR_NODRIVER);
  // Restart of a paused device fails; everything that releases it works.
  EXPECT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutRestart(hwo), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutUnprepareHeader(hwo, &b0.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  UINT id = 0;
  EXPECT_EQ(waveOutGetID(hwo, &id), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Snapshot().back().msg, WOM_CLOSE);
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  HWAVEOUT gone = nullptr;
  EXPECT_EQ(waveOutOpen(&gone, 1, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST_F(WaveOutTest, CloseFromInsideTheCallbackDeliversEverythingFirst) {
  WAVEFORMATEX f = Pcm(8000, 8, 1);
  HWAVEOUT hwo = Open(0, f);
  Buffer b0(80, 0), b1(80, 0);
  std::atomic<MMRESULT> close_result{999};
  std::atomic<bool> reacted{false};
  recorder.SetReact([&](const Event& e) {
    if (e.msg == WOM_DONE && e.header == &b0.header) {
      waveOutReset(e.handle);
      close_result = waveOutClose(e.handle);
      reacted = true;
    }
  });
  Write(hwo, b0);
  Write(hwo, b1);
  VirtualClock::Advance(10);
  auto deadline = std::chrono::steady_clock::now() + seconds(20);
  while (!reacted && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(reacted);
  EXPECT_EQ(close_result.load(), MMSYSERR_NOERROR);
  std::vector<Event> events = recorder.Snapshot();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].header, &b1.header);
  EXPECT_EQ(events[3].msg, WOM_CLOSE);
}

// Window notifications arrive on the GUI thread; thread notifications in the
// queue of the thread named.
TEST_F(WaveOutTest, WindowAndThreadNotifications) {
  platform::EnsureToolkit();
  std::vector<TMessage> messages;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    EXPECT_TRUE(platform::IsGuiThread());
    messages.push_back(m);
  });
  auto pump_until = [&](std::size_t n) {
    auto deadline = std::chrono::steady_clock::now() + seconds(20);
    while (messages.size() < n && std::chrono::steady_clock::now() < deadline) {
      WaitAndPump(10, true);
    }
    return messages.size() >= n;
  };
  WAVEFORMATEX f = Pcm(8000, 8, 1);
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(waveOutOpen(&hwo, 0, &f, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  Buffer b(40, 0);
  Write(hwo, b);
  VirtualClock::Advance(5);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(pump_until(3));
  EXPECT_EQ(messages[0].Msg, MM_WOM_OPEN);
  EXPECT_EQ(messages[1].Msg, MM_WOM_DONE);
  EXPECT_EQ(messages[1].LParam, reinterpret_cast<LPARAM>(&b.header));
  EXPECT_EQ(messages[2].Msg, MM_WOM_CLOSE);
  for (const TMessage& m : messages) EXPECT_EQ(m.WParam, reinterpret_cast<WPARAM>(hwo));
  DeallocateHWnd(wnd);

  std::atomic<DWORD> thread_id{0};
  std::vector<MSG> received;
  std::thread worker([&] {
    MSG msg;
    PeekMessage(&msg, 0, 0, 0, PM_NOREMOVE);  // creates the queue
    thread_id = GetCurrentThreadId();
    auto deadline = std::chrono::steady_clock::now() + seconds(20);
    while (received.size() < 3 && std::chrono::steady_clock::now() < deadline) {
      if (PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
        received.push_back(msg);
      } else {
        MsgWaitForMultipleObjects(0, nullptr, 100, QS_ALLINPUT);
      }
    }
  });
  while (thread_id == 0) std::this_thread::yield();
  ASSERT_EQ(waveOutOpen(&hwo, 0, &f, thread_id, 0, CALLBACK_THREAD), MMSYSERR_NOERROR);
  Write(hwo, b);
  VirtualClock::Advance(5);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  worker.join();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].message, MM_WOM_OPEN);
  EXPECT_EQ(received[1].message, MM_WOM_DONE);
  EXPECT_EQ(received[1].lParam, reinterpret_cast<LPARAM>(&b.header));
  EXPECT_EQ(received[2].message, MM_WOM_CLOSE);
  for (const MSG& m : received) EXPECT_EQ(m.wParam, reinterpret_cast<WPARAM>(hwo));
}

// The real-time clock with a callback that writes every header again at once,
// the way an output component keeps its ring queued: what is heard is the
// data without a gap, and a reset and close from another thread end it cleanly.
TEST(WaveOutRealTime, RingOfHeadersPlaysWithoutAGap) {
  std::string reason;
  ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers", &reason)) << reason;
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_FALSE(VirtualClock::IsManual());
  WAVEFORMATEX f = Pcm(44100, 16, 2);
  Recorder recorder;
  std::atomic<bool> stopping{false};
  std::atomic<int> refill{0};
  std::vector<std::unique_ptr<Buffer>> ring;
  recorder.SetReact([&](const Event& e) {
    if (e.msg != WOM_DONE || stopping) return;
    // Each header gets the next numbers of the sequence.
    int n = ++refill + 9;
    for (DWORD i = 0; i < e.header->dwBufferLength; ++i) {
      e.header->lpData[i] = static_cast<char>(n * 7 + i);
    }
    waveOutWrite(e.handle, e.header, sizeof(WAVEHDR));
  });
  HWAVEOUT hwo = nullptr;
  ASSERT_EQ(waveOutOpen(&hwo, 0, &f, recorder.Function(), recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPause(hwo), MMSYSERR_NOERROR);
  for (int i = 0; i < 10; ++i) {
    ring.push_back(std::make_unique<Buffer>(2048, 0));
    for (DWORD k = 0; k < 2048; ++k) ring.back()->data[k] = static_cast<char>(i * 7 + k);
    ASSERT_EQ(waveOutPrepareHeader(hwo, &ring.back()->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(hwo, &ring.back()->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveOutRestart(hwo), MMSYSERR_NOERROR);
  ASSERT_TRUE(recorder.WaitFor(WOM_DONE, 30));
  stopping = true;
  ASSERT_EQ(waveOutReset(hwo), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
  std::vector<std::uint8_t> played = backend->Played("out:0");
  ASSERT_GE(played.size(), 30u * 2048);
  for (std::size_t at = 0; at < played.size(); ++at) {
    std::size_t n = at / 2048, k = at % 2048;
    ASSERT_EQ(played[at], static_cast<std::uint8_t>(n * 7 + k)) << at;
  }
}

}  // namespace
