#include "platform/wave/wave_in.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "tests/platform/wave_test_support.h"

namespace {

using platform::VirtualClock;
using std::chrono::seconds;

using Recorder = wavetest::Recorder<HWAVEIN>;
using Event = Recorder::Event;
using wavetest::Pcm;

struct Buffer {
  explicit Buffer(DWORD size) : data(size, '\x55') {
    header.lpData = data.data();
    header.dwBufferLength = size;
  }
  std::vector<char> data;
  WAVEHDR header;
};

// The virtual input's signal, computed here independently of the back-end.
std::vector<std::uint8_t> Signal(double hz, double left_db, double right_db, const WAVEFORMATEX& f,
                                 std::uint64_t first, std::uint64_t frames) {
  std::vector<std::uint8_t> out;
  for (std::uint64_t n = first; n < first + frames; ++n) {
    double x = std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / f.nSamplesPerSec);
    for (unsigned c = 0; c < f.nChannels; ++c) {
      double a = std::pow(10.0, (c % 2 == 0 ? left_db : right_db) / 20.0);
      if (f.wBitsPerSample == 8) {
        out.push_back(static_cast<std::uint8_t>(128 + std::lround(127.0 * a * x)));
      } else {
        auto v =
            static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767.0 * a * x)));
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> Bytes(const WAVEHDR& h) {
  return std::vector<std::uint8_t>(h.lpData, h.lpData + h.dwBytesRecorded);
}

class WaveInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(platform::SelectAudioBackend(
        "virtual:in=Tone@440:-6:-12|Quiet|Third@1000:-3:-20;out=Out", &reason))
        << reason;
    VirtualClock::SetManual(true);
  }
  void TearDown() override { VirtualClock::SetManual(false); }

  HWAVEIN Open(UINT id, const WAVEFORMATEX& f) {
    HWAVEIN hwi = nullptr;
    EXPECT_EQ(waveInOpen(&hwi, id, &f, recorder.Function(), recorder.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return hwi;
  }
  void Queue(HWAVEIN hwi, Buffer& b) {
    ASSERT_EQ(waveInPrepareHeader(hwi, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(hwi, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b.header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
  }
  DWORD Position(HWAVEIN hwi, UINT type) {
    MMTIME t;
    t.wType = type;
    EXPECT_EQ(waveInGetPosition(hwi, &t, sizeof(t)), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, type);
    return t.u.cb;
  }

  Recorder recorder;
};

TEST_F(WaveInTest, SixteenBitStereoIsTheSignalInQueueOrder) {
  WAVEFORMATEX f = Pcm(44100, 16, 2);
  HWAVEIN hwi = Open(0, f);
  ASSERT_TRUE(recorder.WaitFor(WIM_OPEN, 1));
  std::vector<std::unique_ptr<Buffer>> buffers;
  // 1000 bytes = 250 frames: the back-end's pieces straddle the headers.
  for (int i = 0; i < 3; ++i) {
    buffers.push_back(std::make_unique<Buffer>(1000));
    Queue(hwi, *buffers.back());
  }
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(20);  // 882 frames: three headers full, the rest dropped
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 3));
  std::vector<WAVEHDR*> done = recorder.Headers(WIM_DATA);
  ASSERT_EQ(done.size(), 3u);
  std::vector<std::uint8_t> expected = Signal(440, -6, -12, f, 0, 750);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(done[i], &buffers[i]->header);
    EXPECT_EQ(done[i]->dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(done[i]->dwBytesRecorded, 1000u);
    std::vector<std::uint8_t> part(expected.begin() + i * 1000, expected.begin() + (i + 1) * 1000);
    EXPECT_EQ(Bytes(*done[i]), part) << "header " << i;
  }
  EXPECT_EQ(Position(hwi, TIME_BYTES), 882u * 4);
  EXPECT_EQ(Position(hwi, TIME_SAMPLES), 882u);
  EXPECT_EQ(Position(hwi, TIME_MS), 20u);

  // A header queued now gets the signal from where the clock is, not from
  // where the dropped data began.
  Queue(hwi, *buffers[0]);
  VirtualClock::Advance(10);  // frames 882 ... 1322
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 4));
  EXPECT_EQ(Bytes(buffers[0]->header), Signal(440, -6, -12, f, 882, 250));

  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(Position(hwi, TIME_BYTES), 0u);
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  // Every notification, the close included, is out when waveInClose returns.
  std::vector<Event> events = recorder.Snapshot();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().msg, WIM_OPEN);
  EXPECT_EQ(events.back().msg, WIM_CLOSE);
  for (const Event& e : events) {
    EXPECT_EQ(e.handle, hwi);
    EXPECT_NE(e.thread, std::this_thread::get_id());
  }
  VirtualClock::Advance(100);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(recorder.Snapshot().size(), events.size());
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveInTest, EightBitMonoIsTheLeftSignal) {
  WAVEFORMATEX f = Pcm(11025, 8, 1);
  HWAVEIN hwi = Open(2, f);
  Buffer b(777);
  Queue(hwi, b);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(100);
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 1));
  EXPECT_EQ(Bytes(b.header), Signal(1000, -3, -20, f, 0, 777));
  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
}

TEST_F(WaveInTest, StopReturnsThePartialHeaderResetReturnsAll) {
  WAVEFORMATEX f = Pcm(8000, 16, 1);  // 16 bytes per ms
  HWAVEIN hwi = Open(1, f);
  Buffer b0(400), b1(400), b2(400), b3(400);
  for (Buffer* b : {&b0, &b1, &b2, &b3}) Queue(hwi, *b);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(30);  // 480 bytes
  ASSERT_EQ(waveInStop(hwi), MMSYSERR_NOERROR);
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 2));
  EXPECT_EQ(recorder.Headers(WIM_DATA), (std::vector<WAVEHDR*>{&b0.header, &b1.header}));
  EXPECT_EQ(b1.header.dwBytesRecorded, 80u);
  EXPECT_EQ(b1.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(b1.data[i], 0);  // silence
  EXPECT_EQ(b2.header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
  // Stopped: nothing is recorded; a second stop returns nothing (b2 is empty).
  VirtualClock::Advance(30);
  ASSERT_EQ(waveInStop(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(Position(hwi, TIME_BYTES), 480u);
  // Headers are still queued: no close, no unprepare.
  EXPECT_EQ(waveInClose(hwi), WAVERR_STILLRECORDING);
  EXPECT_EQ(waveInUnprepareHeader(hwi, &b2.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInAddBuffer(hwi, &b2.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);

  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(10);  // 160 bytes into b2
  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 4));
  EXPECT_EQ(recorder.Headers(WIM_DATA),
            (std::vector<WAVEHDR*>{&b0.header, &b1.header, &b2.header, &b3.header}));
  EXPECT_EQ(b2.header.dwBytesRecorded, 160u);
  EXPECT_EQ(b3.header.dwBytesRecorded, 0u);
  EXPECT_EQ(b3.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  VirtualClock::Advance(100);
  for (Buffer* b : {&b0, &b1, &b2, &b3}) {
    EXPECT_EQ(waveInUnprepareHeader(hwi, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b->header.dwFlags, WHDR_DONE);
  }
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(WIM_DATA), 4u);
  EXPECT_EQ(recorder.Count(WIM_CLOSE), 1u);
}

TEST_F(WaveInTest, PositionCountsWhatTheDeviceStillHolds) {
  platform::VirtualDeviceSet set;
  set.inputs.push_back({"Late", true, 440, -6, -6, 25});
  platform::UseAudioBackend(std::make_shared<platform::VirtualAudioBackend>(set));
  WAVEFORMATEX f = Pcm(8000, 16, 1);  // 16 bytes per ms
  HWAVEIN hwi = Open(0, f);
  Buffer b0(400), b1(400);
  for (Buffer* b : {&b0, &b1}) Queue(hwi, *b);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  // The first question asks the back-end to tell what it holds from now on.
  EXPECT_EQ(Position(hwi, TIME_BYTES), 0u);
  // Nothing delivered yet, but 10 ms recorded.
  VirtualClock::Advance(10);
  EXPECT_EQ(b0.header.dwBytesRecorded, 0u);
  EXPECT_EQ(Position(hwi, TIME_BYTES), 160u);
  // 15 ms delivered, 25 ms on their way: the position is the device's.
  VirtualClock::Advance(30);
  EXPECT_EQ(b0.header.dwBytesRecorded, 240u);
  EXPECT_EQ(Position(hwi, TIME_MS), 40u);
  // What is delivered late is still the signal from its first frame.
  VirtualClock::Advance(20);
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 1));
  EXPECT_EQ(Bytes(b0.header), Signal(440, -6, -6, f, 0, 200));
  EXPECT_EQ(Position(hwi, TIME_BYTES), 960u);
  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(Position(hwi, TIME_BYTES), 0u);
  for (Buffer* b : {&b0, &b1}) {
    EXPECT_EQ(waveInUnprepareHeader(hwi, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
}

TEST_F(WaveInTest, QueryBadFormatsAndBadCalls) {
  WAVEFORMATEX good = Pcm(44100, 16, 2);
  EXPECT_EQ(waveInOpen(nullptr, 0, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  for (WAVEFORMATEX ok : {Pcm(4000, 8, 1), Pcm(100000, 16, 8), Pcm(22050, 8, 4)}) {
    EXPECT_EQ(waveInOpen(nullptr, 2, &ok, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
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
    EXPECT_EQ(waveInOpen(nullptr, 0, &bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    HWAVEIN hwi = nullptr;
    EXPECT_EQ(waveInOpen(&hwi, 0, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(hwi, nullptr);
  }
  HWAVEIN hwi = nullptr;
  EXPECT_EQ(waveInOpen(&hwi, 3, &good, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(&hwi, 3, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(&hwi, 0, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(nullptr, 0, &good, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(&hwi, 0, &good, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(&hwi, 0, &good, 0, 0, 0x80000000u), MMSYSERR_INVALFLAG);
  EXPECT_EQ(hwi, nullptr);

  // Bad handles: never opened, and closed.
  auto* bogus = reinterpret_cast<HWAVEIN>(std::uintptr_t{12345});
  Buffer b(64);
  MMTIME t;
  UINT id = 0;
  for (HWAVEIN h : {static_cast<HWAVEIN>(nullptr), bogus}) {
    EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStop(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInReset(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInPrepareHeader(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInUnprepareHeader(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInAddBuffer(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInGetPosition(h, &t, sizeof(t)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInGetID(h, &id), MMSYSERR_INVALHANDLE);
  }

  hwi = Open(WAVE_MAPPER, good);
  ASSERT_EQ(waveInGetID(hwi, &id), MMSYSERR_NOERROR);
  EXPECT_EQ(id, WAVE_MAPPER);
  EXPECT_EQ(waveInAddBuffer(hwi, &b.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  EXPECT_EQ(waveInPrepareHeader(hwi, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInPrepareHeader(hwi, &b.header, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInGetPosition(hwi, nullptr, sizeof(t)), MMSYSERR_INVALPARAM);
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(hwi), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInGetID(hwi, &id), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveInTest, MapperOpensTheDefaultInput) {
  WAVEFORMATEX f = Pcm(8000, 16, 2);
  HWAVEIN hwi = Open(WAVE_MAPPER, f);
  Buffer b(400);
  Queue(hwi, b);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(100);
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 1));
  EXPECT_EQ(Bytes(b.header), Signal(440, -6, -12, f, 0, 100));
  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
}

TEST_F(WaveInTest, DeviceThatGoesAwayReturnsItsHeadersAndRefusesMore) {
  WAVEFORMATEX f = Pcm(8000, 8, 1);
  HWAVEIN hwi = Open(0, f);
  Buffer b0(100), b1(100);
  Queue(hwi, b0);
  Queue(hwi, b1);
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(5);  // 40 bytes
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  backend->RemoveInput("in:0");
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 2));
  EXPECT_EQ(recorder.Headers(WIM_DATA), (std::vector<WAVEHDR*>{&b0.header, &b1.header}));
  EXPECT_EQ(b0.header.dwBytesRecorded, 40u);
  EXPECT_EQ(b0.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(b1.header.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(waveInAddBuffer(hwi, &b0.header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_NODRIVER);
  MMTIME t;
  EXPECT_EQ(waveInGetPosition(hwi, &t, sizeof(t)), MMSYSERR_NODRIVER);
  // The owner can still release everything.
  EXPECT_EQ(waveInStop(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInUnprepareHeader(hwi, &b0.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Snapshot().back().msg, WIM_CLOSE);
  // The mapper now opens the next input, which is silent.
  HWAVEIN next = Open(WAVE_MAPPER, f);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(waveInClose(next), MMSYSERR_NOERROR);
}

TEST_F(WaveInTest, CloseFromInsideTheCallbackDeliversEverythingFirst) {
  WAVEFORMATEX f = Pcm(8000, 16, 1);
  HWAVEIN hwi = Open(0, f);
  Buffer b0(160), b1(160);
  Queue(hwi, b0);
  Queue(hwi, b1);
  std::atomic<MMRESULT> close_result{999};
  std::atomic<bool> reacted{false};
  recorder.SetReact([&](const Event& e) {
    if (e.msg == WIM_DATA && e.header == &b0.header) {
      waveInReset(e.handle);
      close_result = waveInClose(e.handle);
      reacted = true;  // the last touch of this test's objects from that thread
    }
  });
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
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
  EXPECT_EQ(events[3].msg, WIM_CLOSE);
  EXPECT_EQ(waveInStart(hwi), MMSYSERR_INVALHANDLE);
}

// A callback that calls into the device while another thread closes it
// neither deadlocks nor reaches a closed device.
TEST_F(WaveInTest, CallbackCallingStopWhileTheDeviceCloses) {
  WAVEFORMATEX f = Pcm(8000, 16, 1);
  HWAVEIN hwi = Open(0, f);
  Buffer b(160);
  Queue(hwi, b);
  std::atomic<MMRESULT> stop_result{999};
  recorder.SetReact([&](const Event& e) {
    if (e.msg != WIM_DATA) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // close is under way
    stop_result = waveInStop(e.handle);
  });
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  VirtualClock::Advance(10);
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 1));
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  EXPECT_EQ(stop_result.load(), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(recorder.Snapshot().back().msg, WIM_CLOSE);
}

// The real-time clock with a callback that puts every header back at once,
// the way a capture component keeps its ring queued; then a reset and close
// from another thread while that goes on.
TEST(WaveInRealTime, RingOfHeadersKeepsRecordingAndStopsCleanly) {
  std::string reason;
  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=Tone@440:-6:-12", &reason)) << reason;
  ASSERT_FALSE(VirtualClock::IsManual());
  WAVEFORMATEX f = Pcm(44100, 16, 2);
  Recorder recorder;
  std::atomic<bool> stopping{false};
  std::mutex data_mutex;
  std::vector<std::uint8_t> recorded;
  recorder.SetReact([&](const Event& e) {
    if (e.msg != WIM_DATA) return;
    {
      std::lock_guard<std::mutex> lock(data_mutex);
      recorded.insert(recorded.end(), e.header->lpData,
                      e.header->lpData + e.header->dwBytesRecorded);
    }
    if (!stopping) waveInAddBuffer(e.handle, e.header, sizeof(WAVEHDR));
  });
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, 0, &f, recorder.Function(), recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::vector<std::unique_ptr<Buffer>> ring;
  for (int i = 0; i < 10; ++i) {
    ring.push_back(std::make_unique<Buffer>(2048));
    ASSERT_EQ(waveInPrepareHeader(hwi, &ring.back()->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(hwi, &ring.back()->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  // 30 headers is about 0.35 s of sound; more than the ring, so every one was re-queued.
  ASSERT_TRUE(recorder.WaitFor(WIM_DATA, 30));
  stopping = true;
  MMRESULT closed = WAVERR_STILLRECORDING;
  for (int attempt = 0; attempt < 100 && closed == WAVERR_STILLRECORDING; ++attempt) {
    ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
    closed = waveInClose(hwi);
  }
  ASSERT_EQ(closed, MMSYSERR_NOERROR);
  // Nothing was lost or reordered while headers went round: the whole
  // recording is the signal without a gap.
  std::lock_guard<std::mutex> lock(data_mutex);
  ASSERT_GE(recorded.size(), 30u * 2048);
  std::vector<std::uint8_t> expected = Signal(440, -6, -12, f, 0, recorded.size() / 4);
  EXPECT_TRUE(recorded == expected);
}

// Window notifications are posted and arrive on the GUI thread.
TEST_F(WaveInTest, WindowNotificationsArriveOnTheGuiThread) {
  platform::EnsureToolkit();
  std::vector<TMessage> messages;
  std::vector<std::thread::id> threads;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    messages.push_back(m);
    threads.push_back(std::this_thread::get_id());
  });
  auto count = [&](UINT msg) {
    std::size_t n = 0;
    for (const TMessage& m : messages) n += m.Msg == msg;
    return n;
  };
  auto pump_until = [&](UINT msg, std::size_t n) {
    auto deadline = std::chrono::steady_clock::now() + seconds(20);
    while (count(msg) < n && std::chrono::steady_clock::now() < deadline) WaitAndPump(10, true);
    return count(msg) >= n;
  };
  WAVEFORMATEX f = Pcm(8000, 16, 2);
  HWAVEIN hwi = nullptr;
  ASSERT_EQ(waveInOpen(&hwi, 0, &f, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  ASSERT_TRUE(pump_until(MM_WIM_OPEN, 1));
  Buffer b0(320), b1(320), b2(320);
  for (Buffer* b : {&b0, &b1, &b2}) {
    ASSERT_EQ(waveInPrepareHeader(hwi, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(hwi, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
  // Two headers are filled and wait for the window's next frame; the reset
  // returns the third, half filled, at once: it still comes after them.
  VirtualClock::Advance(25);
  ASSERT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
  ASSERT_TRUE(pump_until(MM_WIM_DATA, 3));
  ASSERT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
  ASSERT_TRUE(pump_until(MM_WIM_CLOSE, 1));
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0].Msg, MM_WIM_OPEN);
  EXPECT_EQ(messages[1].LParam, reinterpret_cast<LPARAM>(&b0.header));
  EXPECT_EQ(messages[2].LParam, reinterpret_cast<LPARAM>(&b1.header));
  EXPECT_EQ(messages[3].LParam, reinterpret_cast<LPARAM>(&b2.header));
  EXPECT_EQ(b2.header.dwBytesRecorded, 160u);
  EXPECT_EQ(messages[4].Msg, MM_WIM_CLOSE);
  for (const TMessage& m : messages) EXPECT_EQ(m.WParam, reinterpret_cast<WPARAM>(hwi));
  for (std::thread::id id : threads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(Bytes(b1.header), Signal(440, -6, -12, f, 80, 80));
  DeallocateHWnd(wnd);
}

}  // namespace
