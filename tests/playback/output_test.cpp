// What the wave output and the DirectSound output have in common, tested on
// both: playing a source to its end, requeueing after a seek, looping, a stop
// from a buffer handler, a device that goes away, and the worker thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "playback/ds_wave_out.h"
#include "playback/wave_out.h"
#include "tests/playback/test_chain.h"

namespace {

using playtest::Concat;
using playtest::Pattern;
using playtest::TBoxes;
using playtest::TClockDriver;
using playtest::TEvents;
using playtest::TSink;
using playtest::TTestSource;

template <class T>
struct TOutputTraits;

template <>
struct TOutputTraits<TMMWaveOut> {
  static constexpr TMMDeviceId kHeadset = 1;
  // The device hands buffers back by the virtual clock alone.
  static constexpr unsigned kPumpMs = 2;
  // Heard after the data: nothing (the device stops at its end).
  static constexpr bool kSilenceAfter = false;
  static constexpr bool kDSound = false;
  // A reset refused for a device that went away.
  static constexpr std::uint32_t kResetRefused = MMSYSERR_NODRIVER;
};

template <>
struct TOutputTraits<TMMDSWaveOut> {
  static constexpr TMMDeviceId kHeadset = 2;  // after the primary device and Speakers
  // The feed runs on the timer thread in real time: the clock keeps its pace.
  static constexpr unsigned kPumpMs = 10;
  // The looping buffer plays silence from the end of the data until it stops.
  static constexpr bool kSilenceAfter = true;
  static constexpr bool kDSound = true;
  static constexpr std::uint32_t kResetRefused = kDSFailed;
};

template <class T>
class OutputTest : public ::testing::Test {
 protected:
  using Traits = TOutputTraits<T>;

  void SetUp() override { ASSERT_TRUE(outputs.ok); }

  // source -> out -> sink, 16-bit stereo 44100 Hz.
  void Wire(TTestSource& source, T& out, TSink& sink, std::size_t bytes) {
    out.SetInput(&source);
    out.SetOutput(&sink);
    data = Pattern(bytes);
    source.SetData(data, playtest::Stereo16());
  }
  std::vector<std::uint8_t> Played(const std::string& id) { return outputs.Played(id); }
  // What the device played is `expected`, followed by silence where the
  // output plays some after the data.
  void ExpectHeard(const std::string& id, const std::vector<std::uint8_t>& expected) {
    const std::vector<std::uint8_t> heard = Played(id);
    ASSERT_GE(heard.size(), expected.size());
    const auto [diff, unused] = std::mismatch(expected.begin(), expected.end(), heard.begin());
    EXPECT_EQ(diff, expected.end()) << "first difference at byte " << diff - expected.begin()
                                    << " of " << expected.size() << ", heard " << heard.size();
    const auto after = heard.begin() + static_cast<std::ptrdiff_t>(expected.size());
    if (!Traits::kSilenceAfter) {
      EXPECT_EQ(after, heard.end()) << "heard " << heard.size() << " of " << expected.size();
      return;
    }
    const auto noise = std::find_if(after, heard.end(), [](std::uint8_t b) { return b != 0; });
    EXPECT_EQ(noise, heard.end()) << "sound at byte " << noise - heard.begin() << " of "
                                  << heard.size() << " after " << expected.size();
  }

  playtest::TVirtualOutputs outputs{Traits::kPumpMs};
  std::vector<std::uint8_t> data;
};

using Outputs = ::testing::Types<TMMWaveOut, TMMDSWaveOut>;
TYPED_TEST_SUITE(OutputTest, Outputs);

TYPED_TEST(OutputTest, SourcePlaysToItsEndAndTheOutputStopsByItself) {
  TTestSource source(nullptr);
  TypeParam out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  this->Wire(source, out, sink, 176400);  // one second
  ASSERT_NE(out.GetPWaveFormat(), nullptr);
  EXPECT_EQ(sink.GetPWaveFormat()->nAvgBytesPerSec, 176400u);
  out.SetBufferSize(8196);
  out.SetNumBuffers(10);

  out.Start();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_EQ(events.open, 1);
  EXPECT_EQ(events.start, 1);
  // The chain was opened and started, and the source got the output's buffer size.
  EXPECT_TRUE(source.IsOpened() && source.IsStarted() && sink.IsStarted());
  EXPECT_EQ(source.GetBufferSize(), 8196);
  EXPECT_EQ(source.loads, 10);  // the ring is full
  EXPECT_EQ(out.GetPosition(), 0);

  // Positions follow what has been heard, in every unit.
  TClockDriver::RunFor(100);
  EXPECT_EQ(out.GetPosition(), 17640);
  out.SetTimeFormat(tfSample);
  EXPECT_EQ(out.GetPosition(), 4410);
  out.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(out.GetPosition(), 100);
  EXPECT_EQ(this->Played("out:0").size(), 17640u);

  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  TClockDriver::RunFor(200);
  EXPECT_EQ(events.stop, 1);
  EXPECT_EQ(events.error, 0);
  // Every byte was heard once, in order, and went on down the chain.
  this->ExpectHeard("out:0", this->data);
  EXPECT_TRUE(this->Played("out:1").empty());
  EXPECT_EQ(sink.Bytes(), this->data);
  EXPECT_FALSE(sink.off_gui);
  if constexpr (std::is_same_v<TypeParam, TMMWaveOut>) {
    EXPECT_EQ(out.StopPosition(), 1000);
  }
  // It stopped but stays open: its owner decides about closing.
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  EXPECT_FALSE(sink.IsStarted());
  EXPECT_EQ(source.stopped, 1);
  EXPECT_EQ(events.close, 0);

  out.Close();
  out.Close();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.close, 1);
  EXPECT_FALSE(source.IsOpened());
  EXPECT_EQ(out.GetPosition(), 0);
}

TYPED_TEST(OutputTest, RequeueAfterASeekPlaysOnFromTheNewPosition) {
  TTestSource source(nullptr);
  TypeParam out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  this->Wire(source, out, sink, 88200);  // half a second
  out.Start();
  TClockDriver::RunFor(120);
  out.Pause();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted | dsPaused));
  EXPECT_TRUE(source.IsPaused() && sink.IsPaused());  // the walk reaches both ends
  const std::vector<std::uint8_t> before = this->Played("out:0");
  ASSERT_EQ(before.size(), 120u * 176400 / 1000);
  TClockDriver::RunFor(50);
  EXPECT_EQ(this->Played("out:0").size(), before.size());  // paused at once

  source.SetPosition(60000);
  out.Requeue();
  EXPECT_EQ(source.resets, 1);
  EXPECT_EQ(out.GetPosition(), 0);
  TClockDriver::RunFor(50);
  EXPECT_EQ(this->Played("out:0").size(), before.size());  // still paused
  out.Restart();
  EXPECT_EQ(events.restart, 1);
  EXPECT_FALSE(source.IsPaused());
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  const std::vector<std::uint8_t> rest(this->data.begin() + 60000, this->data.end());
  this->ExpectHeard("out:0", Concat({before, rest}));
  EXPECT_EQ(events.error, 0);
  EXPECT_EQ(events.stop, 1);
}

TYPED_TEST(OutputTest, LoopingWithACountRestartsThePositionAtEachLoopMark) {
  // A source longer than the ring, and one that fits into it whole.
  for (std::size_t bytes : {30000u, 6000u}) {
    SCOPED_TRACE(bytes);
    this->outputs.backend->ClearPlayed("out:0");
    TTestSource source(nullptr);
    TypeParam out(nullptr);
    TSink sink(nullptr);
    TEvents events(out);
    this->Wire(source, out, sink, bytes);
    const std::int64_t pass = static_cast<std::int64_t>(bytes / 4);
    out.SetTimeFormat(tfSample);
    out.SetLooping(true);
    out.SetLoopCount(2);
    std::vector<std::int64_t> at_loop;
    std::int64_t highest = 0;
    out.OnLooping = [&](TComponent*) { at_loop.push_back(out.GetPosition()); };
    out.OnBufferReady = [&](TComponent*, PWaveHdr) {
      highest = std::max(highest, out.GetPosition());
    };
    out.Start();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    // The data three times: once, and two loops.
    const std::vector<std::uint8_t> thrice = Concat({this->data, this->data, this->data});
    this->ExpectHeard("out:0", thrice);
    EXPECT_EQ(sink.Bytes(), thrice);
    // Each loop mark came back once, as the buffer that carried it was
    // heard: the position starts again from 0 there, so it never gets much
    // past one pass (a step or two of the clock).
    EXPECT_EQ(at_loop, (std::vector<std::int64_t>{0, 0}));
    EXPECT_LT(highest, pass + 2 * 441);
    EXPECT_GT(highest, pass / 2);
    EXPECT_EQ(events.stop, 1);
    // The wave output tells the chain too.
    EXPECT_EQ(source.looped, (std::is_same_v<TypeParam, TMMWaveOut> ? 2 : 0));
  }
}

// At each buffer's done notice the block the displays are handed (the one
// after it while there is one, else the buffer itself) is the one the device
// plays at that moment, and the position what it has played, also on an
// output that holds 200 ms of sound itself.
TYPED_TEST(OutputTest, DisplaysAreHandedTheBufferNowHeard) {
  constexpr std::size_t kBlock = 8196;
  constexpr std::size_t kBlocks = 14;
  for (unsigned latency_ms : {0u, 200u}) {
    SCOPED_TRACE(latency_ms);
    this->outputs.backend->SetOutputLatency("out:0", std::chrono::milliseconds(latency_ms));
    this->outputs.backend->ClearPlayed("out:0");
    TTestSource source(nullptr);
    TypeParam out(nullptr);
    TSink sink(nullptr);
    TEvents events(out);
    out.SetInput(&source);
    out.SetOutput(&sink);
    // Every 16-bit sample of block k holds k + 1: what is heard names its block.
    std::vector<std::uint8_t> blocks(kBlock * kBlocks);
    for (std::size_t i = 0; i < blocks.size(); i += 2)
      blocks[i] = static_cast<std::uint8_t>(i / kBlock + 1);
    source.SetData(blocks, playtest::Stereo16());
    out.SetBufferSize(static_cast<std::int32_t>(kBlock));
    out.SetNumBuffers(10);
    int checked = 0;
    std::vector<std::string> wrong;
    out.OnBufferReady = [&](TComponent*, PWaveHdr h) {
      const PWaveHdr shown = h->lpNextBuffer && h->dwBytesRecorded > 0 ? h->lpNextBuffer : h;
      if (shown == h) return;  // the last buffer: nothing plays after it
      const std::vector<std::uint8_t> taken = this->Played("out:0");
      const std::size_t now = this->outputs.backend->Heard("out:0");
      if (now < 4 || now > taken.size()) return;
      const std::uint8_t heard = taken[now - 4];
      if (heard == 0) return;  // silence before the data
      const std::uint8_t handed = static_cast<std::uint8_t>(shown->lpData[0]);
      ++checked;
      // The position is what was heard too, within a step of the clock.
      const std::int64_t position = out.GetPosition();
      if (std::llabs(position - static_cast<std::int64_t>(now)) > 1764) {
        wrong.push_back("position " + std::to_string(position) + " while " + std::to_string(now) +
                        " bytes were heard");
      }
      // Handled within a step of the clock of its notice: the block heard
      // then, or the one it has just begun when the last sample was of the one before.
      if (handed != heard && handed != heard + 1) {
        wrong.push_back("handed block " + std::to_string(handed) + " while block " +
                        std::to_string(heard) + " was heard");
      }
    };
    out.Start();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
    EXPECT_EQ(events.error, 0);
    EXPECT_GE(checked, static_cast<int>(kBlocks) - 3);
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
    out.Close();
  }
  this->outputs.backend->SetOutputLatency("out:0", std::chrono::milliseconds(0));
}

TYPED_TEST(OutputTest, StopFromABufferHandlerFinishesAfterTheHandler) {
  TTestSource source(nullptr);
  TypeParam out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  this->Wire(source, out, sink, 176400);
  int buffers = 0;
  bool inside = false;
  int stops_inside = 0;
  out.OnStop = [&](TComponent*) {
    ++events.stop;
    if (inside) ++stops_inside;
  };
  out.OnBufferReady = [&](TComponent*, PWaveHdr) {
    inside = true;
    if (++buffers == 3) {
      out.Stop();
      // Not finished yet: the handler is still running.
      EXPECT_TRUE(out.DeviceState() & dsStarted);
    }
    inside = false;
  };
  out.Start();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  EXPECT_EQ(stops_inside, 0);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  const std::size_t heard = this->Played("out:0").size();
  TClockDriver::RunFor(200);
  EXPECT_EQ(this->Played("out:0").size(), heard);
  EXPECT_EQ(buffers, 3);
  EXPECT_EQ(events.stop, 1);

  // It starts again where the source stands, and closes from a handler too.
  const std::size_t resume = source.Position();
  out.OnBufferReady = [&](TComponent*, PWaveHdr) { out.Close(); };
  out.Start();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.close > 0; }));
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.stop, 2);
  const std::vector<std::uint8_t> played = this->Played("out:0");
  ASSERT_GT(played.size(), heard);
  EXPECT_TRUE(std::equal(played.begin() + static_cast<std::ptrdiff_t>(heard), played.end(),
                         this->data.begin() + static_cast<std::ptrdiff_t>(resume)));
}

TYPED_TEST(OutputTest, DeviceThatGoesAwayEndsTheRunWithTheSystemMessage) {
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode);
    TTestSource source(nullptr);
    TypeParam out(nullptr);
    TSink sink(nullptr);
    TEvents events(out);
    TBoxes boxes;
    this->Wire(source, out, sink, 176400);
    out.SetCallBackMode(mode);
    out.SetDeviceID(TOutputTraits<TypeParam>::kHeadset);
    out.Start();
    TClockDriver::RunFor(100);
    this->outputs.backend->RemoveOutput("out:1");
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return !boxes.Texts().empty() && events.close > 0; }));
    EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_TRUE(playtest::ShowsDeviceLost(boxes.Texts()[0], TOutputTraits<TypeParam>::kDSound))
        << boxes.Texts()[0];
    EXPECT_GE(events.error, 1);
    EXPECT_EQ(events.stop, 1);
    EXPECT_EQ(events.close, 1);
    EXPECT_FALSE(source.IsOpened());
    EXPECT_EQ(sink.off_gui, mode == cmThread);
    // With the device back the component goes on working.
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset"));
    this->outputs.Attach();
    source.SetPosition(0);
    out.Start();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop == 2; }));
    this->ExpectHeard("out:1", this->data);
    out.Close();
  }
}

// A source that keeps saying more follows, and has nothing left to give
// once its data are out.
class TLyingSource : public TTestSource {
 public:
  using TTestSource::TTestSource;
  void BufferLoad(PWaveHdr h, bool& more) override {
    TTestSource::BufferLoad(h, more);
    more = true;
  }
};

TYPED_TEST(OutputTest, ASourceThatFailsToFillEndsTheRunOnTheHandlersThread) {
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode);
    TLyingSource source(nullptr);
    // The sink outlives the output, whose worker may still be telling the
    // chain of the close when the test ends.
    TSink sink(nullptr);
    TypeParam out(nullptr);
    TEvents events(out);
    TBoxes boxes;
    this->Wire(source, out, sink, 60000);
    out.SetBufferSize(8196);
    out.SetNumBuffers(4);
    out.SetCallBackMode(mode);
    std::atomic<bool> closed_on_gui{false};
    out.OnClose = [&](TComponent*) {
      closed_on_gui = platform::IsGuiThread();
      ++events.close;
    };
    out.Start();
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.close > 0; }));
    TClockDriver::RunFor(100);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_TRUE(boxes.Texts()[0].ends_with("|Error filling wave buffer")) << boxes.Texts()[0];
    EXPECT_GE(events.error, 1);
    EXPECT_EQ(events.stop, 1);
    EXPECT_EQ(events.close, 1);
    // The close runs where the buffer was handled: on the worker thread in
    // thread mode.
    EXPECT_EQ(closed_on_gui, mode == cmWindow);
    EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    EXPECT_FALSE(source.IsOpened());
    // It played what it was given until the failure dropped the queue.
    const std::vector<std::uint8_t> heard = this->Played("out:0");
    ASSERT_GE(heard.size(), 8196u);
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + 8196, this->data.begin()));
    this->outputs.backend->ClearPlayed("out:0");
  }
}

TYPED_TEST(OutputTest, ErrorHandlersRunWithoutTheDeviceLock) {
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:out=Speakers|Headset"));
    this->outputs.Attach();
    TTestSource source(nullptr);
    // The sink outlives the output, whose worker may still be telling the
    // chain of the close when the test ends.
    TSink sink(nullptr);
    TypeParam out(nullptr);
    TBoxes boxes;
    this->Wire(source, out, sink, 176400);
    out.SetCallBackMode(mode);
    out.SetDeviceID(TOutputTraits<TypeParam>::kHeadset);
    // Each OnError asks another thread for the position, which takes the
    // device's lock: it must answer while the handler waits for it. The
    // thread runs before the first error, as a new thread may take seconds to
    // start on a loaded machine (seen under Wine).
    std::atomic<int> errors{0}, blocked{0}, asked{0}, answered{0};
    std::atomic<bool> asking{false}, done{false};
    std::thread answerer([&] {
      for (int seen = 0; !done;) {
        if (asked == seen) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          continue;
        }
        try {
          out.GetPosition();
        } catch (const std::exception&) {
          // The device is gone: an error is an answer too.
        }
        answered = ++seen;
      }
    });
    // Ends the thread however the test ends.
    const std::shared_ptr<void> stop_answerer(nullptr, [&](void*) {
      done = true;
      answerer.join();
    });
    out.OnError = [&](TComponent*) {
      ++errors;
      // The other thread's own error is not asked about again.
      if (asking.exchange(true)) return;
      const int question = ++asked;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (answered < question && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (answered < question) ++blocked;
      asking = false;
    };
    // The close is over (also on the worker thread) once OnClose has fired.
    std::atomic<int> closes{0};
    out.OnClose = [&](TComponent*) { ++closes; };
    out.Start();
    TClockDriver::RunFor(100);
    this->outputs.backend->RemoveOutput("out:1");
    // Reading the position of the lost device fails under the lock.
    try {
      out.GetPosition();
    } catch (const std::exception&) {
    }
    ASSERT_TRUE(TClockDriver::RunUntil([&] { return closes > 0; }));
    EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    TClockDriver::RunFor(100);
    EXPECT_GE(errors, 1);
    EXPECT_EQ(blocked, 0);
  }
}

// An output over a driver that refuses to reset a device once it has gone
// away (the stand-ins reset it; a driver elsewhere need not), so that its stop
// fails.
template <class T>
class TResetRefusedWhenLost : public T {
 public:
  using T::T;
  std::atomic<bool> lost{false};

 protected:
  std::uint32_t DeviceReset() override {
    const std::uint32_t result = T::DeviceReset();
    return lost ? TOutputTraits<T>::kResetRefused : result;
  }
};

TYPED_TEST(OutputTest, ACloseAfterAFailedStopWaitsForTheWorkersHandlerBeforeFreeingTheRing) {
  TTestSource source(nullptr);
  TSink sink(nullptr);
  TBoxes boxes;
  TResetRefusedWhenLost<TypeParam> out(nullptr);
  this->Wire(source, out, sink, 176400 * 4);
  out.SetCallBackMode(cmThread);
  out.SetDeviceID(TOutputTraits<TypeParam>::kHeadset);
  // One handler on the worker thread is held while the device goes and the
  // stop fails; it lets go once the chain hears of the close (which must not
  // come while the handler runs), or after a second. Then it reads the whole
  // buffer it was handed: freed memory for the sanitizers if the ring was
  // released under it.
  std::atomic<bool> hold{false}, held{false}, stopping{false}, handled{false};
  std::atomic<bool> closed_under_handler{false};
  std::atomic<unsigned> sum{0};
  out.OnBufferReady = [&](TComponent*, PWaveHdr h) {
    if (!hold.exchange(false)) return;
    held = true;
    const auto until = [](auto cond, std::chrono::milliseconds limit) {
      const auto deadline = std::chrono::steady_clock::now() + limit;
      while (!cond() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    until([&] { return stopping.load(); }, std::chrono::seconds(30));
    until([&] { return source.closed > 0; }, std::chrono::seconds(1));
    closed_under_handler = source.closed > 0;
    unsigned s = 0;
    for (DWORD i = 0; i < h->dwBufferLength; ++i) s += static_cast<std::uint8_t>(h->lpData[i]);
    sum = s;
    handled = true;
  };
  out.Start();
  TClockDriver::RunFor(100);
  hold = true;
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return held.load(); }));
  this->outputs.backend->RemoveOutput("out:1");
  out.lost = true;
  stopping = true;
  // The failed stop closes the output and goes on to the caller.
  EXPECT_THROW(out.Stop(), std::exception);
  out.Close();
  EXPECT_TRUE(handled);
  EXPECT_FALSE(closed_under_handler) << "the chain heard of the close while a handler ran";
  EXPECT_GT(sum, 0u);
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(source.closed, 1);
  EXPECT_FALSE(source.IsOpened());
  // Let go, the handler meets the lost device where it asks for the position
  // (the wave output: one report from the worker) or leaves without writing.
  TClockDriver::RunFor(100);
  EXPECT_LE(boxes.Texts().size(), 1u);
}

TYPED_TEST(OutputTest, ThreadModeHandlesBuffersOnTheWorkerThread) {
  TTestSource source(nullptr);
  TypeParam out(nullptr);
  TSink sink(nullptr);
  TEvents events(out);
  this->Wire(source, out, sink, 88200);
  out.SetCallBackMode(cmThread);
  out.Start();
  TClockDriver::RunFor(100);
  out.Pause();
  const std::vector<std::uint8_t> before = this->Played("out:0");
  source.SetPosition(40000);
  out.Requeue();
  out.Restart();
  ASSERT_TRUE(TClockDriver::RunUntil([&] { return events.stop > 0; }));
  const std::vector<std::uint8_t> rest(this->data.begin() + 40000, this->data.end());
  this->ExpectHeard("out:0", Concat({before, rest}));
  EXPECT_TRUE(sink.off_gui);
  EXPECT_EQ(events.error, 0);
  out.Close();
  EXPECT_EQ(out.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(events.close, 1);
}

}  // namespace
